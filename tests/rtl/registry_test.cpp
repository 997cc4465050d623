// TRegistry over the registry functions and their file store: typed values,
// key paths, failures with their own messages, and crash safety.
#include "rtl/registry.h"

#include "tests/scratch.h"
#include "tests/whole_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#ifndef _WIN32
#include "winapi/store_file.h"

#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

template <typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const ERegistryException& e) {
    return e.what();
  }
  return "(no exception)";
}

class RtlRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshTestFolder("registry_test");
    store_ = dir_ / "registry";
    registry_ = std::make_unique<PrivateRegistry>(dir_);
  }
  void TearDown() override {
    registry_.reset();
    fs::remove_all(dir_);
  }

  fs::path dir_;
  fs::path store_;  // POSIX: the registry's store file
  std::unique_ptr<PrivateRegistry> registry_;
};

TEST_F(RtlRegistry, TypedValuesRoundTripThroughTheStoreFile) {
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Vazur\\Test", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Vazur\\Test");
    reg.WriteString("Port", "COM3");
    reg.WriteInteger("Timeouts.ReadInterval", -1);
    reg.WriteInteger("CustomBaudRate", 9600);
    reg.WriteBool("Flag", true);
    reg.WriteString("Empty", "");
  }
#ifndef _WIN32
  const std::string text = ReadWholeFile(store_);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Vazur\\Test]"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Port\"=\"COM3\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"Timeouts.ReadInterval\"=dword:ffffffff"), std::string::npos) << text;
  EXPECT_NE(text.find("\"CustomBaudRate\"=dword:00002580"), std::string::npos) << text;
#endif

  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\software\\VAZUR\\test", false));
  EXPECT_EQ(reg.ReadString("port"), "COM3");
  EXPECT_EQ(reg.ReadInteger("Timeouts.ReadInterval"), -1);
  EXPECT_EQ(reg.ReadInteger("CustomBaudRate"), 9600);
  EXPECT_TRUE(reg.ReadBool("Flag"));
  EXPECT_EQ(reg.ReadString("Empty"), "");
  EXPECT_TRUE(reg.ValueExists("Empty"));
  EXPECT_EQ(reg.GetDataType("Port"), rdString);
  EXPECT_EQ(reg.GetDataType("CustomBaudRate"), rdInteger);
  EXPECT_EQ(reg.GetDataSize("Port"), 5);
  EXPECT_EQ(reg.GetDataType("Missing"), rdUnknown);
  EXPECT_EQ(reg.GetDataSize("Missing"), -1);
  std::vector<std::string> names = reg.GetValueNames();
#ifdef _WIN32
  std::sort(names.begin(), names.end());  // Windows promises no order
  EXPECT_EQ(names, (std::vector<std::string>{"CustomBaudRate", "Empty", "Flag", "Port", "Timeouts.ReadInterval"}));
#else
  EXPECT_EQ(names, (std::vector<std::string>{"Port", "Timeouts.ReadInterval", "CustomBaudRate", "Flag", "Empty"}));
#endif
}

TEST_F(RtlRegistry, AnyTextSurvivesTheStoreUnchanged) {
  std::string text = "quote \" backslash \\ tab\t cr\r lf\n ";
  for (int c = 1; c < 256; ++c) text += static_cast<char>(c);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Vazur", true));
  reg.WriteString("odd \"name\" \\ \x8a", text);
  EXPECT_EQ(reg.ReadString("odd \"name\" \\ \x8a"), text);
#ifndef _WIN32
  // The store itself stays plain printable ASCII, one value per line.
  for (const char c : ReadWholeFile(store_)) {
    EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << static_cast<int>(static_cast<unsigned char>(c));
  }
#endif
}

TEST_F(RtlRegistry, MissingAndMistypedValuesFailWithTheirOwnErrors) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Vazur", true));
  reg.WriteString("Text", "12");
  reg.WriteInteger("Number", 12);

  EXPECT_EQ(reg.ReadString("Missing"), "") << "a missing text reads as empty";
  const std::string missing = MessageOf([&] { reg.ReadInteger("Buffer.InputSize"); });
  EXPECT_NE(missing.find("\"Buffer.InputSize\""), std::string::npos) << missing;
  EXPECT_NE(missing.find("missing"), std::string::npos) << missing;
  EXPECT_NE(missing.find("HKEY_CURRENT_USER\\Software\\Vazur"), std::string::npos) << missing;

  const std::string mistyped = MessageOf([&] { reg.ReadInteger("Text"); });
  EXPECT_NE(mistyped.find("\"Text\""), std::string::npos) << mistyped;
  EXPECT_NE(mistyped.find("not an integer"), std::string::npos) << mistyped;

  const std::string notText = MessageOf([&] { reg.ReadString("Number"); });
  EXPECT_NE(notText.find("not text"), std::string::npos) << notText;

  TRegistry closed;
  const std::string noKey = MessageOf([&] { closed.WriteString("Port", "COM1"); });
  EXPECT_NE(noKey.find("no registry key is open"), std::string::npos) << noKey;
}

