#include "app/main_window.h"

#include "app/app_state.h"
#include "app/memo.h"
#include "app/message_boxes.h"
#include "app/port_access.h"
#include "app/reception.h"
#include "app/toolbar_icons.h"
#include "serial/serial.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const char* const kCaption = "Ukládání a vysílání paměti RAM ústředen VQ";
constexpr QSize kOuterSize(644, 423);
constexpr int kPaneWidth = 149;
constexpr int kDirectoryBlockHeight = 169;

// A splitter bar drawn in red with a light and a dark edge.
class RedSplitterHandle : public QSplitterHandle {
 public:
  using QSplitterHandle::QSplitterHandle;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, QColor(255, 0, 0));
    p.setPen(QColor(255, 140, 140));
    if (orientation() == Qt::Horizontal)
      p.drawLine(r.topLeft(), r.bottomLeft());
    else
      p.drawLine(r.topLeft(), r.topRight());
    p.setPen(QColor(128, 0, 0));
    if (orientation() == Qt::Horizontal)
      p.drawLine(r.topRight(), r.bottomRight());
    else
      p.drawLine(r.bottomLeft(), r.bottomRight());
  }
};

class RedSplitter : public QSplitter {
 public:
  RedSplitter(Qt::Orientation orientation, QWidget* parent) : QSplitter(orientation, parent) {
    setHandleWidth(3);
    setChildrenCollapsible(false);
  }

 protected:
  QSplitterHandle* createHandle() override { return new RedSplitterHandle(orientation(), this); }
};

// Connects a command so that its failures reach the general error report.
template <typename Signal, typename Sender>
void Bind(Sender* sender, Signal signal, QObject* context, void (TForm1::*handler)(), TForm1* form) {
  QObject::connect(sender, signal, context, [form, handler] { Guarded([&] { (form->*handler)(); }); });
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  Form1 = this;
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(kCaption));
  setWindowIcon(WindowIcon());
#ifdef _WIN32
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
#endif
  resize(kOuterSize);

  ImageList1 = {ReceiveIcon(), SendIcon(), ExitIcon(), SettingsIcon()};
  CreateToolBar();
  CreateMenus();
  CreatePanes();
  CreateComPort();
  FormCreate();
}

TForm1::~TForm1() {
  // The port first: closing it stops its event thread while every control
  // an event handler might touch still exists.
  if (ComPort1) Guarded([this] { ClosePortOf(*this); });
  components_.reset();
  ComPort1 = nullptr;
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateToolBar() {
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(32, 32));
  ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
  ToolBar1->setStyleSheet(QStringLiteral("QToolBar { spacing: 0px; } QToolBar::separator { width: 8px; }"));
  addToolBar(Qt::TopToolBarArea, ToolBar1);

  auto button = [this](const char* name, const QString& caption, const QString& hint, int image) {
    auto* b = new QToolButton(ToolBar1);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(caption);
    b->setToolTip(hint);
    b->setIcon(ImageList1[image]);
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    b->setMinimumSize(56, 52);
    // In the Tab order (made first, so first in it); Space presses.
    b->setFocusPolicy(Qt::TabFocus);
    ToolBar1->addWidget(b);
    return b;
  };
  ToolButton1 = button("ToolButton1", QStringLiteral("Přijmout"), QStringLiteral("Přijmout z TÚ"), 0);
  ToolButton2 = button("ToolButton2", QStringLiteral("Odeslat"), QStringLiteral("Vyslat do TÚ"), 1);
  ToolButton3 = ToolBar1->addSeparator();
  ToolButton4 = button("ToolButton4", QStringLiteral("Nastavení"), QStringLiteral("Nastavení Com portu"), 3);
  ToolButton5 = ToolBar1->addSeparator();
  ToolButton6 = button("ToolButton6", QStringLiteral("Konec"), QStringLiteral("Konec práce"), 2);

  Bind(ToolButton1, &QToolButton::clicked, this, &TForm1::Pijmout1Click, this);
  Bind(ToolButton2, &QToolButton::clicked, this, &TForm1::Vyslat1Click, this);
  Bind(ToolButton4, &QToolButton::clicked, this, &TForm1::Nastaven1Click, this);
  Bind(ToolButton6, &QToolButton::clicked, this, &TForm1::Konec1Click, this);
}

