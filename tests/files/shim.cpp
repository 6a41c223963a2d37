// Preloaded into orvane-asm by the files test to make things happen at an
// exact point of a run instead of at a moment in time. Set in the environment:
//   ORVANE_SHIM_WATCH=PATH  the source, as the program opens it
//   ORVANE_SHIM_EOF=N       act at the N-th end of file read from it (default 1;
//                           1 is between the passes, 2 before the outputs are
//                           put in place)
//   ORVANE_SHIM_RUN=CMD     the act: a shell command
//   ORVANE_SHIM_SIGNAL=N    the act: the signal N sent to the program itself
//   ORVANE_SHIM_NO_TMPFILE=1  file systems without unnamed temporary files
//   ORVANE_SHIM_EXCHANGE_FAILS=N  the N-th exchange of two names fails (EBUSY)
//   ORVANE_SHIM_NO_EXCHANGE=1     exchanging two names is refused (EINVAL), as
//                                 on a file system that cannot
//   ORVANE_SHIM_EXCHANGE_SIGNAL=N the signal ORVANE_SHIM_SIGNAL is sent just
//                                 before the N-th exchange
//   ORVANE_SHIM_EINTR_STDIN=1     the first read of standard input is interrupted
//   ORVANE_SHIM_STALE_EINTR=1     every read of the watched file that returns data
//                                 leaves errno at EINTR, as a read after an
//                                 interrupted one may
// Always: closing a descriptor that is not open aborts, since the number may
// belong to another file by then.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The real calls, looked up once at load: the program's signal handler may
// call through the shim, where dlsym must not run.
void* realOpen;
void* realOpenat;
void* realRead;
void* realRenameat2;
void* realClose;

__attribute__((constructor)) void Load() {
  realOpen = dlsym(RTLD_NEXT, "open");
  realOpenat = dlsym(RTLD_NEXT, "openat");
  realRead = dlsym(RTLD_NEXT, "read");
  realRenameat2 = dlsym(RTLD_NEXT, "renameat2");
  realClose = dlsym(RTLD_NEXT, "close");
}

template <typename F>
F Real(void* f) {
  return reinterpret_cast<F>(f);
}

int Number(const char* name, int fallback) {
  const char* v = getenv(name);
  return v != nullptr && *v != '\0' ? atoi(v) : fallback;
}

bool watched[4096];
int eofs = 0;
int exchanges = 0;
bool stdinInterrupted = false;

void Note(int fd, const char* path) {
  const char* watch = getenv("ORVANE_SHIM_WATCH");
  if (fd >= 0 && fd < 4096) watched[fd] = watch != nullptr && strcmp(path, watch) == 0;
}

void Act() {
  // Children are left as they would be without the shim.
  const char* run = getenv("ORVANE_SHIM_RUN");
  const int sig = Number("ORVANE_SHIM_SIGNAL", 0);
  if (run != nullptr) {
    char* keep = getenv("LD_PRELOAD");
    char saved[4096];
    snprintf(saved, sizeof saved, "%s", keep != nullptr ? keep : "");
    unsetenv("LD_PRELOAD");
    if (system(run) != 0) fprintf(stderr, "shim: '%s' failed\n", run);
    setenv("LD_PRELOAD", saved, 1);
  }
  if (sig > 0 && Number("ORVANE_SHIM_EXCHANGE_SIGNAL", 0) == 0) kill(getpid(), sig);
}

}  // namespace

extern "C" {

// The mode is read only where the call has one: with O_CREAT or O_TMPFILE.
#define SHIM_OPEN(call, ...)                                                     \
  mode_t mode = 0;                                                               \
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {              \
    va_list ap;                                                                  \
    va_start(ap, flags);                                                         \
    mode = static_cast<mode_t>(va_arg(ap, int));                                 \
    va_end(ap);                                                                  \
  }                                                                              \
  if ((flags & O_TMPFILE) == O_TMPFILE && Number("ORVANE_SHIM_NO_TMPFILE", 0)) { \
    errno = EOPNOTSUPP;                                                          \
    return -1;                                                                   \
  }                                                                              \
  const int fd = call(__VA_ARGS__, flags, mode);                                 \
  Note(fd, path);                                                                \
  return fd

int open(const char* path, int flags, ...) { SHIM_OPEN(Real<int (*)(const char*, int, ...)>(realOpen), path); }

int openat(int dirfd, const char* path, int flags, ...) {
  SHIM_OPEN(Real<int (*)(int, const char*, int, ...)>(realOpenat), dirfd, path);
}

ssize_t read(int fd, void* buf, size_t n) {
  if (fd == 0 && !stdinInterrupted && Number("ORVANE_SHIM_EINTR_STDIN", 0) != 0) {
    stdinInterrupted = true;
    errno = EINTR;
    return -1;
  }
  const ssize_t got = Real<ssize_t (*)(int, void*, size_t)>(realRead)(fd, buf, n);
  // errno is left alone by a call that succeeds: what an earlier one put there stays.
  if (got > 0 && fd >= 0 && fd < 4096 && watched[fd] && Number("ORVANE_SHIM_STALE_EINTR", 0) != 0) errno = EINTR;
  if (got == 0 && fd >= 0 && fd < 4096 && watched[fd] && ++eofs == Number("ORVANE_SHIM_EOF", 1)) Act();
  return got;
}

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned int flags) {
#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif
  if ((flags & RENAME_EXCHANGE) != 0 && Number("ORVANE_SHIM_NO_EXCHANGE", 0) != 0) {
    errno = EINVAL;
    return -1;
  }
  ++exchanges;
  if (exchanges == Number("ORVANE_SHIM_EXCHANGE_SIGNAL", 0)) kill(getpid(), Number("ORVANE_SHIM_SIGNAL", 0));
  if (exchanges == Number("ORVANE_SHIM_EXCHANGE_FAILS", 0)) {
    errno = EBUSY;
    return -1;
  }
  return Real<int (*)(int, const char*, int, const char*, unsigned)>(realRenameat2)(olddirfd, oldpath, newdirfd,
                                                                                  newpath, flags);
}

int close(int fd) {
  const int r = Real<int (*)(int)>(realClose)(fd);
  if (r != 0 && errno == EBADF) {
    fprintf(stderr, "shim: close(%d) of a descriptor that is not open\n", fd);
    abort();
  }
  if (fd >= 0 && fd < 4096) watched[fd] = false;
  return r;
}
}