TEST_F(RtlRegistry, KeysOpenRelativeToTheOpenKeyOrFromTheRoot) {
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("Software\\Nowhere", false));
  EXPECT_EQ(reg.LastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(reg.KeyExists("Software\\Nowhere"));

  ASSERT_TRUE(reg.OpenKey("Software", true));
  ASSERT_TRUE(reg.OpenKey("Vazur\\Ports", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Vazur\\Ports");
  reg.WriteString("Port", "COM2");
  ASSERT_TRUE(reg.OpenKey("\\Software\\Vazur", false));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Vazur");
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"Ports"}));
  EXPECT_TRUE(reg.HasSubKeys());
  EXPECT_FALSE(reg.DeleteKey("\\Software\\Vazur")) << "a key with subkeys stays";
  EXPECT_TRUE(reg.DeleteKey("Ports"));
  EXPECT_FALSE(reg.KeyExists("Ports"));
  EXPECT_FALSE(reg.HasSubKeys());

  // Roots are separate trees.
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(reg.CurrentKey(), nullptr);
  EXPECT_FALSE(reg.KeyExists("\\Software\\Vazur"));
}

TEST_F(RtlRegistry, ReadOnlyKeyRefusesWritesAndDeletedValuesAreGone) {
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Vazur", true));
    reg.WriteString("Port", "COM1");
    reg.WriteString("Other", "x");
    EXPECT_TRUE(reg.DeleteValue("other"));
    EXPECT_FALSE(reg.DeleteValue("Other"));
    EXPECT_FALSE(reg.ValueExists("Other"));
  }
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\Vazur"));
  EXPECT_EQ(reg.ReadString("Port"), "COM1");
  const std::string denied = MessageOf([&] { reg.WriteString("Port", "COM2"); });
  EXPECT_NE(denied.find("access denied"), std::string::npos) << denied;
  EXPECT_EQ(reg.ReadString("Port"), "COM1");
}

TEST_F(RtlRegistry, ChangesMadeThroughOneObjectAreSeenByAnother) {
  TRegistry a, b;
  ASSERT_TRUE(a.OpenKey("Software\\Vazur", true));
  ASSERT_TRUE(b.OpenKey("Software\\Vazur", false));
  a.WriteInteger("N", 1);
  EXPECT_EQ(b.ReadInteger("N"), 1);
  b.WriteInteger("N", 2);
  EXPECT_EQ(a.ReadInteger("N"), 2);
  EXPECT_TRUE(a.DeleteKey("\\Software\\Vazur"));
  const std::string gone = MessageOf([&] { b.WriteInteger("N", 3); });
  EXPECT_NE(gone.find("deleted"), std::string::npos) << gone;
}

// ---- The POSIX store file ----
#ifndef _WIN32

TEST_F(RtlRegistry, DamagedStoreIsReportedAndNeverOverwritten) {
  const std::string damaged = "[HKEY_CURRENT_USER\\Software\\Vazur]\n\"Port\"=\"COM1\"\nthis is not a value\n";
  WriteWholeFile(store_, damaged);
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("Software\\Vazur", false));
  EXPECT_EQ(reg.LastError(), ERROR_BADDB);
  EXPECT_FALSE(reg.OpenKey("Software\\Vazur", true));
  EXPECT_NE(StoreErrorText(reg.LastError()).find("damaged"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(store_), damaged);
}

TEST_F(RtlRegistry, StoreFollowsTheConfigurationDirectory) {
  ::unsetenv("VAZUR_REGISTRY_FILE");
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = oldConfig != nullptr ? oldConfig : "";
  ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Vazur", true));
    reg.WriteInteger("N", 5);
  }
  if (oldConfig != nullptr) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  const fs::path store = dir_ / "config" / "vazur" / "registry";
  ASSERT_TRUE(fs::exists(store));
  EXPECT_EQ(fs::status(store).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none)
      << "the store is private to its user";
}

TEST_F(RtlRegistry, TornTemporaryFileIsIgnoredAndReplaced) {
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Vazur", true));
    reg.WriteString("Port", "COM1");
  }
  const fs::path temporary = store_file::TemporaryPathFor(store_.string());
  WriteWholeFile(temporary, "[HKEY_CURRENT_USER\\Software\\Vazur]\n\"Port\"=\"CO");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Vazur", false));
  EXPECT_EQ(reg.ReadString("Port"), "COM1");
  reg.WriteString("Port", "COM2");
  EXPECT_EQ(reg.ReadString("Port"), "COM2");
  EXPECT_FALSE(fs::exists(temporary));
}

TEST_F(RtlRegistry, ProcessKilledBeforeTheReplaceLeavesTheOldStore) {
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Vazur", true));
    reg.WriteString("Port", "COM1");
  }
  const std::string before = ReadWholeFile(store_);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    store_file::SetBeforeRenameHookForTests([] { ::_exit(3); });
    TRegistry reg;
    if (reg.OpenKey("Software\\Vazur", false)) reg.WriteString("Port", "COM9");
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 3) << "the writer did not reach the replace step";
  EXPECT_EQ(ReadWholeFile(store_), before);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Vazur", false));
  EXPECT_EQ(reg.ReadString("Port"), "COM1");
}

TEST_F(RtlRegistry, ConcurrentWritersLoseNoValue) {
  constexpr int kWrites = 25;
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Vazur", true));
  }
  auto writer = [](const std::string& prefix) {
    TRegistry reg;
    if (!reg.OpenKey("Software\\Vazur", false)) return;
    for (int i = 0; i < kWrites; ++i) reg.WriteInteger(prefix + std::to_string(i), i);
  };
  std::thread a(writer, "a");
  std::thread b(writer, "b");
  a.join();
  b.join();
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Vazur", false));
  EXPECT_EQ(reg.GetValueNames().size(), 2u * kWrites);
  for (int i = 0; i < kWrites; ++i) {
    EXPECT_EQ(reg.ReadInteger("a" + std::to_string(i)), i);
    EXPECT_EQ(reg.ReadInteger("b" + std::to_string(i)), i);
  }
}

#endif  // !_WIN32

}  // namespace
