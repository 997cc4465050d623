// The port enumeration against the system's own list: COM names only, cut at
// their colon, appended in the system's order.
#include "serial_ui/port_enumeration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool IsComName(const std::string& name) {
  return name.size() > 3 && name.compare(0, 3, "COM") == 0 &&
         std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// COM5 and COM6 are the test line's two ends: mapped here on POSIX, by
// ./test --windows in the Wine prefix (next to the system's LPT and FILE ports).
TEST(PortEnumeration, ListsTheComPortsOnlyByTheirNames) {
#ifndef _WIN32
  setenv("VAZUR_PORT_MAP", "COM5=/dev/null,COM6=/dev/null", 1);
#endif
  std::vector<std::string> names{"kept"};
  EnumerateComPorts(names);
#ifndef _WIN32
  unsetenv("VAZUR_PORT_MAP");
#endif
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names.front(), "kept");  // appends
  for (size_t i = 1; i < names.size(); ++i) EXPECT_TRUE(IsComName(names[i])) << names[i];
  for (const char* name : {"COM5", "COM6"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

}  // namespace
