#include "app/file_pane.h"

#include "app/message_boxes.h"
#include "rtl/classes.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStorageInfo>
#ifdef _WIN32
#include <QThread>

#include <memory>
#endif
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

namespace {

#ifdef _WIN32
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseSensitive;
#endif

constexpr int kLevelRole = Qt::UserRole + 1;

// A burst of changes on the disk is read once it has been quiet this long,
// and a long one (a copy of many files) at least this often.
constexpr int kQuietMs = 100;
constexpr int kLatestMs = 1000;

std::filesystem::path ToFsPath(const QString& path) {
#ifdef _WIN32
  return std::filesystem::path(path.toStdWString());
#else
  const QByteArray bytes = QFile::encodeName(path);
  return std::filesystem::path(std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
#endif
}

QString ErrorText(const std::error_code& ec) { return QString::fromLocal8Bit(ec.message()); }

// Why `directory` cannot be entered (as a working directory could not be),
// or nothing.
std::error_code CheckEnterable(const QString& directory) {
  std::error_code ec;
  const std::filesystem::path path = ToFsPath(directory);
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec) return ec;
  if (!std::filesystem::is_directory(status)) return std::make_error_code(std::errc::not_a_directory);
#ifndef _WIN32
  if (::access(path.c_str(), X_OK) != 0) return {errno, std::generic_category()};
#endif
  return {};
}

// The directory above `directory`; a root is its own parent (joining ".."
// to a root names no place above it, and a climb would never end).
QString ParentDirectory(const QString& directory) {
  const QString normal = NormalDirectory(directory);
  if (normal.compare(RootOf(normal), kPathCase) == 0) return normal;
  return NormalDirectory(JoinPath(normal, QStringLiteral("..")));
}

// Each entry one step further right than the entry above it.
class IndentDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  static constexpr int kStep = 8;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem indented(option);
    indented.rect.adjust(Indent(index), 0, 0, 0);
    QStyledItemDelegate::paint(painter, indented, index);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += Indent(index);
    return size;
  }

 private:
  static int Indent(const QModelIndex& index) { return index.data(kLevelRole).toInt() * kStep; }
};

bool IsNetworkFileSystem(const QByteArray& type) {
  static const QByteArrayList kTypes = {"nfs",  "nfs4",       "cifs",      "smb3",           "smbfs",
                                        "ncpfs", "afs",       "ceph",      "glusterfs",      "davfs",
                                        "9p",   "fuse.sshfs", "sshfs",     "fuse.glusterfs", "fuse.davfs2",
                                        "fuse.rclone", "fuse.curlftpfs"};
  return kTypes.contains(type);
}

bool IsUserMountPoint(const QString& root) {
  return root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/run/media/")) ||
         root.startsWith(QLatin1String("/mnt/")) || root == QLatin1String("/mnt");
}

}  // namespace

// ---- Paths ----

QString JoinPath(const QString& dir, const QString& name) {
  if (dir.isEmpty()) return name;
  if (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QDir::separator())) return dir + name;
  return dir + QDir::separator() + name;
}

QString NormalDirectory(const QString& path) {
  return QDir::toNativeSeparators(QDir::cleanPath(QDir(QDir::fromNativeSeparators(path)).absolutePath()));
}

QString RootOf(const QString& path) {
  const QString p = QDir::fromNativeSeparators(path);
  QString root = QStringLiteral("/");
  if (p.size() >= 2 && p[1] == QLatin1Char(':') && p[0].isLetter()) {
    root = p.left(2) + QLatin1Char('/');
  } else if (p.startsWith(QLatin1String("//")) && p.size() > 2) {
    const qsizetype server = p.indexOf(QLatin1Char('/'), 2);
    const qsizetype share = server < 0 ? -1 : p.indexOf(QLatin1Char('/'), server + 1);
    root = share < 0 ? p + QLatin1Char('/') : p.left(share + 1);
  }
  return QDir::toNativeSeparators(root);
}

QString NearestEnterableDirectory(const QString& directory) {
  QString up = NormalDirectory(directory);
  while (CheckEnterable(up)) {
    const QString parent = ParentDirectory(up);
    if (parent == up) break;
    up = parent;
  }
  if (!CheckEnterable(up)) return up;
  // Its drive itself is gone (a pulled stick): the first drive still there.
  for (const QFileInfo& drive : QDir::drives()) {
    const QString root = NormalDirectory(drive.absoluteFilePath());
    if (!CheckEnterable(root)) return root;
  }
  return NormalDirectory(QDir::homePath());
}

