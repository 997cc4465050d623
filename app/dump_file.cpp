#include "app/dump_file.h"

#include "app/cp1250.h"
#include "rtl/classes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include <QSaveFile>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#endif

std::optional<UnencodableChar> FindUnencodable(const QString& line, qsizetype lineIndex) {
  for (qsizetype i = 0; i < line.size(); ++i) {
    if (EncodeCp1250Char(line[i].unicode())) continue;
    UnencodableChar bad;
    bad.line = lineIndex;
    bad.column = i;
    const bool pair = line[i].isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate();
    bad.character = line.mid(i, pair ? 2 : 1);
    return bad;
  }
  return std::nullopt;
}

std::optional<UnencodableChar> FindUnencodable(const QStringList& lines) {
  for (qsizetype i = 0; i < lines.size(); ++i)
    if (auto bad = FindUnencodable(lines[i], i)) return bad;
  return std::nullopt;
}

QString UnencodableMessage(const UnencodableChar& bad) {
  const char32_t code = bad.character.toUcs4().value(0);
  return QStringLiteral("Řádek %1 obsahuje na pozici %2 znak „%3“ (U+%4), který v kódu Windows-1250 není.")
      .arg(bad.line + 1)
      .arg(bad.column + 1)
      .arg(bad.character)
      .arg(QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

std::string EncodeDumpLines(const QStringList& lines) {
  std::string bytes;
  qsizetype total = 0;
  for (const QString& line : lines) total += line.size() + 2;
  bytes.reserve(static_cast<size_t>(total));
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const std::optional<std::string> encoded = EncodeCp1250(lines[i]);
    if (!encoded)
      throw Exception(
          (UnencodableMessage(*FindUnencodable(lines[i], i)) + QStringLiteral(" Soubor nebyl uložen.")).toStdString());
    bytes += *encoded;
    bytes += "\r\n";
  }
  return bytes;
}

namespace {

[[noreturn]] void Fail(const char* what, const QString& path, const QString& reason) {
  throw Exception(QString::fromUtf8(what).arg(QDir::toNativeSeparators(path), reason).toStdString());
}

// The file a name stands for: the target of a symbolic link, else the name.
QString ResolveTarget(const QString& path) {
  const QFileInfo info(path);
  if (info.isSymLink()) {
    const QString target = info.canonicalFilePath();
    if (!target.isEmpty()) return target;
    return info.symLinkTarget();  // dangling: the link's target is created
  }
  return info.absoluteFilePath();
}

}  // namespace

#ifdef _WIN32

void WriteFileAtomically(const QString& path, std::string_view bytes) {
  const QString target = ResolveTarget(path);
  QSaveFile file(target);
  file.setDirectWriteFallback(false);
  if (!file.open(QIODevice::WriteOnly)) Fail("Soubor %1 nelze vytvořit: %2", target, file.errorString());
  if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
    Fail("Do souboru %1 nelze zapsat: %2", target, file.errorString());
  if (!file.commit()) Fail("Soubor %1 nelze uložit: %2", target, file.errorString());
}

#else

namespace {

QString SystemReason(int error) { return QString::fromStdString(std::system_category().message(error)); }

// Closes and removes the temporary file unless it was renamed into place.
class TempFile {
 public:
  ~TempFile() {
    if (fd >= 0) ::close(fd);
    if (!name.empty()) ::unlink(name.c_str());
  }
  int fd = -1;
  std::string name;
};

mode_t NewFileMode() {
  // umask can only be read by setting it; put it straight back.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void WriteFileAtomically(const QString& path, std::string_view bytes) {
  const QString target = ResolveTarget(path);
  const QFileInfo info(target);
  const QByteArray targetName = QFile::encodeName(target);
  const QByteArray dirName = QFile::encodeName(info.absolutePath());

  mode_t mode = NewFileMode();
  struct stat existing {};
  if (::stat(targetName.constData(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) Fail("Soubor %1 nelze vytvořit: %2", target, SystemReason(EISDIR));
    // A rename would replace a device or a pipe with a plain file.
    if (!S_ISREG(existing.st_mode))
      Fail("Soubor %1 nelze vytvořit: %2", target, QStringLiteral("není to obyčejný soubor"));
    mode = existing.st_mode & 07777;
  }

  TempFile temp;
  std::string pattern = dirName.toStdString() + "/." + QFile::encodeName(info.fileName()).toStdString() + ".XXXXXX";
  temp.fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (temp.fd < 0) Fail("Soubor %1 nelze vytvořit: %2", target, SystemReason(errno));
  temp.name = pattern;
  ::fchmod(temp.fd, mode);  // best effort: the data matters more than the mode

  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(temp.fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Do souboru %1 nelze zapsat: %2", target, SystemReason(errno));
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
  if (::fsync(temp.fd) != 0) Fail("Do souboru %1 nelze zapsat: %2", target, SystemReason(errno));
  const int fd = temp.fd;
  temp.fd = -1;
  if (::close(fd) != 0) Fail("Do souboru %1 nelze zapsat: %2", target, SystemReason(errno));

  if (::rename(temp.name.c_str(), targetName.constData()) != 0)
    Fail("Soubor %1 nelze nahradit: %2", target, SystemReason(errno));
  temp.name.clear();

  // Makes the rename itself durable; the file is complete either way.
  const int dir = ::open(dirName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

#endif

void SaveDumpFile(const QString& path, const QStringList& lines) { WriteFileAtomically(path, EncodeDumpLines(lines)); }
