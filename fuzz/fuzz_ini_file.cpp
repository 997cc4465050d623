// INI files as they may be found on a disk: any contents can be listed and
// read, and writing one value changes that value only.
#include "fuzz/fuzz_check.h"
#include "rtl/ini_file.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string FilePath() {
  static const std::string path = [] {
    // On tmpfs when there is one: every write is flushed to the disk.
    char dir[] = "/dev/shm/vazur-fuzz-ini-XXXXXX";
    char fallback[] = "/tmp/vazur-fuzz-ini-XXXXXX";
    const char* made = mkdtemp(dir);
    if (!made) made = mkdtemp(fallback);
    if (!made) std::abort();
    return std::string(made) + "/fuzz.ini";
  }();
  return path;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

using Snapshot = std::map<std::pair<std::string, std::string>, std::string>;

// Every value as the first of its name in the first section of its name reads it.
Snapshot Read(const TIniFile& ini) {
  Snapshot all;
  for (const std::string& section : ini.ReadSections())
    for (const std::string& key : ini.ReadSection(section))
      all.emplace(std::make_pair(Upper(section), Upper(key)), ini.ReadString(section, key, "\x01missing"));
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first bytes name the value to write; the rest is the file.
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t cut = input.find('\0');
  const std::string value = cut == std::string::npos ? "" : input.substr(0, cut);
  const std::string contents = cut == std::string::npos ? input : input.substr(cut + 1);
  {
    std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
    out << contents;
  }
  TIniFile ini(FilePath());
  const Snapshot before = Read(ini);
  (void)ini.ReadInteger("Fuzz", "Value", 7);

  if (value.find_first_of("\r\n") != std::string::npos) return 0;
  try {
    ini.WriteString("Fuzz", "Value", value);
  } catch (const EIniFileException&) {
    return 0;  // refused with a message: fine, as long as the file is unchanged
  }
  FUZZ_CHECK(ini.ReadString("Fuzz", "Value", "\x01missing") == value);
  // Names are C strings: a NUL inside one ends the name lists early (as the
  // system's lists of names do), so the comparison needs a file without NUL.
  if (contents.find('\0') != std::string::npos) return 0;
  // A rewrite gives every line the file's own line end; a CR that is not
  // part of a line end (a value ending in CR) is not kept. Left out here.
  for (size_t i = 0; (i = contents.find('\r', i)) != std::string::npos; ++i)
    if (i + 1 == contents.size() || contents[i + 1] != '\n') return 0;
  Snapshot after = Read(ini);
  Snapshot expected = before;
  expected[{"FUZZ", "VALUE"}] = value;
  FUZZ_CHECK(after == expected);
  return 0;
}
