#include "rtl/registry.h"

#include <cstring>

namespace {

std::string RootName(HKEY root) {
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_USERS) return "HKEY_USERS";
  if (root == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
  return "(root key)";
}

bool IsRelative(const std::string& key) { return key.empty() || key[0] != '\\'; }

std::string StripLeadingBackslash(const std::string& key) { return IsRelative(key) ? key : key.substr(1); }

// The names an enumeration gives, index by index; a name that does not fit
// is asked for again with a larger buffer.
template <typename Enumerate>
std::vector<std::string> CollectNames(Enumerate enumerate) {
  std::vector<std::string> names;
  std::vector<char> buffer(256);
  for (DWORD index = 0;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    const LSTATUS status = enumerate(index, buffer.data(), &size);
    if (status == ERROR_MORE_DATA && buffer.size() < 65536) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status != ERROR_SUCCESS) break;
    names.emplace_back(buffer.data(), size);
    ++index;
  }
  return names;
}

}  // namespace

std::string StoreErrorText(DWORD code) {
  std::string text;
  switch (code) {
    case ERROR_FILE_NOT_FOUND: text = "not found"; break;
    case ERROR_PATH_NOT_FOUND: text = "the folder does not exist"; break;
    case ERROR_ACCESS_DENIED: text = "access denied"; break;
    case ERROR_INVALID_HANDLE: text = "invalid handle"; break;
    case ERROR_NOT_ENOUGH_MEMORY: text = "not enough memory"; break;
    case ERROR_SHARING_VIOLATION: text = "the file is in use"; break;
    case ERROR_INVALID_PARAMETER: text = "invalid name or value"; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: text = "the disk is full"; break;
    case ERROR_BAD_PATHNAME: text = "invalid path"; break;
    case ERROR_MORE_DATA: text = "the data changed while it was read"; break;
    case ERROR_BADDB: text = "the registry store is damaged"; break;
    case ERROR_KEY_DELETED: text = "the key has been deleted"; break;
    case ERROR_NO_UNICODE_TRANSLATION: text = "text the store cannot hold as it is"; break;
    default: text = "failed"; break;
  }
  return text + " (Windows error " + std::to_string(code) + ")";
}

TRegistry::TRegistry() : TRegistry(KEY_ALL_ACCESS) {}

TRegistry::TRegistry(REGSAM AAccess) : rootKey_(HKEY_CURRENT_USER), access_(AAccess) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY value) {
  if (value == rootKey_) return;
  CloseKey();
  rootKey_ = value;
}

void TRegistry::CloseKey() {
  if (currentKey_ != nullptr) RegCloseKey(currentKey_);
  currentKey_ = nullptr;
  currentPath_.clear();
}

HKEY TRegistry::BaseKey(bool relative) const {
  return (currentKey_ == nullptr || !relative) ? rootKey_ : currentKey_;
}

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate) {
  const bool relative = IsRelative(Key);
  const std::string path = StripLeadingBackslash(Key);
  HKEY opened = nullptr;
  LSTATUS status;
  if (!CanCreate || path.empty()) {
    status = RegOpenKeyExA(BaseKey(relative), path.c_str(), 0, access_, &opened);
  } else {
    DWORD disposition = 0;
    status = RegCreateKeyExA(BaseKey(relative), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_, nullptr,
                             &opened, &disposition);
  }
  lastError_ = static_cast<DWORD>(status);
  if (status != ERROR_SUCCESS) return false;
  std::string full = path;
  if (currentKey_ != nullptr && relative) full = currentPath_.empty() ? path : currentPath_ + "\\" + path;
  while (!full.empty() && full.back() == '\\') full.pop_back();
  CloseKey();
  currentKey_ = opened;
  currentPath_ = full;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& Key) {
  const REGSAM saved = access_;
  access_ = KEY_READ;
  const bool ok = OpenKey(Key, false);
  access_ = saved;
  return ok;
}

bool TRegistry::CreateKey(const std::string& Key) {
  HKEY created = nullptr;
  DWORD disposition = 0;
  const LSTATUS status =
      RegCreateKeyExA(BaseKey(IsRelative(Key)), StripLeadingBackslash(Key).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created, &disposition);
  lastError_ = static_cast<DWORD>(status);
  if (status != ERROR_SUCCESS) return false;
  RegCloseKey(created);
  return true;
}

bool TRegistry::DeleteKey(const std::string& Key) {
  const LSTATUS status = RegDeleteKeyA(BaseKey(IsRelative(Key)), StripLeadingBackslash(Key).c_str());
  lastError_ = static_cast<DWORD>(status);
  return status == ERROR_SUCCESS;
}

