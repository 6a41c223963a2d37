#include "runner/console.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace orvane::runner {

namespace {

// The terminal's settings before raw mode and in it, for the signal handlers.
struct termios savedTermios, rawTermios;
volatile sig_atomic_t rawFd = -1;
volatile sig_atomic_t screenFd = -1, screenModes = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void Put(const char* s) {
  size_t n = 0;
  while (s[n]) ++n;
  if (screenFd >= 0 && write(screenFd, s, n) < 0) return;
}

// The host terminal's own attributes (off), or the program's again (on).
void ScreenModes(bool on) {
  const int m = screenModes;
  if (!on) {
    if (m & 15) Put("\x1b[0m");
    if (m & 16) Put("\x1b[?25h");
    return;
  }
  static const char* const kOn[] = {"\x1b[7m", "\x1b[2m", "\x1b[5m", "\x1b[4m", "\x1b[?25l"};
  for (int i = 0; i < 5; ++i)
    if (m & (1 << i)) Put(kOn[i]);
}

void RestoreAndRaise(int sig) {
  ScreenModes(false);
  if (rawFd >= 0) tcsetattr(rawFd, TCSAFLUSH, &savedTermios);
  signal(sig, SIG_DFL);
  raise(sig);
}

// Raw mode again after a stop, but only in the foreground: a background job
// that set the terminal would be stopped again by SIGTTOU.
void ContinueRaw(int) {
  const int saved = errno;
  if (rawFd >= 0 && tcgetpgrp(rawFd) == getpgrp()) tcsetattr(rawFd, TCSANOW, &rawTermios);
  errno = saved;
}

// Suspension (SIGTSTP from outside, or the escape key): the host's settings
// while stopped, raw mode when continued.
void Suspend(int) {
  const int saved = errno;
  ScreenModes(false);
  if (rawFd >= 0) tcsetattr(rawFd, TCSANOW, &savedTermios);
  signal(SIGTSTP, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(SIGTSTP);
  // Continued here.
  signal(SIGTSTP, Suspend);
  ContinueRaw(0);
  if (screenFd >= 0 && tcgetpgrp(screenFd) == getpgrp()) ScreenModes(true);
  errno = saved;
}

}  // namespace

void SetScreenModes(int modes) { screenModes = modes; }

HostConsole::HostConsole(int in, int out) : in_(in), out_(out) {
  struct termios t;
  if (isatty(out_)) {
    screenFd = out_;
    for (int sig : kSignals) signal(sig, RestoreAndRaise);
  }
  if (!isatty(in_) || tcgetattr(in_, &t) != 0) return;
  savedTermios = t;
  rawFd = in_;
  raw_ = true;
  for (int sig : kSignals) signal(sig, RestoreAndRaise);
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN | ISIG);
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB)) | CS8;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  rawTermios = t;
  signal(SIGTSTP, Suspend);
  signal(SIGCONT, ContinueRaw);
  tcsetattr(in_, TCSAFLUSH, &t);
}

HostConsole::~HostConsole() {
  Flush();
  if (rawFd == in_) {
    signal(SIGTSTP, SIG_DFL);
    signal(SIGCONT, SIG_DFL);
    tcsetattr(in_, TCSAFLUSH, &savedTermios);
    rawFd = -1;
    for (int sig : kSignals) signal(sig, SIG_DFL);
  }
  if (screenFd == out_) {
    screenFd = -1;
    for (int sig : kSignals) signal(sig, SIG_DFL);
  }
}

void HostConsole::Escape(char key) {
  switch (key) {
    case 'q':
    case 'Q':
      quit_ = true;
      return;
    case 'z':
    case 'Z':
      Flush();
      raise(SIGTSTP);
      return;
    case static_cast<char>(kEscape):
      inBuf_ += key;
      return;
    default: {
      static const char kHint[] = "\r\n[Ctrl+] then q stops the run, z suspends it, Ctrl+] types Ctrl+]]\r\n";
      Flush();
      if (write(out_, kHint, sizeof kHint - 1) < 0) return;
    }
  }
}

bool HostConsole::QuitRequested() {
  // Keys typed while the program computes: a request to stop is seen between
  // slices, the rest waits in the buffer.
  if (raw_ && !quit_ && !atEnd_) Fill(false);
  return quit_;
}

bool HostConsole::Fill(bool wait) {
  if (atEnd_ || quit_) return false;
  if (!wait) {
    struct pollfd p = {in_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return false;
  }
  char buf[4096];
  ssize_t n;
  do n = read(in_, buf, sizeof buf);
  while (n < 0 && errno == EINTR);
  if (n <= 0) {
    atEnd_ = true;
    return false;
  }
  inBuf_.erase(0, inPos_);
  inPos_ = 0;
  for (ssize_t i = 0; i < n; ++i) {
    const char c = buf[i];
    // On a terminal the escape key and the one after it are the runner's.
    if (raw_ && (escape_ || c == static_cast<char>(kEscape))) {
      escape_ = !escape_;
      if (!escape_) Escape(c);
      if (quit_) return false;
      continue;
    }
    // LF after CR belongs to the same line end; a lone LF becomes CR.
    if (c == '\n' && lastCr_) {
      lastCr_ = false;
      continue;
    }
    lastCr_ = c == '\r';
    inBuf_ += c == '\n' ? '\r' : c;
  }
  return true;
}

int HostConsole::Read() {
  Flush();
  while (inPos_ == inBuf_.size())
    if (!Fill(true)) return -1;
  return static_cast<unsigned char>(inBuf_[inPos_++]);
}

bool HostConsole::Ready() {
  if (inPos_ < inBuf_.size()) return true;
  Flush();
  while (inPos_ == inBuf_.size())
    if (!Fill(false)) return false;
  return true;
}

int HostConsole::Peek() {
  if (inPos_ == inBuf_.size()) Fill(false);
  return inPos_ < inBuf_.size() ? static_cast<unsigned char>(inBuf_[inPos_]) : -1;
}

bool HostConsole::Write(const uint8_t* bytes, size_t n) {
  if (!error.empty()) return false;
  if (n > 0) lineOpen = bytes[n - 1] != '\n';
  outBuf_.append(reinterpret_cast<const char*>(bytes), n);
  return outBuf_.size() < 4096 || Flush();
}

bool HostConsole::Flush() {
  if (!error.empty()) return false;
  size_t done = 0;
  while (done < outBuf_.size()) {
    const ssize_t n = write(out_, outBuf_.data() + done, outBuf_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? strerror(errno) : "nothing written";
      outBuf_.clear();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  outBuf_.clear();
  return true;
}

}  // namespace orvane::runner
