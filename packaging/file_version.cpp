// Prints what Windows reads from a file's version resource (the file's
// properties): its fixed file version, then its description, for the
// Windows package check.
//   file_version.exe FILE
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: file_version FILE\n");
    return 2;
  }
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(argv[1], &handle);
  std::vector<char> info(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (size == 0 || !GetFileVersionInfoW(argv[1], 0, size, info.data()) ||
      !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed) {
    std::fprintf(stderr, "file_version: no version resource (error %lu)\n", GetLastError());
    return 1;
  }
  std::printf("%u.%u.%u.%u\n", unsigned{HIWORD(fixed->dwFileVersionMS)}, unsigned{LOWORD(fixed->dwFileVersionMS)},
              unsigned{HIWORD(fixed->dwFileVersionLS)}, unsigned{LOWORD(fixed->dwFileVersionLS)});
  // The strings of the resource's first language and code page.
  struct Translation {
    WORD language, codepage;
  }* translation = nullptr;
  wchar_t* description = nullptr;
  if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
      length >= sizeof *translation) {
    wchar_t key[64];
    swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\FileDescription", translation->language, translation->codepage);
    if (VerQueryValueW(info.data(), key, reinterpret_cast<void**>(&description), &length) && length > 0)
      std::printf("%s\n", Utf8(description).c_str());
  }
  return 0;
}
