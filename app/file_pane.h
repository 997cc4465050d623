// The dump file pane: a volume selector, a directory list and a list of dump
// files, chained so that choosing a volume moves the directory list and the
// directory list drives the file list. The reading of the disk is in plain
// functions that tests reach without a window.
//
// Paths given out are absolute with the platform's separators ("C:\Dumpy",
// "/home/technik/dumpy"); paths taken in may use either separator.
#pragma once

#include <QComboBox>
#include <QIcon>
#include <QListWidget>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

class QFileSystemWatcher;
class QMenu;
class QTimer;

// ---- Paths ----

// `name` appended to `dir` with exactly one separator between them; an
// absolute `name` is not special (it is joined like any other).
QString JoinPath(const QString& dir, const QString& name);
// Absolute, cleaned, with the platform's separators.
QString NormalDirectory(const QString& path);
// The root of a cleaned path ("/", "C:\", "\\server\share\").
QString RootOf(const QString& path);
// `directory` if it can be entered, else the nearest directory above it
// that can; when its whole drive is gone, the first drive that is there
// (the home directory should there be none).
QString NearestEnterableDirectory(const QString& directory);
// True when `path` is `dir` itself or lies below it (both normal).
bool IsSameOrBelow(const QString& path, const QString& dir);

// ---- Directory list contents ----

enum class DirEntryKind { Root, Ancestor, Current, Subdirectory };

struct DirEntry {
  DirEntryKind kind;
  QString name;  // as shown
  QString path;  // full path the entry stands for
  int level;     // indentation: 0 for the root

  bool operator==(const DirEntry&) const = default;
};

// The root, each directory between it and `directory`, `directory` itself
// (the root when `directory` is the root), then its subdirectories sorted by
// name: real directories and links that lead to one, hidden ones left out.
std::vector<DirEntry> ReadDirectoryEntries(const QString& directory);

// The mask of the file list.
QStringList DumpFileMask();
// Names of the regular files (or links to one) in `directory` that match
// *.nvr or *.txt in any letter case, hidden files left out, sorted by name
// ignoring case.
QStringList ReadDumpFileNames(const QString& directory);

// ---- Volumes ----

enum class VolumeKind { Fixed, Removable, Network, CdRom, RamDisk };

// One mounted file system as the system reports it.
struct MountInfo {
  QString rootPath;
  QByteArray fileSystemType;
  QByteArray device;
  QString label;
};

struct Volume {
  QString rootPath;  // normal directory
  QString text;      // as listed
  VolumeKind kind;
};

// The volumes a user would pick, root first: the root file system, removable
// media and other mounts under /media, /run/media and /mnt, and network mounts
// anywhere. Each text is the mount point and, where there is one, the label
// in brackets (for a network mount, its remote name).
std::vector<Volume> SelectVolumes(const std::vector<MountInfo>& mounts);
// The volumes of this machine (drive letters on Windows). On Windows only
// what answers at once: each drive's letter and kind, no label (see
// DriveText and TDriveComboBox).
std::vector<Volume> ReadVolumes();
// A drive's text in the drive box: the letter and colon ("e:") for a
// removable drive; a network drive adds its remote name, or its label in
// brackets where that cannot be had; any other drive adds its label in
// brackets. A label that cannot be read (no medium, no access) leaves the
// letter alone; `label` is empty then.
QString DriveText(const QString& letter, VolumeKind kind, const QString& remoteName,
                  const std::optional<QString>& label);
// The volume holding `path`: the one with the longest matching root, or -1.
int VolumeIndexFor(const std::vector<Volume>& volumes, const QString& path);

// ---- Widgets ----

class TFileListBox;
class TDriveComboBox;

// A list of the pane with a pop-up menu. A right click opens PopupMenu and
// changes no highlight; from the keyboard the Menu key and Shift+F10 open it
// at the highlighted entry. Every command acts on the highlighted entry.
class TPaneListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit TPaneListBox(QWidget* parent = nullptr);

  QMenu* PopupMenu = nullptr;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void PopUpFromKeyboard();
  bool popUpAsked_ = false;
};

