// Scratch space for tests that store settings: a folder of the test's own,
// and a registry of its own. Both are gone when the test ends.
#pragma once

#include "winapi/win32.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <stdlib.h>
#include <unistd.h>
#endif

inline unsigned long TestProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(::getpid());
#endif
}

// A fresh folder under the working directory, named after the running test
// and the process (CTest runs the tests side by side).
inline std::filesystem::path FreshTestFolder(const std::string& prefix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path dir = std::filesystem::current_path() /
                                    (prefix + "." + info->name() + "." + std::to_string(TestProcessId()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// While it lives, HKEY_CURRENT_USER is a registry of the test's own: on
// POSIX a store file in `folder`, on Windows an empty scratch key that
// stands in for the whole root.
class PrivateRegistry {
 public:
  explicit PrivateRegistry(const std::filesystem::path& folder) {
#ifdef _WIN32
    (void)folder;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch_ = "Software\\Vazur tests\\" + std::string(info->name()) + "." + std::to_string(TestProcessId());
    RegDeleteTreeA(HKEY_CURRENT_USER, scratch_.c_str());
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, key_), ERROR_SUCCESS);
#else
    ::setenv("VAZUR_REGISTRY_FILE", (folder / "registry").c_str(), 1);
#endif
  }
  ~PrivateRegistry() {
#ifdef _WIN32
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(key_);
    RegDeleteTreeA(HKEY_CURRENT_USER, scratch_.c_str());
#else
    ::unsetenv("VAZUR_REGISTRY_FILE");
#endif
  }
  PrivateRegistry(const PrivateRegistry&) = delete;
  PrivateRegistry& operator=(const PrivateRegistry&) = delete;

 private:
#ifdef _WIN32
  std::string scratch_;  // below the real HKEY_CURRENT_USER
  HKEY key_ = nullptr;
#endif
};
