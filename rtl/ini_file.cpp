#include "rtl/ini_file.h"

#include "rtl/registry.h"
#include "winapi/ascii_text.h"
#include "winapi/win32_registry.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <system_error>

namespace {

// Buffers grow up to this before a value or list is taken as it is.
constexpr size_t kMaxBuffer = 16u << 20;

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool ParseInteger(const std::string& text, int32_t& out) {
  const std::string s = Trim(text);
  size_t pos = 0;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '-' || s[pos] == '+')) negative = s[pos++] == '-';
  int base = 10;
  if (pos < s.size() && s[pos] == '$') {
    base = 16;
    ++pos;
  } else if (pos + 1 < s.size() && s[pos] == '0' && (s[pos + 1] == 'x' || s[pos + 1] == 'X')) {
    base = 16;
    pos += 2;
  }
  if (pos == s.size()) return false;
  uint64_t value = 0;
  for (; pos < s.size(); ++pos) {
    const char c = s[pos];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return false;
  }
  if (base == 16) {
    // Hexadecimal spells the 32-bit pattern: $FFFFFFFF is -1.
    const auto bits = static_cast<int32_t>(static_cast<uint32_t>(value));
    out = negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(bits)) : bits;
    return true;
  }
  const int64_t signedValue = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  if (signedValue < std::numeric_limits<int32_t>::min() || signedValue > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  out = static_cast<int32_t>(signedValue);
  return true;
}

using winapi::EqualNoCase;

// Splits a list of NUL-ended names.
std::vector<std::string> SplitList(const std::string& buffer, DWORD length) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < length) {
    const size_t end = buffer.find('\0', start);
    if (end == start || end == std::string::npos || end > length) break;
    names.push_back(buffer.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace

TIniFile::TIniFile(std::string FileName) : fileName_(std::move(FileName)) {
  // Windows would look for a bare name in its own folder; use the working
  // directory everywhere, as anyone typing a relative name expects.
  std::error_code error;
  if (!fileName_.empty() && std::filesystem::path(fileName_).is_relative()) {
    const auto absolute = std::filesystem::absolute(fileName_, error);
    if (!error) fileName_ = absolute.string();
  }
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Ident,
                                 const std::string& Default) const {
  std::string buffer(256, '\0');
  for (;;) {
    const DWORD n = GetPrivateProfileStringA(Section.c_str(), Ident.c_str(), Default.c_str(), buffer.data(),
                                             static_cast<DWORD>(buffer.size()), fileName_.c_str());
    if (n + 1 < buffer.size() || buffer.size() >= kMaxBuffer) return buffer.substr(0, n);
    buffer.assign(buffer.size() * 4, '\0');
  }
}

std::vector<std::string> TIniFile::ReadList(const char* Section) const {
  std::string buffer(4096, '\0');
  for (;;) {
    const DWORD n = GetPrivateProfileStringA(Section, nullptr, "", buffer.data(), static_cast<DWORD>(buffer.size()),
                                             fileName_.c_str());
    if (n + 2 < buffer.size() || buffer.size() >= kMaxBuffer) return SplitList(buffer, n);
    buffer.assign(buffer.size() * 4, '\0');
  }
}

void TIniFile::Fail(const std::string& what) const {
  const DWORD error = GetLastError();
  throw EIniFileException("Cannot " + what + " in " + fileName_ + ": " + StoreErrorText(error));
}

void TIniFile::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) {
  // Readers trim blanks around a value and drop one pair of enclosing quotes;
  // quoting such a value makes it read back exactly as written.
  const bool needsQuotes =
      !Value.empty() && (Value.front() == ' ' || Value.front() == '\t' || Value.back() == ' ' ||
                         Value.back() == '\t' ||
                         (Value.size() >= 2 && (Value.front() == '"' || Value.front() == '\'') &&
                          Value.back() == Value.front()));
  const std::string stored = needsQuotes ? "\"" + Value + "\"" : Value;
  if (!WritePrivateProfileStringA(Section.c_str(), Ident.c_str(), stored.c_str(), fileName_.c_str())) {
    Fail("write \"" + Ident + "\" to section [" + Section + "]");
  }
}

int32_t TIniFile::ReadInteger(const std::string& Section, const std::string& Ident, int32_t Default) const {
  const std::string text = ReadString(Section, Ident, "");
  int32_t value = 0;
  return ParseInteger(text, value) ? value : Default;
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Ident, int32_t Value) {
  WriteString(Section, Ident, std::to_string(Value));
}

bool TIniFile::ReadBool(const std::string& Section, const std::string& Ident, bool Default) const {
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TIniFile::WriteBool(const std::string& Section, const std::string& Ident, bool Value) {
  WriteString(Section, Ident, Value ? "1" : "0");
}

std::vector<std::string> TIniFile::ReadSections() const { return ReadList(nullptr); }

std::vector<std::string> TIniFile::ReadSection(const std::string& Section) const {
  return ReadList(Section.c_str());
}

bool TIniFile::SectionExists(const std::string& Section) const {
  for (const std::string& name : ReadSections()) {
    if (EqualNoCase(name, Trim(Section))) return true;
  }
  return false;
}

bool TIniFile::ValueExists(const std::string& Section, const std::string& Ident) const {
  for (const std::string& name : ReadSection(Section)) {
    if (EqualNoCase(name, Trim(Ident))) return true;
  }
  return false;
}

void TIniFile::EraseSection(const std::string& Section) {
  if (!WritePrivateProfileStringA(Section.c_str(), nullptr, nullptr, fileName_.c_str())) {
    Fail("erase section [" + Section + "]");
  }
}

void TIniFile::DeleteKey(const std::string& Section, const std::string& Ident) {
  if (!WritePrivateProfileStringA(Section.c_str(), Ident.c_str(), nullptr, fileName_.c_str())) {
    Fail("delete \"" + Ident + "\" from section [" + Section + "]");
  }
}
