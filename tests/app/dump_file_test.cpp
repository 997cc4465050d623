// Dump files: the bytes of the pane's lines and the atomic write.
#include "app/dump_file.h"
#include "app/dump_text.h"
#include "rtl/classes.h"
#include "tests/whole_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

std::string Utf8(const QString& text) { return text.toUtf8().toStdString(); }
// Through the UTF-16 name: a narrow one is the ANSI code page on Windows.
std::string ReadBytes(const QString& path) { return ReadWholeFile(path.toStdU16String()); }
void WriteBytes(const QString& path, const std::string& bytes) { WriteWholeFile(path.toStdU16String(), bytes); }

TEST(AppDumpFile, LinesBecomeWindows1250WithCrLf) {
  EXPECT_EQ(EncodeDumpText(""), "");
  EXPECT_EQ(EncodeDumpText("\n"), "\r\n");
  EXPECT_EQ(EncodeDumpText("a"), "a\r\n") << "the last line gets its end";
  EXPECT_EQ(EncodeDumpText(Utf8(QStringLiteral("Příjem\n") + QChar(0x2400) + QChar(0x81) + QChar(0x2028) + "x\n")),
            "P\xf8\xedjem\r\n" + std::string("\0\x81\r\nx\r\n", 7));
  // Large texts go out in pieces, whole lines and nothing lost.
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "0000: 77 12 AB 77 00 FF 01 02 03 04 05 06 07 08 09 0A\n";
  std::string joined;
  int pieces = 0;
  EncodeDumpText(big, [&](std::string_view piece) {
    ++pieces;
    joined += piece;
  });
  EXPECT_GT(pieces, 1);
  std::erase(joined, '\r');
  EXPECT_EQ(joined, big);
}

TEST(AppDumpFile, AnUnencodableCharacterNamesItsLineAndNothingIsWritten) {
  try {
    EncodeDumpText(Utf8(QStringLiteral("ok\na😀")));
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(QString::fromStdString(e.Message()),
              QStringLiteral("Řádek 2 obsahuje na pozici 2 znak „😀“ (U+1F600), který v kódu Windows-1250 není. "
                             "Soubor nebyl uložen."));
  }
  // Text pasted from a file that starts with a byte order mark.
  const std::optional<UnencodableChar> bom = FindUnencodable(Utf8(QStringLiteral("ok\n\uFEFFline")));
  ASSERT_TRUE(bom.has_value());
  EXPECT_EQ(UnencodableMessage(*bom),
            QStringLiteral("Řádek 2 obsahuje na pozici 1 znak „\uFEFF“ (U+FEFF), který v kódu Windows-1250 není."));
  // Found when the lines before it are already on their way to the disk:
  // the old file stays whole and no piece of the new one is left.
  QTemporaryDir temp;
  const QString target = temp.filePath("d.nvr");
  WriteBytes(target, "old\r\n");
  std::string text(600000, 'x');
  text += "\n\u00f1\n";  // ñ, which Windows-1250 lacks
  EXPECT_THROW(SaveDumpFile(target, text), Exception);
  EXPECT_EQ(ReadBytes(target), "old\r\n");
  EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1);
}

// A file saved by a modern editor is UTF-8; the exchange's dumps are
// Windows-1250, whose Czech letters are single bytes.
TEST(AppDumpFile, Utf8TextIsToldFromAWindows1250Dump) {
  EXPECT_TRUE(LooksLikeUtf8Text("0000 P\xC5\x99\xC3\xADjem\r\n"));
  EXPECT_TRUE(LooksLikeUtf8Text("\xEF\xBB\xBF" "0000 A1\r\n")) << "a byte order mark, ASCII after it";
  EXPECT_TRUE(LooksLikeUtf8Text("\xF0\x9F\x98\x80"));
  EXPECT_FALSE(LooksLikeUtf8Text("0000 A1 77\r\n")) << "plain ASCII is a dump as much as UTF-8";
  EXPECT_FALSE(LooksLikeUtf8Text("0000 P\xF8\xEDjem \x8A\x9E\r\n")) << "Windows-1250";
  EXPECT_FALSE(LooksLikeUtf8Text("\xC5\x99 then \xF8")) << "one stray byte makes it not UTF-8";
  EXPECT_FALSE(LooksLikeUtf8Text("\xC3")) << "cut off";
  EXPECT_FALSE(LooksLikeUtf8Text("\xC0\x80")) << "over-long";
  EXPECT_FALSE(LooksLikeUtf8Text("\xED\xA0\x80")) << "a surrogate";
  EXPECT_FALSE(LooksLikeUtf8Text("\xF4\x90\x80\x80")) << "past U+10FFFF";
}

TEST(AppDumpFile, ReplacesAFileWholeKeepingItsPermissionsAndFollowingLinks) {
  QTemporaryDir temp;
  const QString target = temp.filePath("d.nvr");
  WriteBytes(target, "old");
#ifdef _WIN32
  WriteFileAtomically(target, "new\r\n");
  EXPECT_EQ(ReadBytes(target), "new\r\n");
  EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1);
#else
  ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
  WriteFileAtomically(target, "new\r\n");
  EXPECT_EQ(ReadBytes(target), "new\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  const QString link = temp.filePath("link.nvr");
  ASSERT_TRUE(QFile::link(target, link));
  WriteFileAtomically(link, "via link");
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(ReadBytes(target), "via link");
  EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
#endif
}

TEST(AppDumpFile, AFailureSaysWhichFileAndWhyAndLeavesNothing) {
  QTemporaryDir temp;
  const QString missing = temp.filePath("gone/d.nvr");
  try {
    WriteFileAtomically(missing, "x");
    FAIL() << "no error";
  } catch (const Exception& e) {
    const QString text = QString::fromStdString(e.Message());
    EXPECT_TRUE(text.startsWith(QStringLiteral("Soubor ") + QDir::toNativeSeparators(missing) +
                                QStringLiteral(" nelze vytvořit: ")))
        << e.Message();
#ifndef _WIN32
    // The common reasons in Czech (Windows words them in the user's language).
    EXPECT_TRUE(text.endsWith(QStringLiteral(": složka neexistuje"))) << e.Message();
#endif
  }
  // A directory in the way: the old content (the directory) stays; a rarer
  // reason keeps the system's words.
  ASSERT_TRUE(QDir(temp.path()).mkdir("dir.nvr"));
  try {
    WriteFileAtomically(temp.filePath("dir.nvr"), "x");
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
#ifndef _WIN32
    EXPECT_TRUE(QString::fromStdString(e.Message()).endsWith(QString::fromStdString(std::strerror(EISDIR))))
        << e.Message();
#endif
  }
  EXPECT_TRUE(QFileInfo(temp.filePath("dir.nvr")).isDir());
  EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 0);
}

}  // namespace
