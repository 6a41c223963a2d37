// The terminal a CP/M program was installed for, and what the host makes of
// it: the program's screen codes translated into ANSI (ECMA-48) for a host
// terminal, and the host's ANSI cursor keys translated into the installed
// terminal's keys.
//
//   ansi   the bytes as they are, both ways
//   vt52   ESC Y r c (r and c plus 32), ESC H home, ESC J and ESC K clear to
//          the end of the screen and line, ESC A B C D up, down, right,
//          left; the Heathkit H19 / Zenith Z19 additions ESC E clear screen,
//          ESC p and ESC q reverse video on and off, ESC L and ESC M insert
//          and delete a line. Keys: ESC A B C D.
//   adm3a  ESC = r c (r and c plus 32), ^Z clear screen, ^^ home, ^K up,
//          ^J down (line feed), ^L right, ^H left; the Kaypro additions ^X
//          and ^W (also ESC T and ESC Y, as the Osborne 1 and TeleVideo
//          terminals have them) clear to the end of the line and screen,
//          ESC E and ESC R insert and delete a line, ESC B0 and ESC C0 reverse
//          video on and off. Keys: ^K ^J ^L ^H.
//
// The screen is 24 rows of 80 columns: addresses outside it are clamped to
// its edges, and cursor moves stop at them (only a line feed scrolls).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "runner/console.h"

namespace orvane::runner {

enum class TerminalType { kAnsi, kVt52, kAdm3a };

constexpr int kScreenRows = 24, kScreenColumns = 80;

// "ansi", "vt52" or "adm3a"; false for anything else.
bool ParseTerminalType(std::string_view name, TerminalType& type);
const char* TerminalTypeName(TerminalType type);

// The program's output, byte by byte (a sequence may be split across
// calls), as ANSI bytes. Sequences the terminal does not have, or that have
// no meaning here, are dropped rather than sent to the host as they are.
class AnsiTranslator {
 public:
  explicit AnsiTranslator(TerminalType type) : type_(type) {}
  TerminalType Type() const { return type_; }
  void Translate(std::string_view bytes, std::string& out);
  std::string Translate(std::string_view bytes) {
    std::string out;
    Translate(bytes, out);
    return out;
  }
  // What puts the host terminal back as it was after the translation left
  // reverse video (or dim, blinking, underline) on or the cursor hidden;
  // empty when it did not.
  std::string Restore();
  int Modes() const { return modes_; }

 private:
  void Byte(uint8_t c, std::string& out);
  void Emit(std::string_view ansi, std::string& out);
  TerminalType type_;
  int state_ = 0;   // where in an escape sequence the next byte falls
  uint8_t row_ = 0;  // the row byte of a cursor address
  int modes_ = 0;    // attributes left on, the cursor left hidden
  int savedModes_ = 0;  // the attributes a cursor save (ESC 7) keeps for its restore
};

enum class CursorKey { kUp, kDown, kRight, kLeft };

// What the terminal sends for a cursor key (ANSI: ESC [ A and so on).
std::string CursorKeyBytes(TerminalType type, CursorKey key);

// The console as the installed terminal sees it: output translated to ANSI,
// and the host's cursor keys (ESC [ A or ESC O A, and B, C, D, when the rest
// of the sequence has arrived with the ESC) turned into the terminal's keys.
// With ansi it passes everything through. At the end it turns off the
// attributes the program left on and shows the cursor it left hidden.
class TerminalConsole final : public Console {
 public:
  TerminalConsole(Console& host, TerminalType type) : host_(host), out_(type) {}
  ~TerminalConsole() override;
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;
  int Read() override;
  bool Ready() override;
  int Peek() override {
    return !pending_.empty() ? static_cast<unsigned char>(pending_.front()) : pendingEnd_ ? -1 : host_.Peek();
  }
  bool Ended() override { return pending_.empty() && (pendingEnd_ || host_.Ended()); }
  bool QuitRequested() override { return host_.QuitRequested(); }
  bool Write(const uint8_t* bytes, size_t n) override;
  bool Flush() override;

 private:
  Console& host_;
  AnsiTranslator out_;
  std::string pending_;  // keys read ahead, to hand out before the host's next
  bool pendingEnd_ = false;  // the host said end of input after them
  std::string buffer_;
};

}  // namespace orvane::runner