void TForm1::CreateMenus() {
  MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  // Each item has its letter for Alt and the open menu.
  QMenu* soubor = MainMenu1->addMenu(QStringLiteral("&Soubor"));
  soubor->setObjectName(QStringLiteral("Soubor1"));
  Soubor1 = soubor->menuAction();
  Pijmout1 = soubor->addAction(QStringLiteral("&Přijmout"));
  Vyslat1 = soubor->addAction(QStringLiteral("&Vyslat"));
  soubor->addSeparator();
  UlozitJako1 = soubor->addAction(QStringLiteral("&Uložit jako…"));
  UlozitJako1->setObjectName(QStringLiteral("UlozitJako1"));
  // The pane sends no change notices (they cost the whole text a keystroke):
  // whether it holds text is looked at as the menu opens.
  connect(soubor, &QMenu::aboutToShow, this, [this] { UlozitJako1->setEnabled(!Memo1->Utf8().empty()); });
  Nastaven1 = MainMenu1->addAction(QStringLiteral("&Nastavení"));
  Konec1 = MainMenu1->addAction(QStringLiteral("&Konec"));
  Oaplikaci1 = MainMenu1->addAction(QStringLiteral("&O aplikaci"));
  // F10 opens the first menu; Alt alone marks the bar (the style's own
  // keyboard navigation), Alt with a letter opens that item.
  auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(menuKey, &QShortcut::activated, this, [this] { MainMenu1->setActiveAction(Soubor1); });

  Bind(Pijmout1, &QAction::triggered, this, &TForm1::Pijmout1Click, this);
  Bind(Vyslat1, &QAction::triggered, this, &TForm1::Vyslat1Click, this);
  Bind(UlozitJako1, &QAction::triggered, this, &TForm1::UlozitJako1Click, this);
  Bind(Nastaven1, &QAction::triggered, this, &TForm1::Nastaven1Click, this);
  Bind(Konec1, &QAction::triggered, this, &TForm1::Konec1Click, this);
  Bind(Oaplikaci1, &QAction::triggered, this, &TForm1::Oaplikaci1Click, this);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  VytvoitAdres1 = PopupMenu1->addAction(QStringLiteral("&Vytvořit adresář"));
  Smazatadres1 = PopupMenu1->addAction(QStringLiteral("&Smazat adresář"));
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
  MenuItem4 = PopupMenu2->addAction(QStringLiteral("&Smazat soubor"));
  MenuItem5 = PopupMenu2->addAction(QStringLiteral("&Přejmenovat soubor"));
  // Also straight from the file list: Delete and F2, as in a file manager.
  MenuItem4->setShortcut(QKeySequence(Qt::Key_Delete));
  MenuItem5->setShortcut(QKeySequence(Qt::Key_F2));
  for (QAction* a : {MenuItem4, MenuItem5}) a->setShortcutContext(Qt::WidgetShortcut);

  Bind(VytvoitAdres1, &QAction::triggered, this, &TForm1::VytvoitAdres1Click, this);
  Bind(Smazatadres1, &QAction::triggered, this, &TForm1::Smazatadres1Click, this);
  Bind(MenuItem4, &QAction::triggered, this, &TForm1::MenuItem4Click, this);
  Bind(MenuItem5, &QAction::triggered, this, &TForm1::MenuItem5Click, this);
}

