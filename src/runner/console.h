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
  // Whether Read would return at once (also true at the end of input).
  virtual bool Ready() = 0;
  // False when the output is gone; error then says why.
  virtual bool Write(const uint8_t* bytes, size_t n) = 0;
  virtual bool Flush() { return true; }
  std::string error;
};

// Standard input and output. A host line end (LF, or CR LF) reads as one CR.
// When standard input is a terminal it is put in raw mode (no echo, no line
// editing, keys as typed; Ctrl+C still interrupts) and restored when the
// console is destroyed or the process is ended by a signal.
class HostConsole final : public Console {
 public:
  HostConsole(int in = 0, int out = 1);
  ~HostConsole() override;
  HostConsole(const HostConsole&) = delete;
  HostConsole& operator=(const HostConsole&) = delete;

  int Read() override;
  bool Ready() override;
  bool Write(const uint8_t* bytes, size_t n) override;
  bool Flush() override;

 private:
  bool Fill(bool wait);  // reads more input; false at its end or when nothing is waiting
  int in_, out_;
  std::string inBuf_, outBuf_;
  size_t inPos_ = 0;
  bool atEnd_ = false, lastCr_ = false;
};

}  // namespace orvane::runner
