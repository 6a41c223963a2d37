#include "driver/linux_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace orvane::sys {

int OpenUnnamed(int dirfd, mode_t mode) {
#if defined(__linux__) && defined(O_TMPFILE)
  // Linking it later goes through /proc/self/fd; without /proc an unnamed
  // file could never be given a name.
  static const bool procFd = ::access("/proc/self/fd", X_OK) == 0;
  if (!procFd) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return ::openat(dirfd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
#else
  (void)dirfd;
  (void)mode;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

int LinkUnnamed(int fd, int dirfd, const char* name) {
#ifdef __linux__
  char self[40];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, self, dirfd, name, AT_SYMLINK_FOLLOW);
#else
  (void)fd;
  (void)dirfd;
  (void)name;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

int OpenDirectory(const char* path) {
#ifdef O_PATH
  return ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

int Exchange(int dirfd, const char* a, const char* b) {
#if defined(__linux__) && defined(RENAME_EXCHANGE)
  return ::renameat2(dirfd, a, dirfd, b, RENAME_EXCHANGE);
#else
  (void)dirfd;
  (void)a;
  (void)b;
  errno = ENOSYS;
  return -1;
#endif
}

bool ExchangeUnsupported(int e) { return e == EINVAL || e == ENOSYS || e == EOPNOTSUPP; }

int ReserveRoom(int fd, off_t size) {
#ifdef __linux__
  if (size > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0 &&
      (errno == ENOSPC || errno == EDQUOT || errno == EFBIG))
    return -1;
#else
  (void)fd;
  (void)size;
#endif
  return 0;
}

}  // namespace orvane::sys
