// COM names to device paths.
#include "winapi/port_map.h"

#include "winapi/port_names.h"
#include "winapi/virtual_registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

namespace winapi {

namespace {

constexpr const char* kVirtualPath = "(virtual test device)";

// The number of "COMn" (any case), or 0.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  int n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n >= 1 && n <= 255 ? n : 0;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

void WarnOnce(const std::string& text) {
  static std::mutex m;
  static std::set<std::string> warned;
  std::lock_guard<std::mutex> lock(m);
  if (warned.insert(text).second) std::fprintf(stderr, "vazur: %s\n", text.c_str());
}

// The entries of VAZUR_PORT_MAP, by COM number.
std::map<int, std::string> EnvironmentMap() {
  std::map<int, std::string> map;
  const char* env = std::getenv("VAZUR_PORT_MAP");
  if (env == nullptr) return map;
  const std::string text(env);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string entry = Trim(text.substr(start, end - start));
    start = end + 1;
    if (entry.empty()) continue;
    const size_t eq = entry.find('=');
    const int number = eq == std::string::npos ? 0 : ComNumber(Trim(entry.substr(0, eq)));
    const std::string path = eq == std::string::npos ? std::string() : Trim(entry.substr(eq + 1));
    if (number == 0 || path.empty() || path[0] != '/') {
      WarnOnce("VAZUR_PORT_MAP: ignoring \"" + entry + "\" (expected COMn=/dev/device)");
      continue;
    }
    if (!map.emplace(number, path).second)
      WarnOnce("VAZUR_PORT_MAP: COM" + std::to_string(number) + " is mapped twice; the first entry holds");
  }
  return map;
}

int TrailingNumber(const std::string& name, size_t prefix) {
  if (name.size() <= prefix) return -1;
  int n = 0;
  for (size_t i = prefix; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

// A ttyS node exists for every possible UART; only those with hardware behind
// them have a known type.
bool UartExists(const std::string& devDir, const std::string& sysDir, const std::string& name) {
  std::ifstream typeFile(sysDir + "/class/tty/" + name + "/type");
  int type = 0;
  if (typeFile >> type) return type != PORT_UNKNOWN;
  const int fd = open((devDir + "/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info {};
  const bool exists = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  close(fd);
  return exists;
}

// The kernel's console (console=ttyS0) is not a free port: numbering it
// would let the program reconfigure the system console.
std::set<std::string> ConsoleDevices(const std::string& sysDir) {
  std::set<std::string> names;
  std::ifstream active(sysDir + "/class/tty/console/active");
  std::string name;
  while (active >> name) names.insert(name);
  return names;
}

}  // namespace

std::vector<std::string> MachineDevices(const std::string& devDir, const std::string& sysDir) {
  const std::set<std::string> consoles = ConsoleDevices(sysDir);
  static const char* const kGroups[] = {"ttyUSB", "ttyACM", "ttyS"};
  std::vector<std::pair<int, std::string>> groups[3];
  if (DIR* dir = opendir(devDir.c_str())) {
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      for (int g = 0; g < 3; ++g) {
        const size_t len = std::char_traits<char>::length(kGroups[g]);
        if (name.compare(0, len, kGroups[g]) != 0) continue;
        const int n = TrailingNumber(name, len);
        if (n >= 0) groups[g].emplace_back(n, name);
      }
    }
    closedir(dir);
  }
  std::vector<std::string> devices;
  for (int g = 0; g < 3; ++g) {
    std::sort(groups[g].begin(), groups[g].end());
    for (const auto& [n, name] : groups[g])
      if (!consoles.count(name) && (g < 2 || UartExists(devDir, sysDir, name)))
        devices.push_back(devDir + "/" + name);
  }
  return devices;
}

namespace {

std::string CanonicalPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string s(real);
  std::free(real);
  return s;
}

std::string ComName(int n) { return "COM" + std::to_string(n); }

}  // namespace

std::string ComNameFromFileName(const std::string& fileName) {
  std::string name = fileName;
  if (name.compare(0, 4, "\\\\.\\") == 0) name = name.substr(4);
  if (!name.empty() && name.back() == ':') name.pop_back();
  const int n = ComNumber(name);
  return n ? ComName(n) : std::string();
}

std::vector<PortEntry> CurrentPorts() {
  std::map<int, PortEntry> ports;
  std::set<std::string> mappedPaths;
  for (const auto& [n, path] : EnvironmentMap()) {
    ports[n] = PortEntry{ComName(n), path, false};
    mappedPaths.insert(CanonicalPath(path));
  }
  int next = 1;
  const std::vector<std::string> machine =
      MachinePortsHidden() ? std::vector<std::string>() : MachineDevices("/dev", "/sys");
  for (const std::string& device : machine) {
    if (mappedPaths.count(CanonicalPath(device))) continue;
    while (next <= 255 && ports.count(next)) ++next;
    if (next > 255) break;
    ports[next] = PortEntry{ComName(next), device, false};
  }
  for (const std::string& name : VirtualDeviceNames())
    if (int n = ComNumber(name)) ports[n] = PortEntry{ComName(n), kVirtualPath, true};
  std::vector<PortEntry> list;
  for (auto& [n, entry] : ports) list.push_back(std::move(entry));
  return list;
}

}  // namespace winapi

std::vector<std::pair<std::string, std::string>> ListPortMap() {
  std::vector<std::pair<std::string, std::string>> list;
  for (const auto& p : winapi::CurrentPorts()) list.emplace_back(p.name, p.path);
  return list;
}

std::string PortDevicePath(const std::string& comName) {
  const std::string name = winapi::ComNameFromFileName(comName);
  if (name.empty()) return {};
  for (const auto& p : winapi::CurrentPorts())
    if (p.name == name) return p.path;
  return {};
}
