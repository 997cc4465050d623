#include "app/dump_file.h"

#include "app/cp1250.h"
#include "app/dump_text.h"
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

std::optional<UnencodableChar> AppendLineBytes(std::string_view line, qsizetype lineIndex, std::string& out) {
  // Every character gives one byte and takes at least one.
  const size_t start = out.size();
  out.resize(start + line.size());
  char* o = out.data() + start;
  qsizetype column = 0;  // in UTF-16 units
  for (size_t i = 0; i < line.size();) {
    const auto lead = static_cast<unsigned char>(line[i]);
    if (lead < 0x80) {
      *o++ = static_cast<char>(lead);
      ++i;
      ++column;
      continue;
    }
    const char32_t code = NextCodePoint(line, i);
    const std::optional<uint8_t> b = EncodeCp1250Code(code);
    if (!b) {
      out.resize(static_cast<size_t>(o - out.data()));
      // Not QString::fromUcs4, which drops a U+FEFF as a byte order mark.
      const auto shown = QChar::fromUcs4(code);
      return UnencodableChar{lineIndex, column, QStringView(shown).toString()};
    }
    *o++ = static_cast<char>(*b);
    column += code > 0xFFFF ? 2 : 1;
  }
  out.resize(static_cast<size_t>(o - out.data()));
  return std::nullopt;
}

std::optional<UnencodableChar> FindUnencodable(std::string_view text) {
  std::optional<UnencodableChar> bad;
  qsizetype index = 0;
  std::string scratch;
  ForEachLine(text, [&](std::string_view line) {
    if (!bad) {
      scratch.clear();
      bad = AppendLineBytes(line, index, scratch);
    }
    ++index;
  });
  return bad;
}

QString UnencodableMessage(const UnencodableChar& bad) {
  const char32_t code = bad.character.toUcs4().value(0);
  return QStringLiteral("Řádek %1 obsahuje na pozici %2 znak „%3“ (U+%4), který v kódu Windows-1250 není.")
      .arg(bad.line + 1)
      .arg(bad.column + 1)
      .arg(bad.character)
      .arg(QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

void EncodeDumpText(std::string_view text, const ByteSink& write) {
  constexpr size_t kPiece = 256 * 1024;
  std::string piece;
  piece.reserve(kPiece + 4096);
  qsizetype index = 0;
  ForEachLine(text, [&](std::string_view line) {
    if (const std::optional<UnencodableChar> bad = AppendLineBytes(line, index, piece))
      throw Exception((UnencodableMessage(*bad) + QStringLiteral(" Soubor nebyl uložen.")).toStdString());
    piece += "\r\n";
    ++index;
    if (piece.size() >= kPiece) {
      write(piece);
      piece.clear();
    }
  });
  if (!piece.empty()) write(piece);
}

std::string EncodeDumpText(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size() + text.size() / 16);
  EncodeDumpText(text, [&](std::string_view piece) { bytes += piece; });
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

void WriteFileAtomically(const QString& path, const std::function<void(const ByteSink&)>& produce) {
  const QString target = ResolveTarget(path);
  QSaveFile file(target);
  file.setDirectWriteFallback(false);
  if (!file.open(QIODevice::WriteOnly)) Fail("Soubor %1 nelze vytvořit: %2", target, file.errorString());
  produce([&](std::string_view bytes) {
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
      Fail("Do souboru %1 nelze zapsat: %2", target, file.errorString());
  });
  if (!file.commit()) Fail("Soubor %1 nelze uložit: %2", target, file.errorString());
}

#else

namespace {

// The common reasons in Czech (Windows gives its own text in the user's
// language); the system's text for the rest.
QString SystemReason(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return QStringLiteral("disk je plný");
    case EROFS:
      return QStringLiteral("disk je jen pro čtení");
    case ENOENT:
    case ENOTDIR:
      return QStringLiteral("složka neexistuje");
    case EACCES:
    case EPERM:
      return QStringLiteral("přístup byl odepřen");
    case EFBIG:
      return QStringLiteral("soubor je pro tento disk příliš velký");
    default:
      return QString::fromStdString(std::system_category().message(error));
  }
}

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

void WriteFileAtomically(const QString& path, const std::function<void(const ByteSink&)>& produce) {
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

  produce([&](std::string_view bytes) {
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
  });
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

void WriteFileAtomically(const QString& path, std::string_view bytes) {
  WriteFileAtomically(path, [bytes](const ByteSink& write) { write(bytes); });
}

void SaveDumpFile(const QString& path, std::string_view text) {
  WriteFileAtomically(path, [text](const ByteSink& write) { EncodeDumpText(text, write); });
}
