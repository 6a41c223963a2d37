#include "driver/temp_guard.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "driver/linux_files.h"

namespace orvane {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr size_t kNameMax = 512;

// Fixed slots, so the handler reads nothing that may be moving: a slot's
// names are written while its state is kNone, and the state is set last.
struct Slot {
  volatile sig_atomic_t state;
  int dirfd;
  char temp[kNameMax];
  char target[kNameMax];
};
constexpr int kSlots = 32;
Slot slots[kSlots];
bool taken[kSlots];

struct sigaction previous[65];
volatile sig_atomic_t installed = 0;

void Undo(Slot& s) {
  switch (static_cast<TempGuard::State>(s.state)) {
    case TempGuard::State::kNone:
      break;
    case TempGuard::State::kTemporary:
      ::unlinkat(s.dirfd, s.temp, 0);
      break;
    case TempGuard::State::kExchanged:
      if (sys::Exchange(s.dirfd, s.temp, s.target) == 0) ::unlinkat(s.dirfd, s.temp, 0);
      break;
    case TempGuard::State::kLinkedNew:
      ::unlinkat(s.dirfd, s.target, 0);
      break;
    case TempGuard::State::kBackedUp:
      ::renameat(s.dirfd, s.temp, s.dirfd, s.target);
      break;
  }
  s.state = static_cast<sig_atomic_t>(TempGuard::State::kNone);
}

void OnSignal(int sig) {
  const int saved = errno;
  for (Slot& s : slots) Undo(s);
  // The disposition the process had before, then the signal once more: the
  // default one ends the process as the signal would have.
  for (int other : kSignals) ::sigaction(other, &previous[other], nullptr);
  installed = 0;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(sig);
  errno = saved;
}

void Install() {
  if (installed) return;
  for (int sig : kSignals) {
    struct sigaction was {};
    ::sigaction(sig, nullptr, &was);
    previous[sig] = was;
    // A signal the process was told to ignore stays ignored.
    if (was.sa_handler == SIG_IGN) continue;
    struct sigaction on {};
    on.sa_handler = OnSignal;
    sigemptyset(&on.sa_mask);
    for (int other : kSignals) sigaddset(&on.sa_mask, other);
    on.sa_flags = SA_RESTART;
    ::sigaction(sig, &on, nullptr);
  }
  installed = 1;
}

void Copy(char (&to)[kNameMax], const std::string& from) {
  const size_t n = from.size() < kNameMax - 1 ? from.size() : kNameMax - 1;
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

}  // namespace

void TempGuard::Set(State state, int dirfd, const std::string& temp, const std::string& target) {
  if (state == State::kNone) {
    if (slot_ >= 0) {
      slots[slot_].state = static_cast<sig_atomic_t>(State::kNone);
      taken[slot_] = false;
      slot_ = -1;
    }
    return;
  }
  if (slot_ < 0) {
    for (int i = 0; i < kSlots && slot_ < 0; ++i)
      if (!taken[i]) slot_ = i;
    // More outputs at once than slots: they go unguarded.
    if (slot_ < 0) return;
    taken[slot_] = true;
    Install();
  }
  Slot& s = slots[slot_];
  s.state = static_cast<sig_atomic_t>(State::kNone);
  s.dirfd = dirfd;
  Copy(s.temp, temp);
  Copy(s.target, target);
  s.state = static_cast<sig_atomic_t>(state);
}

TempGuard::State TempGuard::state() const {
  return slot_ < 0 ? State::kNone : static_cast<State>(slots[slot_].state);
}

SignalBlock::SignalBlock() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kSignals) sigaddset(&set, sig);
  ::sigprocmask(SIG_BLOCK, &set, &old_);
}

SignalBlock::~SignalBlock() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }

}  // namespace orvane
