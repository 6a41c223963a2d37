// The CP/M console as the machine uses it: bytes in, bytes out.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvane::runner {

class Console {
 public:
  virtual ~Console() = default;
  // The next byte typed, waiting for it; -1 at the end of input.
  virtual int Read() = 0;
  // Whether a key is waiting (false at the end of input).
  virtual bool Ready() = 0;
  // The next byte if it has been typed already, left for Read; -1 if none.
  // Unlike Ready it sends no pending output first.
  virtual int Peek() { return -1; }
  // Whether the input has ended for good: Read answers -1 and always will.
  virtual bool Ended() { return false; }
  // Whether the user asked from the keyboard to stop the run.
  virtual bool QuitRequested() { return false; }
  // False when the output is gone; error then says why.
  virtual bool Write(const uint8_t* bytes, size_t n) = 0;
  virtual bool Flush() { return true; }
  std::string error;
};

// Standard input and output. A host line end (LF, or CR LF) reads as one CR.
// When standard input is a terminal it is put in raw mode (no echo, no line
// editing, no signal keys: Ctrl+C, Ctrl+Z, Ctrl+\, Ctrl+S and Ctrl+Q reach
// the program) and restored when the console is destroyed, when the process
// is ended by a signal and while it is suspended. The escape key Ctrl+] then
// q asks to stop the run, Ctrl+] z suspends it, Ctrl+] Ctrl+] types Ctrl+].
// The attributes the console output has left on at the host terminal (the
// bits of AnsiTranslator's modes: 1 reverse, 2 dim, 4 blinking, 8
// underline, 16 the cursor hidden). A signal that ends or suspends the run
// turns them off on standard output when it is a terminal, and a
// continued run turns them on again.
void SetScreenModes(int modes);

class HostConsole final : public Console {
 public:
  static constexpr uint8_t kEscape = 0x1D;  // Ctrl+]

  HostConsole(int in = 0, int out = 1);
  ~HostConsole() override;
  HostConsole(const HostConsole&) = delete;
  HostConsole& operator=(const HostConsole&) = delete;

  int Read() override;
  bool Ready() override;
  int Peek() override;
  bool Ended() override { return atEnd_ && inPos_ == inBuf_.size(); }
  bool QuitRequested() override;
  bool Write(const uint8_t* bytes, size_t n) override;
  bool Flush() override;

  // Whether the last byte written left a line unfinished (not LF).
  bool lineOpen = false;

 private:
  // Reads more input; false at its end, when nothing is waiting or after a
  // request to stop.
  bool Fill(bool wait);
  void Escape(char key);
  int in_, out_;
  bool raw_ = false;
  std::string inBuf_, outBuf_;
  size_t inPos_ = 0;
  bool atEnd_ = false, lastCr_ = false, escape_ = false, quit_ = false;
};

}  // namespace orvane::runner
