// TIniFile over the profile functions: values, file preservation, failures,
// and the crash-safe replacement of the file.
#include "rtl/ini_file.h"

#include "tests/scratch.h"
#include "tests/whole_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#ifndef _WIN32
#include "winapi/store_file.h"

#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The file's lines that hold something, without their line ends: the layout
// around them is the platform's own.
std::string Content(const fs::path& path) {
  std::string content, line;
  std::istringstream in(ReadWholeFile(path));
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) content += line + "\n";
  }
  return content;
}

class RtlIniFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshTestFolder("ini_file_test");
    path_ = dir_ / "vazur.ini";
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  fs::path path_;
};

TEST_F(RtlIniFile, ValuesRoundTripAndMatchIgnoringCase) {
  TIniFile ini(path_.string());
  ini.WriteString("ComPort1", "Port", "COM3");
  ini.WriteInteger("ComPort1", "Timeouts.ReadInterval", -1);
  ini.WriteBool("ComPort1", "Flag", true);
  ini.WriteString("Other", "Port", "elsewhere");

  EXPECT_EQ(Content(path_), "[ComPort1]\nPort=COM3\nTimeouts.ReadInterval=-1\nFlag=1\n[Other]\nPort=elsewhere\n");
  TIniFile again(path_.string());
  EXPECT_EQ(again.ReadString("COMPORT1", "port", "x"), "COM3");
  EXPECT_EQ(again.ReadInteger("comport1", "TIMEOUTS.READINTERVAL", 5), -1);
  EXPECT_TRUE(again.ReadBool("ComPort1", "Flag", false));
  EXPECT_EQ(again.ReadString("Other", "Port", ""), "elsewhere");

  // Rewriting through another spelling changes the one value, not a second copy.
  again.WriteString("comport1", "PORT", "COM4");
  EXPECT_EQ(Content(path_), "[ComPort1]\nPort=COM4\nTimeouts.ReadInterval=-1\nFlag=1\n[Other]\nPort=elsewhere\n");
}

TEST_F(RtlIniFile, ValuesWithOuterBlanksOrQuotesReadBackUnchanged) {
  TIniFile ini(path_.string());
  for (const std::string value : {"  padded  ", "\ttab", "\"quoted\"", "'single'", "\"", "a \"b\" c", ""}) {
    ini.WriteString("S", "V", value);
    EXPECT_EQ(ini.ReadString("S", "V", "x"), value);
  }
  ini.WriteString("S", "V", " x");
  EXPECT_EQ(Content(path_), "[S]\nV=\" x\"\n");
}

// File names are UTF-8 on every platform; these letters fit one 8-bit code
// page only, which Windows need not be using.
TEST_F(RtlIniFile, RelativeNameIsTakenFromTheWorkingDirectoryWhateverItsLetters) {
  const fs::path folder = dir_ / fs::path(u8"Ústředny");
  fs::create_directories(folder);
  const fs::path saved = fs::current_path();
  fs::current_path(folder);
  TIniFile ini("relative.ini");
  fs::current_path(saved);
  const std::u8string expected = (folder / "relative.ini").u8string();
  EXPECT_EQ(ini.FileName(), std::string(expected.begin(), expected.end()));
  ini.WriteString("S", "V", "1");
  EXPECT_TRUE(fs::exists(folder / "relative.ini"));
  EXPECT_EQ(TIniFile(ini.FileName()).ReadString("S", "V", ""), "1");
}

