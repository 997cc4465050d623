// Dump files: the bytes of the pane's lines and the atomic write.
#include "app/dump_file.h"
#include "rtl/classes.h"
#include "tests/app/transfer_test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

TEST(AppDumpFile, LinesBecomeWindows1250WithCrLf) {
  EXPECT_EQ(EncodeDumpLines({}), "");
  EXPECT_EQ(EncodeDumpLines({QString()}), "\r\n");
  EXPECT_EQ(EncodeDumpLines({QStringLiteral("Příjem"), QString(QChar(0x2400)) + QChar(0x81)}),
            "P\xf8\xedjem\r\n" + std::string("\0\x81\r\n", 4));
}

TEST(AppDumpFile, AnUnencodableCharacterNamesItsLineAndNothingIsWritten) {
  try {
    EncodeDumpLines({QStringLiteral("ok"), QStringLiteral("a") + QString::fromUcs4(U"😀").front() +
                                               QString::fromUcs4(U"😀").back()});
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(QString::fromStdString(e.Message()),
              QStringLiteral("Řádek 2 obsahuje na pozici 2 znak „😀“ (U+1F600), který v kódu Windows-1250 není. "
                             "Soubor nebyl uložen."));
  }
}

TEST(AppDumpFile, ReplacesAFileWholeKeepingItsPermissionsAndFollowingLinks) {
  QTemporaryDir temp;
  const QString target = temp.filePath("d.nvr");
  WriteBytes(target, "old");
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
  }
  // A directory in the way: the old content (the directory) stays.
  ASSERT_TRUE(QDir(temp.path()).mkdir("dir.nvr"));
  EXPECT_THROW(WriteFileAtomically(temp.filePath("dir.nvr"), "x"), Exception);
  EXPECT_TRUE(QFileInfo(temp.filePath("dir.nvr")).isDir());
  EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 0);
}

}  // namespace