bool IsSameOrBelow(const QString& path, const QString& dir) {
  const QString p = QDir::fromNativeSeparators(path);
  QString d = QDir::fromNativeSeparators(dir);
  if (p.compare(d, kPathCase) == 0) return true;
  if (!d.endsWith(QLatin1Char('/'))) d += QLatin1Char('/');
  return p.startsWith(d, kPathCase);
}

// ---- Directory list contents ----

std::vector<DirEntry> ReadDirectoryEntries(const QString& directory) {
  const QString current = NormalDirectory(directory);
  const QString root = RootOf(current);
  const QStringList parts =
      QDir::fromNativeSeparators(current.mid(root.size())).split(QLatin1Char('/'), Qt::SkipEmptyParts);

  std::vector<DirEntry> entries;
  entries.push_back({parts.isEmpty() ? DirEntryKind::Current : DirEntryKind::Root, root, root, 0});
  QString path = root;
  for (qsizetype i = 0; i < parts.size(); ++i) {
    path = JoinPath(path, parts[i]);
    const bool last = i + 1 == parts.size();
    entries.push_back({last ? DirEntryKind::Current : DirEntryKind::Ancestor, parts[i], path, static_cast<int>(i + 1)});
  }
  const int subLevel = static_cast<int>(parts.size()) + 1;
  // QDir::Dirs also lets through links to anything but a file (a device, a
  // pipe): only what leads to a directory stays.
  const QFileInfoList subdirs =
      QDir(current).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QFileInfo& info : subdirs) {
    if (info.isDir())
      entries.push_back({DirEntryKind::Subdirectory, info.fileName(), JoinPath(current, info.fileName()), subLevel});
  }
  return entries;
}

QStringList DumpFileMask() { return {QStringLiteral("*.nvr"), QStringLiteral("*.txt")}; }

QStringList ReadDumpFileNames(const QString& directory) {
  QDir dir(directory);
  // Without QDir::CaseSensitive the patterns ignore letter case; without
  // QDir::Hidden and QDir::System hidden files and special files stay out,
  // but links to special files do not: isFile() holds for regular files only.
  QStringList names;
  for (const QFileInfo& info : dir.entryInfoList(DumpFileMask(), QDir::Files, QDir::Name | QDir::IgnoreCase))
    if (info.isFile()) names << info.fileName();
  return names;
}

// ---- Volumes ----

std::vector<Volume> SelectVolumes(const std::vector<MountInfo>& mounts) {
  QString rootLabel;
  std::map<QString, Volume> others;  // by mount point; a later mount hides an earlier one
  for (const MountInfo& m : mounts) {
    const QString root = QDir::cleanPath(m.rootPath);
    if (root == QLatin1String("/")) {
      rootLabel = m.label;
      continue;
    }
    const bool network = IsNetworkFileSystem(m.fileSystemType);
    if (!network && !IsUserMountPoint(root)) {
      others.erase(root);
      continue;
    }
    if (m.fileSystemType == "autofs") continue;  // a trigger, not the volume itself

    Volume v{root, root, VolumeKind::Fixed};
    QString detail = m.label;
    if (network) {
      v.kind = VolumeKind::Network;
      detail = QString::fromLocal8Bit(m.device);
    } else if (m.fileSystemType == "iso9660" || m.fileSystemType == "udf") {
      v.kind = VolumeKind::CdRom;
    } else if (m.fileSystemType == "tmpfs" || m.fileSystemType == "ramfs") {
      v.kind = VolumeKind::RamDisk;
    } else if (!root.startsWith(QLatin1String("/mnt"))) {
      v.kind = VolumeKind::Removable;
    }
    if (!detail.isEmpty()) v.text += QStringLiteral(" [%1]").arg(detail);
    others[root] = v;
  }

  std::vector<Volume> volumes;
  Volume rootVolume{QStringLiteral("/"), QStringLiteral("/"), VolumeKind::Fixed};
  if (!rootLabel.isEmpty()) rootVolume.text += QStringLiteral(" [%1]").arg(rootLabel);
  volumes.push_back(rootVolume);
  for (auto& [root, v] : others) volumes.push_back(v);
  return volumes;
}

