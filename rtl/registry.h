// TRegistry: one open key of the registry at a time, with typed values.
//
//   TRegistry reg;                          // HKEY_CURRENT_USER, full access
//   if (!reg.OpenKey("Software\\Vazur", true)) ... reg.LastError() says why
//   reg.WriteString("Port", "COM3");        // REG_SZ
//   reg.WriteInteger("Speed", 9600);        // REG_DWORD
//   int32_t n = reg.ReadInteger("Speed");   // missing or not REG_DWORD: throws
//
// A key path starting with '\' is taken from the root; any other is taken
// from the open key if there is one. Reads and writes that fail raise
// ERegistryException naming the value and key.
#pragma once

#include "rtl/classes.h"
#include "winapi/win32_registry.h"

#include <cstdint>
#include <string>
#include <vector>

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

// "access denied", "not found", ... for a Windows error code met while
// reading or writing the registry or a profile file.
std::string StoreErrorText(DWORD code);

class TRegistry : public TObject {
 public:
  TRegistry();  // HKEY_CURRENT_USER, KEY_ALL_ACCESS
  explicit TRegistry(REGSAM AAccess);
  ~TRegistry() override;
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  HKEY RootKey() const { return rootKey_; }
  // Closes the open key first.
  void SetRootKey(HKEY value);
  REGSAM Access() const { return access_; }
  // Used by the next OpenKey.
  void SetAccess(REGSAM value) { access_ = value; }
  // The open key (nullptr when none) and its path below the root.
  HKEY CurrentKey() const { return currentKey_; }
  const std::string& CurrentPath() const { return currentPath_; }
  // The Windows error code of the last call that failed (ERROR_SUCCESS if none).
  DWORD LastError() const { return lastError_; }

  // Opens the key (creating it and its parents when CanCreate), closing the
  // one open before. False, with LastError set, if it cannot.
  bool OpenKey(const std::string& Key, bool CanCreate);
  bool OpenKeyReadOnly(const std::string& Key);
  void CloseKey();
  // These work on a key path without changing the open key.
  bool CreateKey(const std::string& Key);
  bool DeleteKey(const std::string& Key);  // only a key without subkeys
  bool KeyExists(const std::string& Key);
  // The open key's subkeys and values, by name.
  bool HasSubKeys();
  std::vector<std::string> GetKeyNames();
  std::vector<std::string> GetValueNames();

  bool ValueExists(const std::string& Name);
  bool DeleteValue(const std::string& Name);
  // rdUnknown, and -1 for the size, when the value does not exist.
  TRegDataType GetDataType(const std::string& Name);
  int32_t GetDataSize(const std::string& Name);

  void WriteString(const std::string& Name, const std::string& Value);
  // A missing value reads as empty text; a value that is not text throws.
  std::string ReadString(const std::string& Name);
  void WriteInteger(const std::string& Name, int32_t Value);
  // Throws unless the value exists as a REG_DWORD.
  int32_t ReadInteger(const std::string& Name);
  void WriteBool(const std::string& Name, bool Value);  // REG_DWORD 1 / 0
  bool ReadBool(const std::string& Name);

 private:
  HKEY BaseKey(bool relative) const;
  HKEY RequireKey(const std::string& action, const std::string& Name) const;
  // "HKEY_CURRENT_USER\Software\Vazur" for messages.
  std::string KeyDescription() const;
  [[noreturn]] void Fail(const std::string& what, const std::string& Name, LSTATUS status);
  // Type and size of a value; false when it does not exist (other failures throw).
  bool QueryInfo(const std::string& Name, DWORD& type, DWORD& size, const char* action);
  std::string ReadRaw(const std::string& Name, DWORD& type, const char* action);

  HKEY rootKey_;
  REGSAM access_;
  HKEY currentKey_ = nullptr;
  std::string currentPath_;
  DWORD lastError_ = ERROR_SUCCESS;
};
