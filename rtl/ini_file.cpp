#include "rtl/ini_file.h"

#include "rtl/registry.h"
#include "winapi/ascii_text.h"
#include "winapi/win32_registry.h"

#include <algorithm>
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

// Splits a list of NUL-ended names. A name that comes again (in any letter
// case) is listed once: only its first section or value is ever read.
std::vector<std::string> SplitList(const std::string& buffer) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < buffer.size()) {
    const size_t end = buffer.find('\0', start);
    if (end == start || end == std::string::npos) break;
    std::string name = buffer.substr(start, end - start);
    if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return EqualNoCase(n, name); }))
      names.push_back(std::move(name));
    start = end + 1;
  }
  return names;
}

// What the file could not hold as given: a line break (or NUL) anywhere, a
// section name with ']', a value name that is empty, holds '=' or would read
// as a section or a comment. The profile functions of every platform get
// only what they store faithfully.
bool BreaksTheFile(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

bool IsBadSection(const std::string& Section) {
  return BreaksTheFile(Section) || Section.find(']') != std::string::npos;
}

bool IsBadIdent(const std::string& Ident) {
  const std::string name = Trim(Ident);
  return name.empty() || BreaksTheFile(Ident) || name.find('=') != std::string::npos || name[0] == '[' ||
         name[0] == ';' || name[0] == '#';
}

// Reads through GetPrivateProfileString, growing the buffer until the result
// fits: one value, or (`list`) NUL-ended names.
template <typename Char, typename Get>
std::basic_string<Char> ReadProfile(bool list, Get get) {
  std::basic_string<Char> buffer(list ? 4096 : 256, Char());
  const size_t room = list ? 2 : 1;
  for (;;) {
    const DWORD n = get(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n + room < buffer.size() || buffer.size() >= kMaxBuffer) {
      buffer.resize(std::min<size_t>(n, buffer.size()));
      return buffer;
    }
    buffer.assign(buffer.size() * 4, Char());
  }
}

#ifdef _WIN32
// Text here is UTF-8; Windows gets it through its wide functions, so a file
// name reaches the file system as it is, whatever the 8-bit code page.
// False for text that is not UTF-8.
bool ToWide(const std::string& text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(), n);
  return true;
}

std::string FromWide(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Null stays null. False when some text is not UTF-8.
bool ToWide(const char* text, std::wstring& out, const wchar_t*& pointer) {
  pointer = nullptr;
  if (text == nullptr) return true;
  if (!ToWide(std::string(text), out)) return false;
  pointer = out.c_str();
  return true;
}

std::string ReadProfileText(const char* Section, const char* Ident, const std::string& Default, bool list,
                            const std::string& fileName) {
  std::wstring section, ident, fallback, file;
  const wchar_t *s, *i, *f;
  if (!ToWide(Section, section, s) || !ToWide(Ident, ident, i) || !ToWide(fileName.c_str(), file, f) ||
      !ToWide(Default, fallback)) {
    return list ? std::string() : Default;  // no such name can be in the file
  }
  return FromWide(ReadProfile<wchar_t>(list, [&](wchar_t* buffer, DWORD size) {
    return GetPrivateProfileStringW(s, i, fallback.c_str(), buffer, size, f);
  }));
}

// Windows keeps the file in the 8-bit code page: text it cannot hold there
// would be stored changed.
bool FitsTheFile(const std::wstring& text) {
  if (text.empty() || GetACP() == CP_UTF8) return true;
  BOOL changed = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                      &changed);
  return !changed;
}

BOOL WriteProfileText(const char* Section, const char* Ident, const char* Value, const std::string& fileName) {
  std::wstring section, ident, value, file;
  const wchar_t *s, *i, *v, *f;
  if (!ToWide(Section, section, s) || !ToWide(Ident, ident, i) || !ToWide(Value, value, v) ||
      !ToWide(fileName.c_str(), file, f) || !FitsTheFile(section) || !FitsTheFile(ident) || !FitsTheFile(value)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return FALSE;
  }
  return WritePrivateProfileStringW(s, i, v, f);
}
#else
std::string ReadProfileText(const char* Section, const char* Ident, const std::string& Default, bool list,
                            const std::string& fileName) {
  return ReadProfile<char>(list, [&](char* buffer, DWORD size) {
    return GetPrivateProfileStringA(Section, Ident, Default.c_str(), buffer, size, fileName.c_str());
  });
}

BOOL WriteProfileText(const char* Section, const char* Ident, const char* Value, const std::string& fileName) {
  return WritePrivateProfileStringA(Section, Ident, Value, fileName.c_str());
}
#endif

}  // namespace

TIniFile::TIniFile(std::string FileName) : fileName_(std::move(FileName)) {
  // Windows would look for a bare name in its own folder; use the working
  // directory everywhere, as anyone typing a relative name expects. The name
  // is UTF-8 on every platform.
  namespace fs = std::filesystem;
  if (fileName_.empty()) return;
  try {
    const fs::path path(std::u8string(fileName_.begin(), fileName_.end()));
    if (!path.is_relative()) return;
    std::error_code error;
    const std::u8string absolute = fs::absolute(path, error).u8string();
    if (!error) fileName_.assign(absolute.begin(), absolute.end());
  } catch (const std::exception&) {
    // Not convertible to a path: the profile functions refuse it with their own error.
  }
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Ident,
                                 const std::string& Default) const {
  return ReadProfileText(Section.c_str(), Ident.c_str(), Default, false, fileName_);
}

std::vector<std::string> TIniFile::ReadList(const char* Section) const {
  return SplitList(ReadProfileText(Section, nullptr, "", true, fileName_));
}

void TIniFile::Fail(const std::string& what, uint32_t error) const {
  throw EIniFileException("Cannot " + what + " in " + fileName_ + ": " + StoreErrorText(error));
}

void TIniFile::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) {
  const std::string what = "write \"" + Ident + "\" to section [" + Section + "]";
  if (IsBadSection(Section) || IsBadIdent(Ident) || BreaksTheFile(Value)) Fail(what, ERROR_INVALID_PARAMETER);
  // Readers trim blanks around a value and drop one pair of enclosing quotes;
  // quoting such a value makes it read back exactly as written.
  const bool needsQuotes =
      !Value.empty() && (Value.front() == ' ' || Value.front() == '\t' || Value.back() == ' ' ||
                         Value.back() == '\t' ||
                         (Value.size() >= 2 && (Value.front() == '"' || Value.front() == '\'') &&
                          Value.back() == Value.front()));
  const std::string stored = needsQuotes ? "\"" + Value + "\"" : Value;
  if (!WriteProfileText(Section.c_str(), Ident.c_str(), stored.c_str(), fileName_)) Fail(what, GetLastError());
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
  const std::string what = "erase section [" + Section + "]";
  if (IsBadSection(Section)) Fail(what, ERROR_INVALID_PARAMETER);
  if (!WriteProfileText(Section.c_str(), nullptr, nullptr, fileName_)) Fail(what, GetLastError());
}

void TIniFile::DeleteKey(const std::string& Section, const std::string& Ident) {
  const std::string what = "delete \"" + Ident + "\" from section [" + Section + "]";
  if (IsBadSection(Section) || IsBadIdent(Ident)) Fail(what, ERROR_INVALID_PARAMETER);
  if (!WriteProfileText(Section.c_str(), Ident.c_str(), nullptr, fileName_)) Fail(what, GetLastError());
}