QString DriveText(const QString& letter, VolumeKind kind, const QString& remoteName,
                  const std::optional<QString>& label) {
  const QString drive = letter.toLower();
  if (kind == VolumeKind::Removable) return drive;
  if (kind == VolumeKind::Network && !remoteName.isEmpty()) return drive + QLatin1Char(' ') + remoteName;
  if (!label) return drive;
  return QStringLiteral("%1 [%2]").arg(drive, *label);
}

#ifdef _WIN32
namespace {

struct DriveName {
  QString remoteName;
  std::optional<QString> label;
};

// May block (a network drive that is gone): never on the main thread.
DriveName AskDriveName(const Volume& volume) {
  DriveName name;
  const std::wstring root = QDir::toNativeSeparators(volume.rootPath).toStdWString();
  if (volume.kind == VolumeKind::Network) {
    wchar_t remote[1024];
    DWORD size = 1024;
    if (WNetGetConnectionW(root.substr(0, 2).c_str(), remote, &size) == NO_ERROR)
      name.remoteName = QString::fromWCharArray(remote);
    if (!name.remoteName.isEmpty()) return name;
  }
  // No "insert a disk" box for an empty drive.
  DWORD oldMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  wchar_t label[MAX_PATH + 1];
  DWORD serial = 0;
  // Wine answers for a volume it could not read with no label and a serial
  // number made of the drive's letter: that is no label, not an empty one.
  const DWORD madeUpSerial = static_cast<DWORD>(QChar(root[0]).toUpper().unicode()) << 24;
  if (GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, &serial, nullptr, nullptr, nullptr, 0) &&
      (label[0] != L'\0' || serial != madeUpSerial))
    name.label = QString::fromWCharArray(label);
  SetThreadErrorMode(oldMode, nullptr);
  return name;
}

}  // namespace
#endif

std::vector<Volume> ReadVolumes() {
#ifdef _WIN32
  std::vector<Volume> volumes;
  for (const QFileInfo& drive : QDir::drives()) {
    const QString root = QDir::toNativeSeparators(drive.absoluteFilePath());  // "C:\"
    Volume v{root, QString(), VolumeKind::Fixed};
    switch (GetDriveTypeW(reinterpret_cast<LPCWSTR>(root.utf16()))) {
      case DRIVE_REMOVABLE: v.kind = VolumeKind::Removable; break;
      case DRIVE_REMOTE: v.kind = VolumeKind::Network; break;
      case DRIVE_CDROM: v.kind = VolumeKind::CdRom; break;
      case DRIVE_RAMDISK: v.kind = VolumeKind::RamDisk; break;
      default: break;
    }
    v.text = DriveText(root.left(2), v.kind, QString(), std::nullopt);
    volumes.push_back(v);
  }
  return volumes;
#else
  std::vector<MountInfo> mounts;
  for (const QStorageInfo& info : QStorageInfo::mountedVolumes())
    mounts.push_back({info.rootPath(), info.fileSystemType(), info.device(), info.name()});
  return SelectVolumes(mounts);
#endif
}

int VolumeIndexFor(const std::vector<Volume>& volumes, const QString& path) {
  int best = -1;
  qsizetype bestLength = -1;
  for (size_t i = 0; i < volumes.size(); ++i) {
    const QString& root = volumes[i].rootPath;
    if (IsSameOrBelow(path, root) && root.size() > bestLength) {
      best = static_cast<int>(i);
      bestLength = root.size();
    }
  }
  return best;
}

// ---- TPaneListBox ----

TPaneListBox::TPaneListBox(QWidget* parent) : QListWidget(parent) {}

void TPaneListBox::mousePressEvent(QMouseEvent* event) {
  // A right click only opens the pop-up menu; the highlight stays. Left
  // unaccepted, the press turns into the context menu request.
  if (event->button() == Qt::RightButton) return event->accept();
  QListWidget::mousePressEvent(event);
}

void TPaneListBox::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) return event->accept();
  QListWidget::mouseReleaseEvent(event);
}

void TPaneListBox::keyPressEvent(QKeyEvent* event) {
  const bool menuKey = event->key() == Qt::Key_Menu && event->modifiers() == Qt::NoModifier;
  const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
  if (PopupMenu && (menuKey || shiftF10)) {
    event->accept();
    PopUpFromKeyboard();
    return;
  }
  QListWidget::keyPressEvent(event);
}

