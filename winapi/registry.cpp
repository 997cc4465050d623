// The registry over one text file per user (see win32_registry.h).
//
// File format, one block per key:
//   [HKEY_CURRENT_USER\Software\Vazur]
//   "Port"="COM1"
//   "CustomBaudRate"=dword:00002580
//   "Blob"=hex(3):01,ff
//   @="the key's unnamed value"
// Texts are quoted with \\, \" and \xHH escapes (every byte outside printable
// ASCII is escaped, so the file stays plain ASCII whatever the code page).
// Lines starting with ';' or '#' are comments. Every change rereads the file
// under the lock and writes it whole, so several processes can share it.
#include "winapi/win32_registry.h"

#include "winapi/ascii_text.h"
#include "winapi/store_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

struct RegValue {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

struct RegKey {
  std::string path;  // full, from the root name: "HKEY_CURRENT_USER\Software"
  std::vector<RegValue> values;
};

struct Store {
  std::vector<RegKey> keys;
};

struct KeyHandle {
  std::string path;
  REGSAM access = 0;
};

struct RootName {
  uintptr_t id;
  const char* name;
};
constexpr RootName kRoots[] = {
    {0x80000000u, "HKEY_CLASSES_ROOT"}, {0x80000001u, "HKEY_CURRENT_USER"},
    {0x80000002u, "HKEY_LOCAL_MACHINE"}, {0x80000003u, "HKEY_USERS"},
    {0x80000005u, "HKEY_CURRENT_CONFIG"},
};

std::mutex g_handlesMutex;
std::set<KeyHandle*> g_handles;
// Serialises this process's writers; the file lock does it across processes.
std::mutex g_writeMutex;

using winapi::EqualNoCase;

bool IsRootPath(const std::string& path) { return path.find('\\') == std::string::npos; }

// --- where the store lives ---

std::string StorePath() {
  if (const char* file = std::getenv("VAZUR_REGISTRY_FILE"); file != nullptr && *file != '\0') return file;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    return std::string(config) + "/vazur/registry";
  }
  std::string home;
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    home = h;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  }
  if (home.empty()) return {};
  return home + "/.config/vazur/registry";
}

