// Crash-safe whole-file replacement under a cross-process lock, for the
// registry store and profile files (POSIX builds only, internal to winapi/).
#pragma once

#include "winapi/win32.h"

#include <string>

namespace store_file {

// The Windows error code for an errno value of a file operation.
DWORD ErrorFromErrno(int error);

// Reads the whole file. Returns ERROR_SUCCESS, ERROR_FILE_NOT_FOUND /
// ERROR_PATH_NOT_FOUND when it is missing, or another error code.
DWORD ReadWholeFile(const std::string& path, std::string& contents);

// Holds an exclusive lock on a file for a read-modify-replace cycle. The lock
// is taken on the file itself and re-taken if another process replaced the
// file while we waited, so every writer sees the latest contents.
class ExclusiveFile {
 public:
  ExclusiveFile() = default;
  ~ExclusiveFile();
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;

  // Opens and locks `path` (following a symbolic link to its target). With
  // `create` a missing file is created empty (mode 0600 unless `shared`,
  // then 0666 less the umask); without it a missing file gives
  // ERROR_FILE_NOT_FOUND.
  DWORD Open(const std::string& path, bool create, bool shared = false);
  // The locked file's contents.
  DWORD Read(std::string& contents);
  // Writes `contents` to a temporary file beside the target, flushes it to
  // disk, and renames it over the target; the old contents stay intact until
  // the rename. The temporary name is fixed, so a copy left by a crash is
  // simply overwritten by the next write.
  DWORD Replace(const std::string& contents);
  void Close();

  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// The temporary file Replace writes before renaming it over `path`.
std::string TemporaryPathFor(const std::string& path);

// Tests only: called after the temporary file is complete and before the
// rename, so a test can stop a writing process at its most fragile point.
void SetBeforeRenameHookForTests(void (*hook)());

}  // namespace store_file