void TPaneListBox::keyReleaseEvent(QKeyEvent* event) {
  // Where the toolkit asks for the menu on the Menu key's release (Windows),
  // its press has opened it already.
  if (PopupMenu && event->key() == Qt::Key_Menu && event->modifiers() == Qt::NoModifier) return event->accept();
  QListWidget::keyReleaseEvent(event);
}

void TPaneListBox::contextMenuEvent(QContextMenuEvent* event) {
  if (!PopupMenu) return QListWidget::contextMenuEvent(event);
  event->accept();
  if (event->reason() == QContextMenuEvent::Keyboard) return PopUpFromKeyboard();
  PopupMenu->exec(event->globalPos());
}

void TPaneListBox::PopUpFromKeyboard() {
  // Some window systems send a context menu request and the key press for
  // one press of the Menu key, some only one of them: both ask for the one
  // menu, which opens once the events of that press are through.
  if (popUpAsked_) return;
  popUpAsked_ = true;
  QTimer::singleShot(0, this, [this] {
    popUpAsked_ = false;
    if (!PopupMenu || !isVisible()) return;
    // Below the highlighted entry, where the eye is; else at the list's top.
    QPoint at(0, 0);
    if (QListWidgetItem* item = selectedItems().value(0)) {
      const QRect r = visualItemRect(item).intersected(viewport()->rect());
      if (!r.isEmpty()) at = QPoint(r.left() + r.height(), r.bottom());
    }
    PopupMenu->exec(viewport()->mapToGlobal(at));
  });
}

// ---- TDirectoryListBox ----

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : TPaneListBox(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setIconSize(QSize(16, 16));
  setItemDelegate(new IndentDelegate(this));
  openIcon_ = style()->standardIcon(QStyle::SP_DirOpenIcon);
  closedIcon_ = style()->standardIcon(QStyle::SP_DirClosedIcon);

  watcher_ = new QFileSystemWatcher(this);
  quiet_ = new QTimer(this);
  quiet_->setSingleShot(true);
  quiet_->setInterval(kQuietMs);
  latest_ = new QTimer(this);
  latest_->setSingleShot(true);
  latest_->setInterval(kLatestMs);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &TDirectoryListBox::DiskChanged);
  connect(quiet_, &QTimer::timeout, this, [this] { Guarded([this] { Refresh(); }); });
  connect(latest_, &QTimer::timeout, this, [this] { Guarded([this] { Refresh(); }); });
  // The list emits this on a click only where the style asks for it; a
  // double click and Enter are handled below.
  connect(this, &QAbstractItemView::activated, this, [this] {
    if (OpensOnSingleClick()) OpenHighlighted();
  });
}

void TDirectoryListBox::SetDirectory(const QString& path) {
  const QString target = NormalDirectory(
      directory_.isEmpty() ? path : QDir(directory_).absoluteFilePath(QDir::fromNativeSeparators(path)));
  if (const std::error_code ec = CheckEnterable(target)) {
    throw Exception(QStringLiteral("Nelze přejít do adresáře \"%1\": %2").arg(target, ErrorText(ec)).toStdString());
  }
  directory_ = target;
  Rebuild();
  if (fileList_) fileList_->SetDirectory(directory_);
  emit DirectoryChanged(directory_);
}

void TDirectoryListBox::Update() {
  Rebuild();
  if (fileList_) fileList_->SetDirectory(directory_);
}

void TDirectoryListBox::Refresh() {
  quiet_->stop();
  latest_->stop();
  if (directory_.isEmpty()) return;
  if (!QFileInfo(directory_).isDir()) {
    // Removed, renamed or unmounted: up to the nearest parent still there.
    const QString up = NearestEnterableDirectory(directory_);
    if (up != directory_) SetDirectory(up);
    emit Refreshed();
    return;
  }
  Watch();
  std::vector<DirEntry> entries = ReadDirectoryEntries(directory_);
  if (entries != entries_) {
    const QString highlighted = HighlightedPath();
    const int scrolled = verticalScrollBar()->value();
    entries_ = std::move(entries);
    Fill(highlighted);
    verticalScrollBar()->setValue(scrolled);
  }
  if (fileList_) fileList_->Refresh();
  emit Refreshed();
}

void TDirectoryListBox::DiskChanged() {
  quiet_->start();
  if (!latest_->isActive()) latest_->start();
}

