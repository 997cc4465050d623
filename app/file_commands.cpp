// The dump file pane's commands: show a file, create and remove a directory,
// delete and rename a file.
#include "app/cp1250.h"
#include "app/dump_text.h"
#include "app/file_pane.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/message_boxes.h"
#include "rtl/classes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <utility>

namespace {

// Splits a path after its last separator (or a drive colon).
std::pair<QString, QString> SplitFileName(const QString& path) {
  qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
#ifdef _WIN32
  cut = std::max({cut, path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char(':'))});
#endif
  return {path.left(cut + 1), path.mid(cut + 1)};
}

// Moves a file to the Recycle Bin or the desktop's trash; false where it
// cannot go there.
bool MoveToTrash(const QString& path) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
  // The toolkit falls back to the home trash, and with no home data folder
  // to make it in it takes the working directory for the trash: a file would
  // land in ./files. Without that folder there is no trash.
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  const QFileInfo home(data);
  if (data.isEmpty() || !home.isDir() || !(home.isWritable() || QFileInfo(data + QStringLiteral("/Trash")).isDir()))
    return false;
#endif
  return QFile::moveToTrash(path);
}

// An exchange's RAM dump is a few MB: a larger file is something else (a
// log beside the dumps), and loading it whole would stall the window.
constexpr qint64 kLargestDump = 64LL << 20;

}  // namespace

void TForm1::FileListBox1Click() {
  const QString path = FileListBox1->FileName();
  if (path.isEmpty() || !QFileInfo(path).isFile()) return;
  if (!MayReplaceMemo()) return;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw Exception(QStringLiteral("Soubor \"%1\" nelze otevřít: %2").arg(path, file.errorString()).toStdString());
  // One byte past the limit is enough to know (the file may grow meanwhile).
  const QByteArray bytes = file.size() > kLargestDump ? QByteArray() : file.read(kLargestDump + 1);
  if (file.size() > kLargestDump || bytes.size() > kLargestDump) {
    ShowSystemBox(this, QMessageBox::Warning, QStringLiteral(" UPOZORNĚNÍ "),
                  QStringLiteral("Soubor \"%1\" má přes %2 MiB, takže to není výpis paměti ústředny (ten má nejvýše "
                                 "několik MB). Soubor se nezobrazí; okno ponechává svůj obsah.")
                      .arg(QDir::toNativeSeparators(path))
                      .arg(kLargestDump >> 20));
    return;
  }
  if (file.error() != QFileDevice::NoError)
    throw Exception(QStringLiteral("Soubor \"%1\" nelze přečíst: %2").arg(path, file.errorString()).toStdString());
  const std::string_view all(bytes.constData(), static_cast<size_t>(bytes.size()));
  // Decoded a piece at a time: the pane's text is the only whole copy.
  constexpr size_t kPiece = 1024 * 1024;
  Memo1->Replace(Cp1250Utf8Size(all), [all](auto append) {
    DumpDecoder decoder;
    std::string text;
    for (size_t at = 0; at < all.size(); at += kPiece) {
      text.clear();
      decoder.Decode(all.substr(at, kPiece), text);
      append(text);
    }
  });
  MarkReceivedLinesUnsaved(false);
  SetMemoFile(path, LooksLikeUtf8Text(all));
}

void TForm1::VytvoitAdres1Click() {
  QString parent = DirectoryListBox1->HighlightedPath();
  if (parent.isEmpty()) parent = DirectoryListBox1->Directory();
  QString name = QStringLiteral("Nová složka");
  if (!InputQuery(this, QStringLiteral("Vytvoření adresáře"), QStringLiteral("Zadejte název adresáře"), name))
    return;  // "Storno" asks for nothing to be done
  const QString target = NormalDirectory(JoinPath(parent, name));
  if (name.isEmpty() || (!QFileInfo(target).isDir() && !QDir().mkdir(target))) {
    ShowErrorBox(this, QStringLiteral("Adresář nelze vytvořit !"));
    return;
  }
  // New or already there: move into it.
  DirectoryListBox1->SetDirectory(target);
}

void TForm1::Smazatadres1Click() {
  const QString path = DirectoryListBox1->HighlightedPath();
  // The current directory and those above it are in use: the pane stands in
  // them.
  const bool inUse = path.isEmpty() || IsSameOrBelow(DirectoryListBox1->Directory(), path);
  if (inUse || !QDir().rmdir(path)) ShowPlainMessage(this, QStringLiteral("Adresář nelze smazat!"));
  DirectoryListBox1->Update();
}

void TForm1::MenuItem4Click() {
  const QString path = FileListBox1->FileName();
  // Into the trash, so that a stray press does not destroy a backup; where
  // there is none (a network share, a system without one), deleted.
  if (path.isEmpty() || !(MoveToTrash(path) || QFile::remove(path)))
    ShowErrorBox(this, QStringLiteral("Soubor nelze smazat!"));
  FileListBox1->Update();
}

void TForm1::MenuItem5Click() {
  const QString path = FileListBox1->FileName();
  const auto [dirPart, namePart] = SplitFileName(path);
  QString value = namePart;
  const bool ok =
      InputQuery(this, QStringLiteral("Přejmenování souboru"), QStringLiteral("Zadejte název souboru"), value);
  if (ok && !value.isEmpty() && value != namePart) {
    // QFile::rename never replaces an existing file (POSIX rename would).
    if (path.isEmpty() || !QFile::rename(path, dirPart + value))
      ShowErrorBox(this, QStringLiteral("Soubor nelze přejmenovat!"));
  }
  FileListBox1->Update();
}