// Creates the folders leading to `path` (private to the user, like the store).
DWORD EnsureParentDirectories(const std::string& path) {
  for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
    const std::string dir = path.substr(0, pos);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return store_file::ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

// --- text form of the store ---

void AppendQuoted(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  out += '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text at line[pos] (which is '"'); leaves pos after the closing quote.
bool ParseQuoted(const std::string& line, size_t& pos, std::string& out) {
  out.clear();
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  while (pos < line.size()) {
    const char c = line[pos++];
    if (c == '"') return true;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (pos >= line.size()) return false;
    const char e = line[pos++];
    if (e == '\\' || e == '"') {
      out += e;
    } else if (e == 'x' && pos + 1 < line.size() && HexDigit(line[pos]) >= 0 && HexDigit(line[pos + 1]) >= 0) {
      out += static_cast<char>(HexDigit(line[pos]) * 16 + HexDigit(line[pos + 1]));
      pos += 2;
    } else {
      return false;
    }
  }
  return false;
}

void AppendValue(std::string& out, const RegValue& value) {
  static const char kHex[] = "0123456789abcdef";
  if (value.name.empty()) {
    out += '@';
  } else {
    AppendQuoted(out, value.name);
  }
  out += '=';
  const std::string& d = value.data;
  if (value.type == REG_SZ && !d.empty() && d.back() == '\0' && d.find('\0') == d.size() - 1) {
    AppendQuoted(out, d.substr(0, d.size() - 1));
  } else if (value.type == REG_DWORD && d.size() == 4) {
    DWORD v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(d[static_cast<size_t>(i)]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    out += buf;
  } else {
    out += "hex(" + std::to_string(value.type) + "):";
    for (size_t i = 0; i < d.size(); ++i) {
      if (i > 0) out += ',';
      const auto c = static_cast<unsigned char>(d[i]);
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  out += '\n';
}

std::string Serialize(const Store& store) {
  std::string out =
      "; Vazur registry: [key] lines, each followed by its values.\n"
      "; \"name\"=\"text\", \"name\"=dword:<hex>, \"name\"=hex(<type>):<bytes>; @ names the unnamed value.\n";
  for (const RegKey& key : store.keys) {
    out += "\n[" + key.path + "]\n";
    for (const RegValue& value : key.values) AppendValue(out, value);
  }
  return out;
}

bool ParseValueData(const std::string& text, RegValue& value) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    std::string s;
    if (!ParseQuoted(text, pos, s) || pos != text.size()) return false;
    value.type = REG_SZ;
    value.data = s + '\0';
    return true;
  }
  if (text.rfind("dword:", 0) == 0) {
    const std::string digits = text.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    DWORD v = 0;
    for (const char c : digits) {
      if (HexDigit(c) < 0) return false;
      v = (v << 4) | static_cast<DWORD>(HexDigit(c));
    }
    value.type = REG_DWORD;
    value.data.clear();
    for (int i = 0; i < 4; ++i) value.data += static_cast<char>((v >> (8 * i)) & 0xFF);
    return true;
  }
  if (text.rfind("hex(", 0) == 0) {
    const size_t close = text.find("):");
    if (close == std::string::npos || close == 4) return false;
    DWORD type = 0;
    for (size_t i = 4; i < close; ++i) {
      if (text[i] < '0' || text[i] > '9' || type > 100000000u) return false;
      type = type * 10 + static_cast<DWORD>(text[i] - '0');
    }
    std::string bytes;
    const std::string list = text.substr(close + 2);
    for (size_t i = 0; i < list.size();) {
      if (i + 1 >= list.size() || HexDigit(list[i]) < 0 || HexDigit(list[i + 1]) < 0) return false;
      bytes += static_cast<char>(HexDigit(list[i]) * 16 + HexDigit(list[i + 1]));
      i += 2;
      if (i < list.size()) {
        if (list[i] != ',' || i + 1 == list.size()) return false;
        ++i;
      }
    }
    value.type = type;
    value.data = bytes;
    return true;
  }
  return false;
}

RegKey* FindKey(Store& store, const std::string& path) {
  for (RegKey& key : store.keys) {
    if (EqualNoCase(key.path, path)) return &key;
  }
  return nullptr;
}

RegValue* FindValue(RegKey& key, const std::string& name) {
  for (RegValue& value : key.values) {
    if (EqualNoCase(value.name, name)) return &value;
  }
  return nullptr;
}

// Every key, and each of its ancestors below the root, gets an entry.
RegKey& AddKeyWithParents(Store& store, const std::string& path) {
  for (size_t pos = path.find('\\'); pos != std::string::npos; pos = path.find('\\', pos + 1)) {
    const std::string parent = path.substr(0, pos);
    if (!IsRootPath(parent) && FindKey(store, parent) == nullptr) store.keys.push_back({parent, {}});
  }
  if (RegKey* key = FindKey(store, path)) return *key;
  store.keys.push_back({path, {}});
  return store.keys.back();
}

bool Parse(const std::string& text, Store& store) {
  store.keys.clear();
  RegKey* current = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    line.erase(0, first);
    if (line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const size_t close = line.find_last_of(']');
      if (close == std::string::npos || line.find_first_not_of(" \t", close + 1) != std::string::npos) return false;
      std::string path = line.substr(1, close - 1);
      const std::string rootPart = path.substr(0, path.find('\\'));
      bool rootKnown = false;
      for (const RootName& root : kRoots) {
        if (EqualNoCase(rootPart, root.name)) {
          path.replace(0, rootPart.size(), root.name);
          rootKnown = true;
        }
      }
      if (!rootKnown || path.find("\\\\") != std::string::npos || path.back() == '\\') return false;
      current = &AddKeyWithParents(store, path);
      continue;
    }
    if (current == nullptr) return false;
    RegValue value;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ParseQuoted(line, pos, value.name)) {
      return false;
    }
    if (pos >= line.size() || line[pos] != '=') return false;
    std::string data = line.substr(pos + 1);
    data.erase(data.find_last_not_of(" \t") + 1);
    if (!ParseValueData(data, value)) return false;
    if (RegValue* existing = FindValue(*current, value.name)) {
      *existing = value;
    } else {
      current->values.push_back(value);
    }
  }
  return true;
}

// A consistent copy of the store as it is now. Writers replace the file by
// rename, so no lock is needed to read one.
LSTATUS Snapshot(Store& store) {
  const std::string path = StorePath();
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  std::string text;
  const DWORD error = store_file::ReadWholeFile(path, text);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    store.keys.clear();
    return ERROR_SUCCESS;
  }
  if (error != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  return Parse(text, store) ? ERROR_SUCCESS : static_cast<LSTATUS>(ERROR_BADDB);
}

// Runs `change` on the current store under the lock and writes the result if
// it reports a change. A store that cannot be read is never overwritten.
template <typename Change>
LSTATUS Mutate(Change&& change) {
  std::lock_guard<std::mutex> lock(g_writeMutex);
  const std::string path = StorePath();
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  if (const DWORD error = EnsureParentDirectories(path); error != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  store_file::ExclusiveFile file;
  if (const DWORD error = file.Open(path, /*create=*/true); error != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  std::string text;
  if (const DWORD error = file.Read(text); error != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  Store store;
  if (!Parse(text, store)) return ERROR_BADDB;
  bool changed = false;
  const LSTATUS status = change(store, changed);
  if (status != ERROR_SUCCESS || !changed) return status;
  return static_cast<LSTATUS>(file.Replace(Serialize(store)));
}

// --- handles ---

LSTATUS Resolve(HKEY key, KeyHandle& out) {
  const auto id = reinterpret_cast<uintptr_t>(key);
  for (const RootName& root : kRoots) {
    if (root.id == id) {
      out.path = root.name;
      out.access = KEY_ALL_ACCESS;
      return ERROR_SUCCESS;
    }
  }
  std::lock_guard<std::mutex> lock(g_handlesMutex);
  auto* handle = reinterpret_cast<KeyHandle*>(key);
  if (key == nullptr || g_handles.count(handle) == 0) return ERROR_INVALID_HANDLE;
  out = *handle;
  return ERROR_SUCCESS;
}

HKEY NewHandle(const std::string& path, REGSAM access) {
  auto* handle = new KeyHandle{path, access};
  std::lock_guard<std::mutex> lock(g_handlesMutex);
  g_handles.insert(handle);
  return reinterpret_cast<HKEY>(handle);
}

// Splits a relative key path; a single trailing backslash is allowed.
LSTATUS SplitSubKey(LPCSTR subKey, std::vector<std::string>& parts) {
  parts.clear();
  if (subKey == nullptr || *subKey == '\0') return ERROR_SUCCESS;
  std::string s(subKey);
  if (s[0] == '\\') return ERROR_BAD_PATHNAME;
  if (s.back() == '\\') s.pop_back();
  size_t start = 0;
  for (;;) {
    const size_t end = s.find('\\', start);
    std::string part = s.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    for (const char c : part) {
      if (static_cast<unsigned char>(c) < 0x20) return ERROR_INVALID_PARAMETER;
    }
    parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

std::string JoinPath(std::string base, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) base += "\\" + part;
  return base;
}

// The key a handle refers to must still exist (roots always do).
bool KeyAlive(Store& store, const std::string& path) { return IsRootPath(path) || FindKey(store, path) != nullptr; }

std::vector<const RegKey*> Children(const Store& store, const std::string& path) {
  std::vector<const RegKey*> result;
  for (const RegKey& key : store.keys) {
    if (key.path.size() > path.size() + 1 && key.path[path.size()] == '\\' &&
        EqualNoCase(key.path.substr(0, path.size()), path) &&
        key.path.find('\\', path.size() + 1) == std::string::npos) {
      result.push_back(&key);
    }
  }
  return result;
}

LSTATUS CopyData(const std::string& data, LPBYTE out, LPDWORD size) {
  if (size == nullptr) return out == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  const auto needed = static_cast<DWORD>(data.size());
  if (out != nullptr) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (needed > 0) std::memcpy(out, data.data(), needed);
  }
  *size = needed;
  return ERROR_SUCCESS;
}

LSTATUS CopyName(const std::string& name, LPSTR out, LPDWORD size) {
  if (out == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
  if (*size <= name.size()) return ERROR_MORE_DATA;
  std::memcpy(out, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*keyClass*/, DWORD /*options*/,
                        REGSAM desired, LPSECURITY_ATTRIBUTES /*attributes*/, PHKEY result, LPDWORD disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyHandle base;
  if (const LSTATUS status = Resolve(key, base); status != ERROR_SUCCESS) return status;
  std::vector<std::string> parts;
  if (const LSTATUS status = SplitSubKey(subKey, parts); status != ERROR_SUCCESS) return status;
  if (!parts.empty() && (base.access & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;

  std::string path = JoinPath(base.path, parts);
  DWORD created = REG_OPENED_EXISTING_KEY;
  const LSTATUS status = Mutate([&](Store& store, bool& changed) -> LSTATUS {
    if (!KeyAlive(store, base.path)) return ERROR_KEY_DELETED;
    if (parts.empty()) return ERROR_SUCCESS;
    if (const RegKey* existing = FindKey(store, path)) {
      path = existing->path;  // keep the spelling it was created with
      return ERROR_SUCCESS;
    }
    // Existing ancestors keep their spelling too.
    std::string spelled = base.path;
    for (const std::string& part : parts) {
      spelled += "\\" + part;
      if (const RegKey* k = FindKey(store, spelled)) spelled = k->path;
    }
    path = spelled;
    AddKeyWithParents(store, path);
    created = REG_CREATED_NEW_KEY;
    changed = true;
    return ERROR_SUCCESS;
  });
  if (status != ERROR_SUCCESS) return status;
  *result = NewHandle(path, desired);
  if (disposition != nullptr) *disposition = created;
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM desired, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyHandle base;
  if (const LSTATUS status = Resolve(key, base); status != ERROR_SUCCESS) return status;
  std::vector<std::string> parts;
  if (const LSTATUS status = SplitSubKey(subKey, parts); status != ERROR_SUCCESS) return status;
  Store store;
  if (const LSTATUS status = Snapshot(store); status != ERROR_SUCCESS) return status;
  if (!KeyAlive(store, base.path)) return ERROR_KEY_DELETED;
  std::string path = base.path;
  if (!parts.empty()) {
    const RegKey* found = FindKey(store, JoinPath(base.path, parts));
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
    path = found->path;
  }
  *result = NewHandle(path, desired);
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  const auto id = reinterpret_cast<uintptr_t>(key);
  for (const RootName& root : kRoots) {
    if (root.id == id) return ERROR_SUCCESS;
  }
  auto* handle = reinterpret_cast<KeyHandle*>(key);
  {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    if (key == nullptr || g_handles.erase(handle) == 0) return ERROR_INVALID_HANDLE;
  }
  delete handle;
  return ERROR_SUCCESS;
}

LSTATUS RegFlushKey(HKEY key) {
  // Every change is on disk before the call that made it returns.
  KeyHandle base;
  return Resolve(key, base);
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  KeyHandle base;
  if (const LSTATUS status = Resolve(key, base); status != ERROR_SUCCESS) return status;
  std::vector<std::string> parts;
  if (const LSTATUS status = SplitSubKey(subKey, parts); status != ERROR_SUCCESS) return status;
  if (parts.empty()) return ERROR_INVALID_PARAMETER;
  const std::string path = JoinPath(base.path, parts);
  return Mutate([&](Store& store, bool& changed) -> LSTATUS {
    if (!KeyAlive(store, base.path)) return ERROR_KEY_DELETED;
    const RegKey* found = FindKey(store, path);
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
    if (!Children(store, found->path).empty()) return ERROR_ACCESS_DENIED;
    store.keys.erase(store.keys.begin() + (found - store.keys.data()));
    changed = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                       DWORD dataSize) {
  KeyHandle handle;
  if (const LSTATUS status = Resolve(key, handle); status != ERROR_SUCCESS) return status;
  if ((handle.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const std::string name = valueName != nullptr ? valueName : "";
  if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  if (data == nullptr && dataSize > 0) return ERROR_INVALID_PARAMETER;
  if ((type == REG_DWORD && dataSize != 4) || (type == REG_QWORD && dataSize != 8)) return ERROR_INVALID_PARAMETER;
  RegValue value{name, type, std::string(reinterpret_cast<const char*>(data), dataSize)};
  return Mutate([&](Store& store, bool& changed) -> LSTATUS {
    if (!KeyAlive(store, handle.path)) return ERROR_KEY_DELETED;
    RegKey& target = AddKeyWithParents(store, handle.path);
    if (RegValue* existing = FindValue(target, name)) {
      existing->type = value.type;
      existing->data = value.data;
    } else {
      target.values.push_back(value);
    }
    changed = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
  KeyHandle handle;
  if (const LSTATUS status = Resolve(key, handle); status != ERROR_SUCCESS) return status;
  if ((handle.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  Store store;
  if (const LSTATUS status = Snapshot(store); status != ERROR_SUCCESS) return status;
  if (!KeyAlive(store, handle.path)) return ERROR_KEY_DELETED;
  RegKey* target = FindKey(store, handle.path);
  RegValue* value = target != nullptr ? FindValue(*target, valueName != nullptr ? valueName : "") : nullptr;
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  return CopyData(value->data, data, dataSize);
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  KeyHandle handle;
  if (const LSTATUS status = Resolve(key, handle); status != ERROR_SUCCESS) return status;
  if ((handle.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const std::string name = valueName != nullptr ? valueName : "";
  return Mutate([&](Store& store, bool& changed) -> LSTATUS {
    if (!KeyAlive(store, handle.path)) return ERROR_KEY_DELETED;
    RegKey* target = FindKey(store, handle.path);
    if (target == nullptr) return ERROR_FILE_NOT_FOUND;
    for (auto it = target->values.begin(); it != target->values.end(); ++it) {
      if (EqualNoCase(it->name, name)) {
        target->values.erase(it);
        changed = true;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  });
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD /*reserved*/, LPSTR keyClass,
                      LPDWORD classSize, void* /*lastWriteTime*/) {
  KeyHandle handle;
  if (const LSTATUS status = Resolve(key, handle); status != ERROR_SUCCESS) return status;
  if ((handle.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  Store store;
  if (const LSTATUS status = Snapshot(store); status != ERROR_SUCCESS) return status;
  if (!KeyAlive(store, handle.path)) return ERROR_KEY_DELETED;
  const auto children = Children(store, handle.path);
  if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& path = children[index]->path;
  if (keyClass != nullptr && classSize != nullptr && *classSize > 0) {
    keyClass[0] = '\0';
    *classSize = 0;
  }
  return CopyName(path.substr(path.find_last_of('\\') + 1), name, nameSize);
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD /*reserved*/, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize) {
  KeyHandle handle;
  if (const LSTATUS status = Resolve(key, handle); status != ERROR_SUCCESS) return status;
  if ((handle.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  Store store;
  if (const LSTATUS status = Snapshot(store); status != ERROR_SUCCESS) return status;
  if (!KeyAlive(store, handle.path)) return ERROR_KEY_DELETED;
  const RegKey* target = FindKey(store, handle.path);
  if (target == nullptr || index >= target->values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& value = target->values[index];
  if (const LSTATUS status = CopyName(value.name, name, nameSize); status != ERROR_SUCCESS) return status;
  if (type != nullptr) *type = value.type;
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  return CopyData(value.data, data, dataSize);
}
