// Profile (INI) files: reading and editing one value at a time while every
// other line of the file stays as it was.
#include "winapi/win32_registry.h"

#include "winapi/ascii_text.h"
#include "winapi/store_file.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

const char kUtf8Bom[] = "\xEF\xBB\xBF";

using winapi::EqualNoCase;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

struct Document {
  std::vector<std::string> lines;  // without their line ends
  std::string eol = "\n";
};

Document Split(const std::string& text) {
  Document doc;
  bool eolKnown = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      if (!eolKnown && !last) doc.eol = "\r\n";
    }
    if (!last) eolKnown = true;
    doc.lines.push_back(std::move(line));
    start = end + 1;
  }
  return doc;
}

std::string Join(const Document& doc) {
  std::string out;
  for (const std::string& line : doc.lines) out += line + doc.eol;
  return out;
}

enum class Kind { Blank, Comment, Section, Entry, Other };

struct Classified {
  Kind kind = Kind::Other;
  std::string name;      // section or key name, trimmed
  std::string value;     // entry value, trimmed
  size_t valueStart = 0; // where the value begins in the raw line
};

Classified Classify(const std::string& raw, bool firstLine) {
  Classified c;
  size_t pos = 0;
  if (firstLine && raw.compare(0, 3, kUtf8Bom) == 0) pos = 3;
  while (pos < raw.size() && IsBlank(raw[pos])) ++pos;
  if (pos == raw.size()) {
    c.kind = Kind::Blank;
    return c;
  }
  const char first = raw[pos];
  if (first == ';' || first == '#') {
    c.kind = Kind::Comment;
    return c;
  }
  if (first == '[') {
    const size_t close = raw.find(']', pos + 1);
    if (close != std::string::npos) {
      c.kind = Kind::Section;
      c.name = Trim(raw.substr(pos + 1, close - pos - 1));
    }
    return c;
  }
  const size_t eq = raw.find('=', pos);
  if (eq == std::string::npos) return c;
  c.name = Trim(raw.substr(pos, eq - pos));
  if (c.name.empty()) return c;
  c.kind = Kind::Entry;
  c.valueStart = eq + 1;
  while (c.valueStart < raw.size() && IsBlank(raw[c.valueStart])) ++c.valueStart;
  c.value = Trim(raw.substr(c.valueStart));
  return c;
}

Classified ClassifyAt(const Document& doc, size_t index) { return Classify(doc.lines[index], index == 0); }

// The first section of that name: its header line, and the end of its lines.
std::optional<std::pair<size_t, size_t>> FindSection(const Document& doc, const std::string& name) {
  for (size_t i = 0; i < doc.lines.size(); ++i) {
    const Classified c = ClassifyAt(doc, i);
    if (c.kind != Kind::Section || !EqualNoCase(c.name, name)) continue;
    size_t end = i + 1;
    while (end < doc.lines.size() && ClassifyAt(doc, end).kind != Kind::Section) ++end;
    return std::make_pair(i, end);
  }
  return std::nullopt;
}

std::optional<size_t> FindEntry(const Document& doc, std::pair<size_t, size_t> section, const std::string& key) {
  for (size_t i = section.first + 1; i < section.second; ++i) {
    const Classified c = ClassifyAt(doc, i);
    if (c.kind == Kind::Entry && EqualNoCase(c.name, key)) return i;
  }
  return std::nullopt;
}