TEST_F(RtlIniFile, MissingFileSectionOrValueGivesTheDefault) {
  TIniFile missing((dir_ / "none.ini").string());
  EXPECT_EQ(missing.ReadString("S", "V", "dflt"), "dflt");
  EXPECT_EQ(missing.ReadInteger("S", "V", 42), 42);
  EXPECT_FALSE(missing.SectionExists("S"));
  EXPECT_TRUE(missing.ReadSections().empty());
  EXPECT_FALSE(fs::exists(dir_ / "none.ini")) << "reading must not create the file";

  WriteWholeFile(path_, "[S]\nA=1\nEmpty=\n");
  TIniFile ini(path_.string());
  EXPECT_EQ(ini.ReadString("S", "B", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("T", "A", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("S", "Empty", "dflt"), "");
  EXPECT_TRUE(ini.SectionExists("s"));
  EXPECT_TRUE(ini.ValueExists("S", "empty"));
  EXPECT_FALSE(ini.ValueExists("S", "B"));
  EXPECT_EQ(ini.ReadSection("S"), (std::vector<std::string>{"A", "Empty"}));
}

TEST_F(RtlIniFile, ReadsFilesWrittenByOtherTools) {
  WriteWholeFile(path_,
            "\xEF\xBB\xBF; made by hand\r\n"
            "[ Port Settings ]\r\n"
            "  Port  =  COM5  \r\n"
            "Quoted=\"  spaced  \"\r\n"
            "Port=second copy\r\n"
            "Speed = $2580\r\n"
            "Hex=0x1f\r\n"
            "Bad=12abc\r\n"
            "Huge=99999999999\r\n"
            "Negative=-17\r\n"
            "[Port Settings]\r\n"
            "Later=ignored\r\n");
  TIniFile ini(path_.string());
  EXPECT_EQ(ini.ReadString("Port Settings", "Port", ""), "COM5");
  EXPECT_EQ(ini.ReadString("Port Settings", "Quoted", ""), "  spaced  ");
  EXPECT_EQ(ini.ReadInteger("Port Settings", "Speed", 0), 9600);
  EXPECT_EQ(ini.ReadInteger("Port Settings", "Hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("Port Settings", "Bad", 7), 7);
  EXPECT_EQ(ini.ReadInteger("Port Settings", "Huge", 7), 7);
  EXPECT_EQ(ini.ReadInteger("Port Settings", "Negative", 7), -17);
  EXPECT_FALSE(ini.ReadBool("Port Settings", "Missing", false));
  // Only the first section of a name counts, as Windows reads it.
  EXPECT_EQ(ini.ReadString("Port Settings", "Later", "none"), "none");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Port Settings"}));
}

// Found by fuzzing: a nameless section "[]" ended the list of names, so
// every section after it looked missing.
TEST_F(RtlIniFile, ANamelessSectionHidesNoOtherSection) {
  WriteWholeFile(path_, "[]\nOrphan=1\n[ComPort1]\nPort=COM3\n");
  TIniFile ini(path_.string());
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"ComPort1"}));
  EXPECT_TRUE(ini.SectionExists("ComPort1"));
  EXPECT_EQ(ini.ReadSection("ComPort1"), (std::vector<std::string>{"Port"}));
}

TEST_F(RtlIniFile, UnchangedValueAndMissingDeletesLeaveTheFileAlone) {
  WriteWholeFile(path_, "[S]\nA=1\n");
  const auto before = fs::last_write_time(path_);
  const auto mode = fs::status(path_).permissions();
  TIniFile ini(path_.string());
  ini.WriteString("S", "A", "1");
  ini.DeleteKey("S", "Nope");
  ini.EraseSection("Nope");
  EXPECT_EQ(fs::last_write_time(path_), before);
  EXPECT_EQ(fs::status(path_).permissions(), mode);

  TIniFile missing((dir_ / "none.ini").string());
  missing.DeleteKey("S", "A");
  missing.EraseSection("S");
  EXPECT_FALSE(fs::exists(dir_ / "none.ini"));
}

TEST_F(RtlIniFile, RefusesWhatWouldBreakTheFileAndNamesTheFailure) {
  WriteWholeFile(path_, "[S]\nA=1\n");
  TIniFile ini(path_.string());
  // The same refusal on every platform, before the file is touched.
  const std::vector<std::function<void()>> refused = {
      [&] { ini.WriteString("S", "A", "two\r\nlines"); },
      [&] { ini.WriteString("S", "A", std::string("nul\0inside", 10)); },
      [&] { ini.WriteString("S", "A=B", "x"); },
      [&] { ini.WriteString("S]", "A", "x"); },
      [&] { ini.WriteString("S", " ", "x"); },
      [&] { ini.WriteString("S", ";A", "x"); },
      [&] { ini.DeleteKey("S", "A=B"); },
      [&] { ini.EraseSection("S]"); },
  };
  for (size_t i = 0; i < refused.size(); ++i) {
    try {
      refused[i]();
      ADD_FAILURE() << "change " << i << " was not refused";
    } catch (const EIniFileException& e) {
      EXPECT_NE(std::string(e.what()).find("invalid name or value (Windows error 87)"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(ReadWholeFile(path_), "[S]\nA=1\n");

  TIniFile nowhere((dir_ / "no such folder" / "x.ini").string());
  try {
    nowhere.WriteString("ComPort1", "Port", "COM1");
    FAIL() << "writing into a missing folder must fail";
  } catch (const EIniFileException& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("x.ini"), std::string::npos) << message;
    EXPECT_NE(message.find("\"Port\""), std::string::npos) << message;
    EXPECT_NE(message.find("[ComPort1]"), std::string::npos) << message;
    EXPECT_NE(message.find("folder does not exist"), std::string::npos) << message;
  }
}

#ifdef _WIN32
// Windows keeps the file in its 8-bit code page: what is not UTF-8, or does
// not fit that code page, is refused rather than stored changed.
TEST_F(RtlIniFile, TextTheFileCannotHoldIsRefusedNotChanged) {
  TIniFile ini(path_.string());
  ini.WriteString("S", "A", "plain");
  const std::string notUtf8 = "\xC3";
  const std::string emoji = "\xF0\x9F\x98\x80";  // in no 8-bit code page
  EXPECT_THROW(ini.WriteString("S", "A", notUtf8), EIniFileException);
  EXPECT_THROW(ini.WriteString("S", notUtf8, "x"), EIniFileException);
  if (GetACP() != CP_UTF8) {
    try {
      ini.WriteString("S", "A", "smile " + emoji);
      ADD_FAILURE() << "stored changed";
    } catch (const EIniFileException& e) {
      EXPECT_NE(std::string(e.what()).find("cannot hold"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(ini.ReadString("S", "A", ""), "plain");
}
#endif

// ---- The POSIX profile functions: every other line kept, permissions,
// links, crash safety ----
#ifndef _WIN32

TEST_F(RtlIniFile, WritingKeepsCommentsUnknownLinesAndLineEnds) {
  const std::string original =
      "; Vazur port settings\r\n"
      "\r\n"
      "[ComPort1]\r\n"
      "# chosen for the VQ exchange\r\n"
      "Port = COM1\r\n"
      "this line means something to another tool\r\n"
      "BaudRate=1200\r\n"
      "\r\n"
      "; the next section belongs to someone else\r\n"
      "[Other]\r\n"
      "Keep=me\r\n";
  WriteWholeFile(path_, original);
  TIniFile ini(path_.string());
  ini.WriteString("ComPort1", "Port", "COM2");        // changed in place, its spacing kept
  ini.WriteString("ComPort1", "StopBits", "2");       // added after the section's last value
  ini.WriteString("New", "Value", "x");               // a new section at the end
  EXPECT_EQ(ReadWholeFile(path_),
            "; Vazur port settings\r\n"
            "\r\n"
            "[ComPort1]\r\n"
            "# chosen for the VQ exchange\r\n"
            "Port = COM2\r\n"
            "this line means something to another tool\r\n"
            "BaudRate=1200\r\n"
            "StopBits=2\r\n"
            "\r\n"
            "; the next section belongs to someone else\r\n"
            "[Other]\r\n"
            "Keep=me\r\n"
            "\r\n"
            "[New]\r\n"
            "Value=x\r\n");

  ini.DeleteKey("ComPort1", "BaudRate");
  ini.EraseSection("New");
  EXPECT_EQ(ReadWholeFile(path_),
            "; Vazur port settings\r\n"
            "\r\n"
            "[ComPort1]\r\n"
            "# chosen for the VQ exchange\r\n"
            "Port = COM2\r\n"
            "this line means something to another tool\r\n"
            "StopBits=2\r\n"
            "\r\n"
            "; the next section belongs to someone else\r\n"
            "[Other]\r\n"
            "Keep=me\r\n"
            "\r\n");
}

TEST_F(RtlIniFile, NewFileGetsOrdinaryPermissionsAndAnExistingFileKeepsItsOwn) {
  TIniFile ini(path_.string());
  ini.WriteString("S", "A", "1");
  const auto mode = fs::status(path_).permissions();
  EXPECT_NE(mode & fs::perms::owner_read, fs::perms::none);
  EXPECT_NE(mode & fs::perms::owner_write, fs::perms::none);

  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ini.WriteString("S", "A", "2");
  EXPECT_EQ(fs::status(path_).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(RtlIniFile, WritesThroughASymbolicLinkToItsTarget) {
  const fs::path target = dir_ / "real.ini";
  WriteWholeFile(target, "[S]\nA=1\n");
  fs::create_symlink(target, path_);
  TIniFile ini(path_.string());
  ini.WriteString("S", "A", "2");
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(ReadWholeFile(target), "[S]\nA=2\n");
}

TEST_F(RtlIniFile, LeftoverTornTemporaryFileNeitherShowsNorBlocks) {
  WriteWholeFile(path_, "[S]\nA=old\n");
  const fs::path temporary = store_file::TemporaryPathFor(path_.string());
  WriteWholeFile(temporary, "[S]\nA=half-wri");  // what a crash mid-write leaves
  TIniFile ini(path_.string());
  EXPECT_EQ(ini.ReadString("S", "A", ""), "old");
  ini.WriteString("S", "B", "new");
  EXPECT_EQ(ReadWholeFile(path_), "[S]\nA=old\nB=new\n");
  EXPECT_FALSE(fs::exists(temporary));
}

TEST_F(RtlIniFile, ProcessKilledBeforeTheReplaceLeavesTheOldFile) {
  WriteWholeFile(path_, "; keep\n[S]\nA=old\n");
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    store_file::SetBeforeRenameHookForTests([] { ::_exit(3); });
    TIniFile ini(path_.string());
    ini.WriteString("S", "A", "new");
    ::_exit(0);  // not reached: the hook ends the process first
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 3) << "the writer did not reach the replace step";

  EXPECT_EQ(ReadWholeFile(path_), "; keep\n[S]\nA=old\n");
  EXPECT_TRUE(fs::exists(store_file::TemporaryPathFor(path_.string())));
  TIniFile ini(path_.string());
  EXPECT_EQ(ini.ReadString("S", "A", ""), "old");
  ini.WriteString("S", "A", "newer");
  EXPECT_EQ(ReadWholeFile(path_), "; keep\n[S]\nA=newer\n");
}

TEST_F(RtlIniFile, ConcurrentWritersLoseNoValue) {
  constexpr int kWrites = 25;
  auto writer = [this](const std::string& prefix) {
    TIniFile ini(path_.string());
    for (int i = 0; i < kWrites; ++i) ini.WriteInteger("S", prefix + std::to_string(i), i);
  };
  std::thread a(writer, "a");
  std::thread b(writer, "b");
  a.join();
  b.join();
  TIniFile ini(path_.string());
  EXPECT_EQ(ini.ReadSection("S").size(), 2u * kWrites);
  for (int i = 0; i < kWrites; ++i) {
    EXPECT_EQ(ini.ReadInteger("S", "a" + std::to_string(i), -1), i);
    EXPECT_EQ(ini.ReadInteger("S", "b" + std::to_string(i), -1), i);
  }
}

#endif  // !_WIN32

}  // namespace