void TForm1::CreatePanes() {
  Splitter1 = new RedSplitter(Qt::Horizontal, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  setCentralWidget(Splitter1);

  Panel1 = new QWidget(Splitter1);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  auto* panel1Layout = new QVBoxLayout(Panel1);
  panel1Layout->setContentsMargins(0, 0, 0, 0);
  Splitter2 = new RedSplitter(Qt::Vertical, Panel1);
  Splitter2->setObjectName(QStringLiteral("Splitter2"));
  panel1Layout->addWidget(Splitter2);

  Panel2 = new QWidget(Splitter2);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  auto* panel2Layout = new QVBoxLayout(Panel2);
  panel2Layout->setContentsMargins(0, 0, 0, 0);
  panel2Layout->setSpacing(0);
  DriveComboBox1 = new TDriveComboBox(Panel2);
  DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
  DirectoryListBox1 = new TDirectoryListBox(Panel2);
  DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
  DirectoryListBox1->PopupMenu = PopupMenu1;
  panel2Layout->addWidget(DriveComboBox1);
  panel2Layout->addWidget(DirectoryListBox1, 1);

  FileListBox1 = new TFileListBox(Splitter2);
  FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
  FileListBox1->PopupMenu = PopupMenu2;
  FileListBox1->addActions({MenuItem4, MenuItem5});
  Splitter2->addWidget(Panel2);
  Splitter2->addWidget(FileListBox1);
  Splitter2->setStretchFactor(0, 0);
  Splitter2->setStretchFactor(1, 1);
  Splitter2->setSizes({kDirectoryBlockHeight, 1000});

  Memo1 = new TMemo(Splitter1);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  // Not a change notice per keystroke: only leaving and reaching the text
  // as it was read or saved.
  connect(Memo1, &QsciScintilla::modificationChanged, this, &TForm1::MemoModificationChanged);
  Splitter1->addWidget(Panel1);
  Splitter1->addWidget(Memo1);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({kPaneWidth, kOuterSize.width() - kPaneWidth});

  StatusBar1 = statusBar();
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1Panel0 = new QLabel(StatusBar1);
  StatusBar1Panel0->setObjectName(QStringLiteral("StatusBar1Panel0"));
  StatusBar1Panel0->setMinimumWidth(50);
  StatusBar1->addWidget(StatusBar1Panel0, 1);

  DirectoryListBox1->SetFileList(FileListBox1);
  connect(FileListBox1, &TFileListBox::Click, this, [this] { Guarded([this] { FileListBox1Click(); }); });
  QString start = QDir::currentPath();
  try {
    DirectoryListBox1->SetDirectory(start);
  } catch (const std::exception&) {
    // The working directory vanished under us: start at home instead.
    DirectoryListBox1->SetDirectory(QDir::homePath());
  }
  DriveComboBox1->Refresh();
  DriveComboBox1->SetDirList(DirectoryListBox1);
}

void TForm1::CreateComPort() {
  components_ = std::make_unique<TComponent>(nullptr);
  components_->SetName("Form1");
  ComPort1 = new TComPort(components_.get());
  // As a stored window definition: the setters only record, nothing touches
  // the device, and the port stays closed.
  ComPort1->BeginLoading();
  ComPort1->SetName("ComPort1");
  ComPort1->SetPort("COM1");
  ComPort1->SetBaudRate(br1200);
  ComPort1->SetDataBits(dbEight);
  ComPort1->SetStopBits(sbTwoStopBits);
  ComPort1->Parity().SetBits(prNone);
  TComFlowControl& flow = ComPort1->FlowControl();
  flow.SetOutCTSFlow(false);
  flow.SetOutDSRFlow(false);
  flow.SetControlDTR(dtrDisable);
  flow.SetControlRTS(rtsDisable);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  ComPort1->SetEvents(AllComEvents);
  ComPort1->OnRxChar = [this](TObject* Sender, int32_t Count) { ComPort1RxChar(Sender, Count); };
  ConnectLineReports(*this);
  ComPort1->EndLoading();
}

void TForm1::FormCreate() {
  TheReception.Reset();
}

void TForm1::MarkReceivedLinesUnsaved(bool unsaved) {
  if (unsaved)
    StatusBar1Panel0->setText(
        QStringLiteral("Přijaté věty nejsou uloženy; uložte je příkazem Soubor > Uložit jako…"));
  else if (ReceivedLinesUnsaved)
    StatusBar1Panel0->clear();  // the note is no longer true
  ReceivedLinesUnsaved = unsaved;
}

bool TForm1::MayReplaceMemo() {
  return !ReceivedLinesUnsaved ||
         AskYesNo(this, QStringLiteral("Přijaté věty v okně nebyly uloženy. Zahodit je?"));
}

void TForm1::SetMemoFile(const QString& path, bool utf8) {
  MemoFile = path;
  MemoFileIsUtf8 = utf8;
  Memo1->setModified(false);
}

bool TForm1::MemoEdited() const { return !MemoFile.isEmpty() && Memo1->isModified(); }

void TForm1::MemoModificationChanged(bool modified) {
  if (modified && !MemoFile.isEmpty() && !ReceivedLinesUnsaved) {
    if (!editNoteShown_) statusBeforeEdit_ = StatusBar1Panel0->text();
    editNoteShown_ = true;
    StatusBar1Panel0->setText(QStringLiteral("Text v okně byl upraven a liší se od souboru %1; Odeslat vyšle text "
                                             "z okna.")
                                  .arg(QDir::toNativeSeparators(MemoFile)));
  } else if (!modified && editNoteShown_) {
    editNoteShown_ = false;
    StatusBar1Panel0->setText(statusBeforeEdit_);
  }
}

void TForm1::Konec1Click() { close(); }

void TForm1::Oaplikaci1Click() {
  ShowSystemBox(this, QMessageBox::Information, QStringLiteral(" O APLIKACI "),
                QStringLiteral("%1 %2\n\n%3.\n\nPříjem výpisu paměti RAM z ústředny do souboru a vyslání "
                               "souboru zpět do ústředny po sériové lince RS-232.")
                    .arg(ApplicationTitle(), QStringLiteral(VAZUR_VERSION), QString::fromUtf8(kCaption)));
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (placed_) return;
  placed_ = true;
  // The size is the outer size, frame included; centre it on the screen.
  const QSize frame = frameGeometry().size() - geometry().size();
  resize(kOuterSize - frame);
  if (const QScreen* screen = this->screen()) {
    QRect outer(QPoint(), kOuterSize);
    outer.moveCenter(screen->availableGeometry().center());
    move(outer.topLeft());
  }
}
