#include "runner/console.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace orvane::runner {

namespace {

// The terminal's settings before raw mode, for the signal handler.
struct termios savedTermios;
volatile sig_atomic_t rawFd = -1;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreAndRaise(int sig) {
  if (rawFd >= 0) tcsetattr(rawFd, TCSAFLUSH, &savedTermios);
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

HostConsole::HostConsole(int in, int out) : in_(in), out_(out) {
  struct termios t;
  if (!isatty(in_) || tcgetattr(in_, &t) != 0) return;
  savedTermios = t;
  rawFd = in_;
  for (int sig : kSignals) signal(sig, RestoreAndRaise);
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB)) | CS8;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(in_, TCSAFLUSH, &t);
}

HostConsole::~HostConsole() {
  Flush();
  if (rawFd == in_) {
    tcsetattr(in_, TCSAFLUSH, &savedTermios);
    rawFd = -1;
    for (int sig : kSignals) signal(sig, SIG_DFL);
  }
}

bool HostConsole::Fill(bool wait) {
  if (atEnd_) return false;
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
    // LF after CR belongs to the same line end; a lone LF becomes CR.
    const char c = buf[i];
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
  if (inPos_ < inBuf_.size() || atEnd_) return true;
  Flush();
  while (inPos_ == inBuf_.size()) {
    if (!Fill(false)) return atEnd_;
  }
  return true;
}

bool HostConsole::Write(const uint8_t* bytes, size_t n) {
  if (!error.empty()) return false;
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