void TDirectoryListBox::Watch() {
  // Afresh each time: a watch follows the folder it was set on, also when
  // that folder is renamed away or replaced by another of the same name.
  if (const QStringList watched = watcher_->directories(); !watched.isEmpty()) watcher_->removePaths(watched);
  QStringList paths = {directory_};
  if (const QString parent = ParentDirectory(directory_); parent != directory_) paths << parent;
  watcher_->addPaths(paths);
}

void TDirectoryListBox::Rebuild() {
  Watch();
  entries_ = ReadDirectoryEntries(directory_);
  Fill(QString());
}

void TDirectoryListBox::Fill(const QString& highlightPath) {
  clear();
  int currentRow = 0;
  int highlightRow = -1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const DirEntry& e = entries_[i];
    auto* item = new QListWidgetItem(e.kind == DirEntryKind::Subdirectory ? closedIcon_ : openIcon_, e.name, this);
    item->setData(kLevelRole, e.level);
    item->setToolTip(e.path);
    if (e.kind == DirEntryKind::Current) currentRow = static_cast<int>(i);
    if (e.path == highlightPath) highlightRow = static_cast<int>(i);
  }
  setCurrentRow(highlightRow >= 0 ? highlightRow : currentRow);
}

QString TDirectoryListBox::ItemPath(int index) const {
  if (index < 0 || index >= static_cast<int>(entries_.size())) return {};
  return entries_[static_cast<size_t>(index)].path;
}

QString TDirectoryListBox::HighlightedPath() const {
  const QList<QListWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? QString() : ItemPath(row(selected.first()));
}

void TDirectoryListBox::OpenHighlighted() {
  const QString path = HighlightedPath();
  if (!path.isEmpty()) Guarded([&] { SetDirectory(path); });
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent* event) {
  // Under the one-click convention the first click has opened the entry
  // already: the second must not open the one that took its place.
  if (event->button() != Qt::LeftButton || OpensOnSingleClick()) return event->accept();
  QListWidget::mouseDoubleClickEvent(event);
  if (itemAt(event->position().toPoint())) OpenHighlighted();
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    OpenHighlighted();
    return;
  }
  TPaneListBox::keyPressEvent(event);
}

bool TDirectoryListBox::OpensOnSingleClick() const {
  return style()->styleHint(QStyle::SH_ItemView_ActivateItemOnSingleClick, nullptr, this) != 0;
}

// ---- TFileListBox ----

TFileListBox::TFileListBox(QWidget* parent) : TPaneListBox(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setIconSize(QSize(16, 16));
  fileIcon_ = style()->standardIcon(QStyle::SP_FileIcon);
}

void TFileListBox::SetDirectory(const QString& directory) {
  directory_ = NormalDirectory(directory);
  Update();
}

void TFileListBox::Update() {
  // A directory that cannot be read simply lists nothing.
  Fill(ReadDumpFileNames(directory_));
  setCurrentRow(-1);
}

void TFileListBox::Refresh() {
  QStringList names = ReadDumpFileNames(directory_);
  if (names == names_) return;
  const QString highlighted = HighlightedName();
  const int scrolled = verticalScrollBar()->value();
  Fill(names);
  if (highlighted.isEmpty() || !HighlightName(highlighted)) setCurrentRow(-1);
  verticalScrollBar()->setValue(scrolled);
}

void TFileListBox::Fill(const QStringList& names) {
  names_ = names;
  clear();
  for (const QString& name : names) new QListWidgetItem(fileIcon_, name, this);
}

QString TFileListBox::HighlightedName() const {
  const QList<QListWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? QString() : selected.first()->text();
}

QString TFileListBox::FileName() const {
  const QString name = HighlightedName();
  return name.isEmpty() ? QString() : JoinPath(directory_, name);
}

