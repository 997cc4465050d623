// The main window: toolbar, menu bar, the dump file pane, the text pane
// Memo1, the status bar and the port ComPort1 the commands use.
#pragma once

#include "app/file_pane.h"

#include <QIcon>
#include <QList>
#include <QMainWindow>

#include <cstdint>
#include <memory>

class QAction;
class QFileDialog;
class QLabel;
class QMenu;
class QMenuBar;
class QSplitter;
class QStatusBar;
class QToolBar;
class QToolButton;
class TComponent;
class TComPort;
class TMemo;
class TObject;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window and ComPort1 (closed) and reads the working directory
  // into the file pane. The window deletes itself when closed; ComPort1,
  // closed on the way, goes with it.
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- Toolbar ----
  QToolBar* ToolBar1 = nullptr;
  QToolButton* ToolButton1 = nullptr;  // "Přijmout"
  QToolButton* ToolButton2 = nullptr;  // "Odeslat"
  QAction* ToolButton3 = nullptr;      // separator
  QToolButton* ToolButton4 = nullptr;  // "Nastavení"
  QAction* ToolButton5 = nullptr;      // separator
  QToolButton* ToolButton6 = nullptr;  // "Konec"
  // 0 receive, 1 send, 2 exit, 3 settings.
  QList<QIcon> ImageList1;

  // ---- Menu bar ----
  QMenuBar* MainMenu1 = nullptr;
  QAction* Soubor1 = nullptr;  // its menu(): Pijmout1, Vyslat1
  QAction* Pijmout1 = nullptr;
  QAction* Vyslat1 = nullptr;
  QAction* UlozitJako1 = nullptr;  // "Uložit jako…": Memo1 as a dump file
  QAction* Nastaven1 = nullptr;
  QAction* Konec1 = nullptr;
  QAction* Oaplikaci1 = nullptr;

  // ---- File pane ----
  QWidget* Panel1 = nullptr;
  QWidget* Panel2 = nullptr;
  TDriveComboBox* DriveComboBox1 = nullptr;
  TDirectoryListBox* DirectoryListBox1 = nullptr;
  TFileListBox* FileListBox1 = nullptr;
  QSplitter* Splitter1 = nullptr;  // file pane | Memo1
  QSplitter* Splitter2 = nullptr;  // directories / files
  QMenu* PopupMenu1 = nullptr;     // directory list
  QAction* VytvoitAdres1 = nullptr;
  QAction* Smazatadres1 = nullptr;
  QMenu* PopupMenu2 = nullptr;  // file list
  QAction* MenuItem4 = nullptr;
  QAction* MenuItem5 = nullptr;

  // ---- Text pane and status bar ----
  TMemo* Memo1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* StatusBar1Panel0 = nullptr;  // the file being received

  // ---- Non-visual ----
  TComPort* ComPort1 = nullptr;
  QFileDialog* SaveDialog1 = nullptr;  // made by the receive command on first use

  // ---- Handlers ----
  void FormCreate();
  void Pijmout1Click();  // receive.cpp
  void SaveDialog1TypeChange();  // receive.cpp
  void ComPort1RxChar(TObject* Sender, int32_t Count);  // receive.cpp
  void Vyslat1Click();  // send.cpp
  void UlozitJako1Click();  // receive.cpp
  void Nastaven1Click();  // settings_command.cpp
  void Konec1Click();
  void Oaplikaci1Click();

  // The file pane's commands (file_commands.cpp).
  void FileListBox1Click();
  void VytvoitAdres1Click();
  void Smazatadres1Click();
  void MenuItem4Click();
  void MenuItem5Click();

  // Received lines are in the pane but in no file (a reception ended
  // without a save). The status bar says so while it holds.
  bool ReceivedLinesUnsaved = false;
  void MarkReceivedLinesUnsaved(bool unsaved);
  // Whether the pane's text may go: asks first while it holds unsaved
  // received lines.
  bool MayReplaceMemo();

  // The file the pane's text was read from or last saved to (empty when
  // none), and whether that file's bytes were UTF-8 text rather than a
  // Windows-1250 dump.
  QString MemoFile;
  bool MemoFileIsUtf8 = false;
  // The pane holds the text of `path` as it is on the disk (an empty path:
  // of no file).
  void SetMemoFile(const QString& path, bool utf8 = false);
  // The pane's text was changed in the window since it was read or saved.
  bool MemoEdited() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void CreateToolBar();
  void CreateMenus();
  void CreatePanes();
  void CreateComPort();
  void MemoModificationChanged(bool modified);

  // Owns ComPort1; destroyed first, so the port closes while the window is whole.
  std::unique_ptr<TComponent> components_;
  bool placed_ = false;
  // The status bar says that the pane differs from MemoFile; what it said
  // before.
  bool editNoteShown_ = false;
  QString statusBeforeEdit_;
};