bool TRegistry::KeyExists(const std::string& Key) {
  HKEY opened = nullptr;
  const LSTATUS status = RegOpenKeyExA(BaseKey(IsRelative(Key)), StripLeadingBackslash(Key).c_str(), 0,
                                       KEY_QUERY_VALUE, &opened);
  if (status != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

std::string TRegistry::KeyDescription() const {
  return currentPath_.empty() ? RootName(rootKey_) : RootName(rootKey_) + "\\" + currentPath_;
}

void TRegistry::Fail(const std::string& what, const std::string& Name, LSTATUS status) {
  lastError_ = static_cast<DWORD>(status);
  throw ERegistryException("Cannot " + what + " registry value \"" + Name + "\" in " + KeyDescription() + ": " +
                           StoreErrorText(static_cast<DWORD>(status)));
}

HKEY TRegistry::RequireKey(const std::string& action, const std::string& Name) const {
  if (currentKey_ == nullptr) {
    throw ERegistryException("Cannot " + action + " registry value \"" + Name + "\": no registry key is open");
  }
  return currentKey_;
}

std::vector<std::string> TRegistry::GetKeyNames() {
  if (currentKey_ == nullptr) return {};
  return CollectNames([this](DWORD index, char* name, DWORD* size) {
    return RegEnumKeyExA(currentKey_, index, name, size, nullptr, nullptr, nullptr, nullptr);
  });
}

bool TRegistry::HasSubKeys() { return !GetKeyNames().empty(); }

std::vector<std::string> TRegistry::GetValueNames() {
  if (currentKey_ == nullptr) return {};
  return CollectNames([this](DWORD index, char* name, DWORD* size) {
    return RegEnumValueA(currentKey_, index, name, size, nullptr, nullptr, nullptr, nullptr);
  });
}

bool TRegistry::QueryInfo(const std::string& Name, DWORD& type, DWORD& size, const char* action) {
  const HKEY key = RequireKey(action, Name);
  type = REG_NONE;
  size = 0;
  const LSTATUS status = RegQueryValueExA(key, Name.c_str(), nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) {
    lastError_ = ERROR_FILE_NOT_FOUND;
    return false;
  }
  if (status != ERROR_SUCCESS) Fail(action, Name, status);
  return true;
}

bool TRegistry::ValueExists(const std::string& Name) {
  if (currentKey_ == nullptr) return false;
  DWORD type = 0, size = 0;
  return RegQueryValueExA(currentKey_, Name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

bool TRegistry::DeleteValue(const std::string& Name) {
  if (currentKey_ == nullptr) return false;
  const LSTATUS status = RegDeleteValueA(currentKey_, Name.c_str());
  lastError_ = static_cast<DWORD>(status);
  return status == ERROR_SUCCESS;
}

TRegDataType TRegistry::GetDataType(const std::string& Name) {
  DWORD type = 0, size = 0;
  if (!QueryInfo(Name, type, size, "read")) return rdUnknown;
  switch (type) {
    case REG_SZ: return rdString;
    case REG_EXPAND_SZ: return rdExpandString;
    case REG_DWORD: return rdInteger;
    case REG_BINARY: return rdBinary;
    default: return rdUnknown;
  }
}

int32_t TRegistry::GetDataSize(const std::string& Name) {
  DWORD type = 0, size = 0;
  if (!QueryInfo(Name, type, size, "read")) return -1;
  return static_cast<int32_t>(size);
}

std::string TRegistry::ReadRaw(const std::string& Name, DWORD& type, const char* action) {
  const HKEY key = RequireKey(action, Name);
  std::string data;
  DWORD size = 0;
  // The value may grow between the two calls (another program writing it).
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (!QueryInfo(Name, type, size, action)) Fail(action, Name, ERROR_FILE_NOT_FOUND);
    data.assign(size, '\0');
    const LSTATUS status = RegQueryValueExA(key, Name.c_str(), nullptr, &type,
                                            reinterpret_cast<BYTE*>(data.data()), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) Fail(action, Name, status);
    data.resize(size);
    lastError_ = ERROR_SUCCESS;
    return data;
  }
  Fail(action, Name, ERROR_MORE_DATA);
}

void TRegistry::WriteString(const std::string& Name, const std::string& Value) {
  const HKEY key = RequireKey("write", Name);
  const LSTATUS status = RegSetValueExA(key, Name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()),
                                        static_cast<DWORD>(Value.size() + 1));
  if (status != ERROR_SUCCESS) Fail("write", Name, status);
  lastError_ = ERROR_SUCCESS;
}

std::string TRegistry::ReadString(const std::string& Name) {
  DWORD type = 0, size = 0;
  if (!QueryInfo(Name, type, size, "read")) return {};
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    lastError_ = ERROR_INVALID_PARAMETER;
    throw ERegistryException("Registry value \"" + Name + "\" in " + KeyDescription() + " is not text");
  }
  std::string data = ReadRaw(Name, type, "read");
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    throw ERegistryException("Registry value \"" + Name + "\" in " + KeyDescription() + " is not text");
  }
  const size_t end = data.find('\0');
  if (end != std::string::npos) data.resize(end);
  return data;
}

void TRegistry::WriteInteger(const std::string& Name, int32_t Value) {
  const HKEY key = RequireKey("write", Name);
  const auto dword = static_cast<DWORD>(Value);
  const LSTATUS status =
      RegSetValueExA(key, Name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
  if (status != ERROR_SUCCESS) Fail("write", Name, status);
  lastError_ = ERROR_SUCCESS;
}

int32_t TRegistry::ReadInteger(const std::string& Name) {
  DWORD type = 0, size = 0;
  if (!QueryInfo(Name, type, size, "read")) {
    throw ERegistryException("Registry value \"" + Name + "\" is missing in " + KeyDescription() +
                             " (an integer was expected)");
  }
  if (type != REG_DWORD || size != sizeof(DWORD)) {
    lastError_ = ERROR_INVALID_PARAMETER;
    throw ERegistryException("Registry value \"" + Name + "\" in " + KeyDescription() +
                             " is not an integer (REG_DWORD)");
  }
  const std::string data = ReadRaw(Name, type, "read");
  if (type != REG_DWORD || data.size() != sizeof(DWORD)) {
    throw ERegistryException("Registry value \"" + Name + "\" in " + KeyDescription() +
                             " is not an integer (REG_DWORD)");
  }
  DWORD dword = 0;
  std::memcpy(&dword, data.data(), sizeof dword);
  return static_cast<int32_t>(dword);
}

void TRegistry::WriteBool(const std::string& Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }

bool TRegistry::ReadBool(const std::string& Name) { return ReadInteger(Name) != 0; }