bool TFileListBox::HighlightName(const QString& name) {
  const QList<QListWidgetItem*> found = findItems(name, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  setCurrentItem(found.first());
  return true;
}

void TFileListBox::mouseReleaseEvent(QMouseEvent* event) {
  TPaneListBox::mouseReleaseEvent(event);
  // Like a click on a list: also a click on the file already highlighted.
  if (event->button() == Qt::LeftButton) {
    QListWidgetItem* item = itemAt(event->position().toPoint());
    if (item && item->isSelected()) emit Click();
  }
}

void TFileListBox::focusInEvent(QFocusEvent* event) {
  QListWidget::focusInEvent(event);
  // Qt makes the first row current (unselected) on focus, so the first arrow
  // key would skip it; with nothing highlighted, nothing is current.
  if (selectedItems().isEmpty()) selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void TFileListBox::keyPressEvent(QKeyEvent* event) {
  QListWidgetItem* before = selectedItems().value(0);
  TPaneListBox::keyPressEvent(event);
  QListWidgetItem* after = selectedItems().value(0);
  if (after && after != before) emit Click();
}

// ---- TDriveComboBox ----

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  connect(this, &QComboBox::activated, this, &TDriveComboBox::Choose);
}

void TDriveComboBox::SetDirList(TDirectoryListBox* list) {
  dirList_ = list;
  connect(list, &TDirectoryListBox::DirectoryChanged, this, &TDriveComboBox::Follow);
  Follow(list->Directory());
}

QString TDriveComboBox::Drive() const {
  const int index = currentIndex();
  return index < 0 || index >= static_cast<int>(volumes_.size()) ? QString()
                                                                  : volumes_[static_cast<size_t>(index)].rootPath;
}

void TDriveComboBox::Refresh() {
  SetVolumes(ReadVolumes());
  LookUpNames();
}

void TDriveComboBox::LookUpNames() {
  const int lookUp = ++lookUp_;
#ifdef _WIN32
  std::vector<Volume> asked;
  for (const Volume& v : volumes_)
    if (v.kind != VolumeKind::Removable) asked.push_back(v);
  if (asked.empty()) {
    emit NamesLookedUp();
    return;
  }
  auto names = std::make_shared<std::vector<DriveName>>();
  QThread* asker = QThread::create([names, asked] {
    for (const Volume& v : asked) names->push_back(AskDriveName(v));
  });
  // The answer is taken on this thread once the asker is done; a box gone
  // by then takes nothing.
  connect(asker, &QThread::finished, this, [this, names, lookUp, asked] {
    if (lookUp != lookUp_) return;
    for (size_t i = 0; i < asked.size() && i < names->size(); ++i) {
      for (size_t at = 0; at < volumes_.size(); ++at) {
        Volume& v = volumes_[at];
        if (v.rootPath != asked[i].rootPath) continue;
        v.text = DriveText(v.rootPath.left(2), v.kind, (*names)[i].remoteName, (*names)[i].label);
        setItemText(static_cast<int>(at), v.text);
      }
    }
    emit NamesLookedUp();
  });
  connect(asker, &QThread::finished, asker, &QObject::deleteLater);
  asker->start();
#else
  (void)lookUp;  // the mount table names every volume at once
  emit NamesLookedUp();
#endif
}

void TDriveComboBox::SetVolumes(std::vector<Volume> volumes) {
  volumes_ = std::move(volumes);
  clear();
  for (const Volume& v : volumes_) addItem(VolumeIcon(v.kind), v.text);
  Follow(directory_);
}

QIcon TDriveComboBox::VolumeIcon(VolumeKind kind) {
  QIcon& icon = icons_[kind];
  if (icon.isNull()) {
    switch (kind) {
      case VolumeKind::Removable: icon = style()->standardIcon(QStyle::SP_DriveFDIcon); break;
      case VolumeKind::Network: icon = style()->standardIcon(QStyle::SP_DriveNetIcon); break;
      case VolumeKind::CdRom: icon = style()->standardIcon(QStyle::SP_DriveCDIcon); break;
      case VolumeKind::Fixed:
      case VolumeKind::RamDisk: icon = style()->standardIcon(QStyle::SP_DriveHDIcon); break;
    }
  }
  return icon;
}

void TDriveComboBox::showPopup() {
  // Media come and go: list what is mounted now.
  Refresh();
  QComboBox::showPopup();
}

void TDriveComboBox::Follow(const QString& directory) {
  directory_ = directory;
  const int index = VolumeIndexFor(volumes_, directory);
  if (index >= 0) lastDirectory_[volumes_[static_cast<size_t>(index)].rootPath] = directory;
  setCurrentIndex(index);
}

void TDriveComboBox::Choose(int index) {
  if (!dirList_ || index < 0 || index >= static_cast<int>(volumes_.size())) return;
  const QString root = volumes_[static_cast<size_t>(index)].rootPath;
  const auto last = lastDirectory_.find(root);
  const QString target = last != lastDirectory_.end() && QFileInfo(last->second).isDir() ? last->second : root;
  try {
    dirList_->SetDirectory(target);
  } catch (...) {
    setCurrentIndex(VolumeIndexFor(volumes_, directory_));
    ReportCurrentExceptionInGui();
  }
}