// List of the path to the current directory and its subdirectories. A click
// highlights an entry; a double click or Enter makes it the current directory.
// Where the platform's lists open an entry with one click (the style says
// so), one click does.
//
// The current directory is the list's own state: the process's working
// directory is never changed, so no folder shown is held busy. The current
// directory and its parent are watched; changes made on the disk by anyone
// are read after the disk has been quiet for a moment (at most a second
// late during a long copy), so a burst of changes costs one re-read.
class TDirectoryListBox : public TPaneListBox {
  Q_OBJECT

 public:
  explicit TDirectoryListBox(QWidget* parent = nullptr);

  QString Directory() const { return directory_; }
  // Makes `path` (a relative one: below the current directory) the current
  // directory, rebuilds the list and moves the file list. Throws Exception
  // with the system's error text when the directory cannot be entered; the
  // list then stays as it was.
  void SetDirectory(const QString& path);
  // Reads the current directory again and moves the file list to it.
  void Update();
  // Reads both lists again after a change on the disk: the highlights stay
  // on entries that are still there. When the current directory has gone,
  // its nearest existing parent becomes the current directory.
  void Refresh();

  // Full path of entry `index`; of the highlighted entry (empty when none).
  QString ItemPath(int index) const;
  QString HighlightedPath() const;
  const std::vector<DirEntry>& Entries() const { return entries_; }

  void SetFileList(TFileListBox* list) { fileList_ = list; }

 signals:
  void DirectoryChanged(const QString& directory);
  // After each Refresh.
  void Refreshed();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Rebuild();
  void Fill(const QString& highlightPath);
  void Watch();
  void DiskChanged();
  void OpenHighlighted();
  bool OpensOnSingleClick() const;

  QString directory_;
  std::vector<DirEntry> entries_;
  TFileListBox* fileList_ = nullptr;
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer* quiet_ = nullptr;   // restarted by every change
  QTimer* latest_ = nullptr;  // started by the first change of a burst
  // The icons are made once (see TFileListBox).
  QIcon openIcon_;
  QIcon closedIcon_;
};

// List of the dump files of one directory. Selecting a file with the mouse
// (also the one already selected) or the keyboard emits Click.
class TFileListBox : public TPaneListBox {
  Q_OBJECT

 public:
  explicit TFileListBox(QWidget* parent = nullptr);

  QString Directory() const { return directory_; }
  void SetDirectory(const QString& directory);
  // Reads the list's directory again; afterwards no file is highlighted.
  void Update();
  // Reads it again keeping the highlighted file while it is still there.
  void Refresh();

  // The highlighted file's name; its full path (both empty when none).
  QString HighlightedName() const;
  QString FileName() const;
  // Highlights the file of that name; false when it is not listed.
  bool HighlightName(const QString& name);

 signals:
  void Click();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Fill(const QStringList& names);

  QString directory_;
  QStringList names_;
  // Made once, not at each re-read: every icon the style makes afresh is a
  // new key in the toolkit's pixmap cache once drawn, and the cache keeps
  // those until it holds its 10 MiB.
  QIcon fileIcon_;
};

// Drop-down list of the volumes. Choosing one moves the directory list to the
// directory last visited on it (its root the first time); the list follows
// the directory list and is read again whenever it drops down.
class TDriveComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TDriveComboBox(QWidget* parent = nullptr);

  void SetDirList(TDirectoryListBox* list);
  // Root of the selected volume.
  QString Drive() const;
  const std::vector<Volume>& Volumes() const { return volumes_; }
  // Reads the volumes again (ReadVolumes, or the given list for tests).
  void Refresh();
  void SetVolumes(std::vector<Volume> volumes);

  void showPopup() override;

 signals:
  // The drives' names have been asked for and shown.
  void NamesLookedUp();

 private:
  void Follow(const QString& directory);
  void Choose(int index);
  // Asks for the drives' names away from the main thread: a network drive
  // that is not connected can keep the answer for seconds.
  void LookUpNames();
  int lookUp_ = 0;  // the latest look-up; older answers are dropped
  QIcon VolumeIcon(VolumeKind kind);

  std::vector<Volume> volumes_;
  std::map<VolumeKind, QIcon> icons_;  // made once each (see TFileListBox)
  std::map<QString, QString> lastDirectory_;  // volume root -> directory
  QString directory_;
  TDirectoryListBox* dirList_ = nullptr;
};
