// COM names: VAZUR_PORT_MAP, automatic numbering, EnumPorts.
#include "winapi/port_map.h"
#include "winapi/port_names.h"
#include "winapi/win32.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

namespace {

std::vector<std::string> Enumerated() {
  DWORD needed = 0, returned = 0;
  std::vector<std::string> names;
  if (EnumPorts(nullptr, 1, nullptr, 0, &needed, &returned)) return names;
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> buf(needed);
  EXPECT_TRUE(EnumPorts(nullptr, 1, buf.data(), needed, &needed, &returned));
  auto* info = reinterpret_cast<PORT_INFO_1*>(buf.data());
  for (DWORD i = 0; i < returned; ++i) names.push_back(info[i].pName);
  return names;
}

class WinapiPortMap : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("VAZUR_PORT_MAP"); }
};

TEST_F(WinapiPortMap, EnvironmentEntriesAndMalformedOnes) {
  setenv("VAZUR_PORT_MAP", "COM52=/dev/vazur-a, com53 = /dev/vazur-b,bogus,COM54=relative,COM0=/dev/x,COM52=/dev/c,",
         1);
  EXPECT_EQ(PortDevicePath("COM52"), "/dev/vazur-a");  // the first entry for a name holds
  EXPECT_EQ(PortDevicePath("com53"), "/dev/vazur-b");
  EXPECT_EQ(PortDevicePath("\\\\.\\COM53"), "/dev/vazur-b");
  EXPECT_EQ(PortDevicePath("COM54"), "");
  EXPECT_EQ(PortDevicePath("LPT1"), "");
  std::set<std::string> names;
  for (const auto& [name, path] : ListPortMap()) {
    EXPECT_TRUE(names.insert(name).second) << name << " listed twice";
    EXPECT_NE(path, "/dev/x");
  }
  EXPECT_TRUE(names.count("COM52"));
  EXPECT_TRUE(names.count("COM53"));
}

TEST_F(WinapiPortMap, MachineDevicesInNumberingOrder) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("vazur-ports-" + std::to_string(getpid()));
  fs::create_directories(root / "dev");
  for (const char* n : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyUSBx", "tty0"})
    std::ofstream(root / "dev" / n).put('\n');
  auto put = [&](const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  };
  put(root / "sys/class/tty/ttyS0/type", "4\n");  // the console
  put(root / "sys/class/tty/ttyS1/type", "0\n");  // no UART behind it
  put(root / "sys/class/tty/ttyS2/type", "4\n");
  put(root / "sys/class/tty/console/active", "tty0 ttyS0\n");
  const std::string dev = (root / "dev").string();
  EXPECT_EQ(winapi::MachineDevices(dev, (root / "sys").string()),
            (std::vector<std::string>{dev + "/ttyUSB2", dev + "/ttyUSB10", dev + "/ttyACM0", dev + "/ttyS2"}));
  fs::remove_all(root);
}

TEST_F(WinapiPortMap, MachineDevicesAreNumberedAroundTheMap) {
  unsetenv("VAZUR_PORT_MAP");
  const auto machine = ListPortMap();
  if (machine.empty()) GTEST_SKIP() << "no serial devices on this machine";
  // Numbering starts at COM1 and is dense without a map.
  for (size_t i = 0; i < machine.size(); ++i) EXPECT_EQ(machine[i].first, "COM" + std::to_string(i + 1));
  // A name taken by the map is skipped; a device mapped by hand is not numbered again.
  const std::string first = machine[0].second;
  setenv("VAZUR_PORT_MAP", ("COM1=/dev/vazur-x,COM60=" + first).c_str(), 1);
  const auto mapped = ListPortMap();
  int seen = 0;
  for (const auto& [name, path] : mapped) {
    if (path == first) {
      ++seen;
      EXPECT_EQ(name, "COM60");
    }
  }
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(PortDevicePath("COM1"), "/dev/vazur-x");
  EXPECT_EQ(mapped.size(), machine.size() + 1);
}

TEST_F(WinapiPortMap, EnumPortsListsExactlyTheMappedNamesInOrder) {
  setenv("VAZUR_PORT_MAP", "COM61=/dev/vazur-a,COM59=/dev/vazur-b", 1);
  const auto map = ListPortMap();
  const auto names = Enumerated();
  ASSERT_EQ(names.size(), map.size());
  for (size_t i = 0; i < map.size(); ++i) EXPECT_EQ(names[i], map[i].first + ":");
  // By number.
  auto pos = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_LT(pos("COM59:"), pos("COM61:"));
}

TEST_F(WinapiPortMap, EnumPortsBufferProtocol) {
  setenv("VAZUR_PORT_MAP", "COM61=/dev/vazur-a", 1);
  DWORD needed = 0, returned = 7;
  ASSERT_FALSE(EnumPorts(nullptr, 1, nullptr, 0, &needed, &returned));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(returned, 0u);
  ASSERT_GE(needed, sizeof(PORT_INFO_1) + 7);
  std::vector<BYTE> buf(needed);
  EXPECT_FALSE(EnumPorts(nullptr, 1, buf.data(), needed - 1, &needed, &returned));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_TRUE(EnumPorts(nullptr, 1, buf.data(), needed, &needed, &returned));
  EXPECT_GE(returned, 1u);
  // The strings live inside the buffer.
  auto* info = reinterpret_cast<PORT_INFO_1*>(buf.data());
  for (DWORD i = 0; i < returned; ++i) {
    EXPECT_GE(reinterpret_cast<BYTE*>(info[i].pName), buf.data());
    EXPECT_LT(reinterpret_cast<BYTE*>(info[i].pName), buf.data() + needed);
  }
  EXPECT_FALSE(EnumPorts(nullptr, 2, buf.data(), needed, &needed, &returned));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
}

}  // namespace
