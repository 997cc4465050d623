#include "winapi/store_file.h"

#include "winapi/win32_registry.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store_file {

namespace {

void (*g_beforeRenameHook)() = nullptr;

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, std::string& out) {
  out.clear();
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
  }
}

int LockExclusive(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace

void SetBeforeRenameHookForTests(void (*hook)()) { g_beforeRenameHook = hook; }

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD ReadWholeFile(const std::string& path, std::string& contents) {
  contents.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ErrorFromErrno(errno);
  const bool ok = ReadAll(fd, contents);
  const int error = errno;
  ::close(fd);
  return ok ? ERROR_SUCCESS : ErrorFromErrno(error);
}

std::string TemporaryPathFor(const std::string& path) { return path + ".tmp"; }

ExclusiveFile::~ExclusiveFile() { Close(); }

void ExclusiveFile::Close() {
  if (fd_ >= 0) ::close(fd_);  // releases the lock
  fd_ = -1;
  path_.clear();
}

DWORD ExclusiveFile::Open(const std::string& path, bool create, bool shared) {
  Close();
  if (path.empty()) return ERROR_INVALID_PARAMETER;
  const int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
  const mode_t mode = shared ? 0666 : 0600;
  // Another writer may rename a new file over the path while we wait for the
  // lock; then the lock we got is on a file nobody reads any more: go again.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int fd = ::open(path.c_str(), flags, mode);
    if (fd < 0) {
      const int error = errno;
      if (error == ENOENT && create) return ERROR_PATH_NOT_FOUND;
      return ErrorFromErrno(error);
    }
    if (const int error = LockExclusive(fd); error != 0) {
      ::close(fd);
      return ErrorFromErrno(error);
    }
    char resolved[PATH_MAX];
    struct stat held{}, current{};
    if (::realpath(path.c_str(), resolved) != nullptr && ::fstat(fd, &held) == 0 &&
        ::stat(resolved, &current) == 0 && held.st_dev == current.st_dev && held.st_ino == current.st_ino) {
      fd_ = fd;
      path_ = resolved;
      return ERROR_SUCCESS;
    }
    ::close(fd);
    if (!create && ::access(path.c_str(), F_OK) != 0) return ERROR_FILE_NOT_FOUND;
  }
  return ERROR_SHARING_VIOLATION;
}

DWORD ExclusiveFile::Read(std::string& contents) {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  if (::lseek(fd_, 0, SEEK_SET) < 0) return ErrorFromErrno(errno);
  return ReadAll(fd_, contents) ? ERROR_SUCCESS : ErrorFromErrno(errno);
}

DWORD ExclusiveFile::Replace(const std::string& contents) {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  struct stat original{};
  if (::fstat(fd_, &original) != 0) return ErrorFromErrno(errno);

  const std::string temporary = TemporaryPathFor(path_);
  const int out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (out < 0) return ErrorFromErrno(errno);
  // The new file keeps the old one's permissions (and owner, where we may).
  (void)::fchmod(out, original.st_mode & 07777);
  if (::geteuid() == 0) (void)::fchown(out, original.st_uid, original.st_gid);

  int error = 0;
  if (!WriteAll(out, contents) || ::fsync(out) != 0) error = errno;
  if (::close(out) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return ErrorFromErrno(error);
  }
  if (g_beforeRenameHook != nullptr) g_beforeRenameHook();
  if (::rename(temporary.c_str(), path_.c_str()) != 0) {
    error = errno;
    ::unlink(temporary.c_str());
    return ErrorFromErrno(error);
  }
  // Make the rename itself durable.
  const int dir = ::open(DirectoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return ERROR_SUCCESS;
}

}  // namespace store_file