// A value enclosed in matching quotes is read without them.
std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Returns the characters copied, truncating like Windows does.
DWORD CopyText(const std::string& text, LPSTR out, DWORD size) {
  if (text.size() < size) {
    std::memcpy(out, text.c_str(), text.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(text.size());
  }
  std::memcpy(out, text.data(), size - 1);
  out[size - 1] = '\0';
  SetLastError(ERROR_MORE_DATA);
  return size - 1;
}

// Names, each ended by NUL, plus a final NUL; a list that does not fit
// returns size - 2.
DWORD CopyList(const std::vector<std::string>& names, LPSTR out, DWORD size) {
  std::string joined;
  for (const std::string& name : names) joined += name + '\0';
  if (joined.size() + 1 <= size) {
    std::memcpy(out, joined.data(), joined.size());
    out[joined.size()] = '\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(joined.size());
  }
  if (size < 2) {
    out[0] = '\0';
    SetLastError(ERROR_MORE_DATA);
    return 0;
  }
  std::memcpy(out, joined.data(), size - 2);
  out[size - 2] = '\0';
  out[size - 1] = '\0';
  SetLastError(ERROR_MORE_DATA);
  return size - 2;
}

void AddUnique(std::vector<std::string>& names, const std::string& name) {
  // An empty name ("[]") would end the NUL-separated list and hide every
  // name after it; such a section is left out of the list instead.
  if (name.empty()) return;
  for (const std::string& n : names) {
    if (EqualNoCase(n, name)) return;
  }
  names.push_back(name);
}

bool HasLineBreak(const char* s) { return std::strpbrk(s, "\r\n") != nullptr; }

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultValue, LPSTR returned, DWORD size,
                               LPCSTR fileName) {
  if (returned == nullptr || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string fallback = defaultValue != nullptr ? defaultValue : "";
  while (!fallback.empty() && IsBlank(fallback.back())) fallback.pop_back();
  if (fileName == nullptr || *fileName == '\0') {
    const DWORD n = CopyText(fallback, returned, size);
    SetLastError(ERROR_INVALID_PARAMETER);
    return n;
  }

  std::string text;
  const DWORD readError = store_file::ReadWholeFile(fileName, text);
  if (readError != ERROR_SUCCESS) {
    if (appName == nullptr || keyName == nullptr) {
      returned[0] = '\0';
      if (size > 1) returned[1] = '\0';
      SetLastError(readError);
      return 0;
    }
    const DWORD n = CopyText(fallback, returned, size);
    SetLastError(readError);
    return n;
  }
  const Document doc = Split(text);

  if (appName == nullptr) {
    std::vector<std::string> names;
    for (size_t i = 0; i < doc.lines.size(); ++i) {
      const Classified c = ClassifyAt(doc, i);
      if (c.kind == Kind::Section) AddUnique(names, c.name);
    }
    return CopyList(names, returned, size);
  }
  const auto section = FindSection(doc, Trim(appName));
  if (keyName == nullptr) {
    std::vector<std::string> names;
    if (section) {
      for (size_t i = section->first + 1; i < section->second; ++i) {
        const Classified c = ClassifyAt(doc, i);
        if (c.kind == Kind::Entry) AddUnique(names, c.name);
      }
    }
    return CopyList(names, returned, size);
  }
  if (section) {
    if (const auto entry = FindEntry(doc, *section, Trim(keyName))) {
      return CopyText(Unquote(ClassifyAt(doc, *entry).value), returned, size);
    }
  }
  const DWORD n = CopyText(fallback, returned, size);
  SetLastError(ERROR_FILE_NOT_FOUND);
  return n;
}

UINT GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, int defaultValue, LPCSTR fileName) {
  if (appName == nullptr || keyName == nullptr) return static_cast<UINT>(defaultValue);
  // A value can be long; only its leading number matters.
  char buffer[64];
  const char kMissing[] = "\x01";
  GetPrivateProfileStringA(appName, keyName, kMissing, buffer, sizeof buffer, fileName);
  if (std::strcmp(buffer, kMissing) == 0) return static_cast<UINT>(defaultValue);
  const char* p = buffer;
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  UINT value = 0;
  while (*p >= '0' && *p <= '9') value = value * 10 + static_cast<UINT>(*p++ - '0');
  return negative ? 0u - value : value;
}

BOOL WritePrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR value, LPCSTR fileName) {
  if (fileName == nullptr || *fileName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (appName == nullptr) {
    // All null asks to flush a cache; every write is already on disk.
    if (keyName == nullptr && value == nullptr) return TRUE;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Refuse what would be read back differently, or break the file's lines.
  const std::string section = Trim(appName);
  if (HasLineBreak(appName) || section.find(']') != std::string::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string key;
  if (keyName != nullptr) {
    key = Trim(keyName);
    if (key.empty() || HasLineBreak(keyName) || key.find('=') != std::string::npos || key[0] == '[' ||
        key[0] == ';' || key[0] == '#') {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }
  if (value != nullptr && HasLineBreak(value)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const bool deleting = keyName == nullptr || value == nullptr;

  store_file::ExclusiveFile file;
  DWORD error = file.Open(fileName, /*create=*/!deleting, /*shared=*/true);
  if (deleting && error == ERROR_FILE_NOT_FOUND) return TRUE;  // nothing to delete
  std::string text;
  if (error == ERROR_SUCCESS) error = file.Read(text);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }

  Document doc = Split(text);
  const auto found = FindSection(doc, section);
  bool changed = false;
  if (keyName == nullptr) {
    if (found) {
      doc.lines.erase(doc.lines.begin() + static_cast<long>(found->first),
                      doc.lines.begin() + static_cast<long>(found->second));
      changed = true;
    }
  } else if (value == nullptr) {
    if (found) {
      if (const auto entry = FindEntry(doc, *found, key)) {
        doc.lines.erase(doc.lines.begin() + static_cast<long>(*entry));
        changed = true;
      }
    }
  } else if (!found) {
    if (!doc.lines.empty() && ClassifyAt(doc, doc.lines.size() - 1).kind != Kind::Blank) doc.lines.emplace_back();
    doc.lines.push_back("[" + section + "]");
    doc.lines.push_back(key + "=" + value);
    changed = true;
  } else if (const auto entry = FindEntry(doc, *found, key)) {
    std::string& line = doc.lines[*entry];
    const std::string replaced = line.substr(0, ClassifyAt(doc, *entry).valueStart) + value;
    changed = replaced != line;
    line = replaced;
  } else {
    // After the section's last value, so comments leading into the next
    // section stay with it.
    size_t at = found->first + 1;
    for (size_t i = found->first + 1; i < found->second; ++i) {
      if (ClassifyAt(doc, i).kind == Kind::Entry) at = i + 1;
    }
    doc.lines.insert(doc.lines.begin() + static_cast<long>(at), key + "=" + value);
    changed = true;
  }
  if (changed) {
    error = file.Replace(Join(doc));
    if (error != ERROR_SUCCESS) {
      SetLastError(error);
      return FALSE;
    }
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
