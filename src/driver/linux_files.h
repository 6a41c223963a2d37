// The file calls that only Linux has, each with what a caller does where the
// kernel or the file system lacks it. Everything else in the file code uses
// plain POSIX calls.
#pragma once
#include <sys/types.h>

namespace orvane::sys {

// A new file without a name in the directory `dirfd` (O_TMPFILE): nothing is
// left behind if the process dies before it is linked. -1 with errno set where
// the file system or the kernel cannot make one; the caller then makes a named
// temporary file instead.
int OpenUnnamed(int dirfd, mode_t mode);

// Gives the unnamed file `fd` the name `name` in `dirfd`; fails with EEXIST
// when the name is taken, as link does.
int LinkUnnamed(int fd, int dirfd, const char* name);

// A descriptor of the directory `path` that the *at calls work against, so
// that a directory renamed during a run still receives its files. Needs only
// the right to search the path (O_PATH), not to list the directory.
int OpenDirectory(const char* path);

// Exchanges two names in `dirfd` in one step (both must exist). -1 with errno
// EINVAL, ENOSYS or EOPNOTSUPP where the file system cannot; ENOENT when one
// of them is missing. Async-signal-safe.
int Exchange(int dirfd, const char* a, const char* b);

// True when `e` from Exchange means the file system cannot exchange at all.
bool ExchangeUnsupported(int e);

// Reserves room for `size` bytes of `fd` without changing its length, so that
// a rewrite finds a full disk before it touches the old content. -1 with errno
// only for a full disk or quota; where the file system cannot reserve, 0.
int ReserveRoom(int fd, off_t size);

}  // namespace orvane::sys
