// What a run has on disk that is not yet, or no longer, where it belongs: a
// temporary file beside an output, or an output just put in place whose old
// file is still kept. When the process is stopped by SIGINT, SIGTERM, SIGHUP
// or SIGPIPE, every such file is removed and every output put back as it was;
// the signal is then raised again, so the process ends as a shell expects
// (status 128 + the signal's number).
#pragma once
#include <csignal>
#include <string>

namespace orvane {

class TempGuard {
 public:
  enum class State : int {
    kNone,        // nothing on disk to undo
    kTemporary,   // `temp` is a temporary file: removed
    kExchanged,   // `target` holds the new file, `temp` the old: exchanged back, then removed
    kLinkedNew,   // `target` is new, there was no old file: removed
    kBackedUp,    // `target` holds the new file, `temp` is a link to the old: renamed back
  };

  TempGuard() = default;
  TempGuard(const TempGuard&) = delete;
  TempGuard& operator=(const TempGuard&) = delete;
  ~TempGuard() { Set(State::kNone); }

  // Names the files in the directory `dirfd` and says what they are. Call it
  // inside a SignalBlock together with the call that made them so. Names too
  // long to keep cannot name a file in the first place.
  void Set(State state, int dirfd = -1, const std::string& temp = "", const std::string& target = "");
  State state() const;

 private:
  int slot_ = -1;
};

// Holds off the four signals while a file is made, renamed or removed and its
// state noted, so that a signal never sees the one without the other.
class SignalBlock {
 public:
  SignalBlock();
  ~SignalBlock();
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t old_;
};

}  // namespace orvane
