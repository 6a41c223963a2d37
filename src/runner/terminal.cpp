#include "runner/terminal.h"

#include <algorithm>
#include <utility>

namespace orvane::runner {

namespace {

constexpr uint8_t kEsc = 0x1B;

// Where the next byte of the program's output falls.
enum State {
  kText,
  kEscape,       // after ESC
  kRow,          // the row byte of ESC Y (vt52) or ESC = (adm3a)
  kColumn,       // its column byte
  kAttributeOn,  // the attribute digit of ESC B (Kaypro)
  kAttributeOff, // of ESC C
  kSkip,         // a parameter byte that is read and dropped (H19 ESC x and ESC y)
};

std::string CursorTo(uint8_t row, uint8_t column) {
  const int r = std::clamp(row - 32, 0, kScreenRows - 1), c = std::clamp(column - 32, 0, kScreenColumns - 1);
  return "\x1b[" + std::to_string(r + 1) + ";" + std::to_string(c + 1) + "H";
}

// The VT52's escape sequences and those the H19 added, as ANSI.
const char* Vt52Escape(uint8_t c) {
  switch (c) {
    case 'A': return "\x1b[A";
    case 'B': return "\x1b[B";
    case 'C': return "\x1b[C";
    case 'D': return "\x1b[D";
    case 'H': return "\x1b[H";
    case 'J': return "\x1b[J";
    case 'K': return "\x1b[K";
    case 'I': return "\x1bM";  // reverse line feed
    case 'E': return "\x1b[H\x1b[2J";
    case 'b': return "\x1b[1J";
    case 'l': return "\x1b[2K";
    case 'o': return "\x1b[1K";
    case 'L': return "\r\x1b[L";
    case 'M': return "\r\x1b[M";
    case 'N': return "\x1b[P";
    case 'j': return "\x1b" "7";
    case 'k': return "\x1b" "8";
    case 'p': return "\x1b[7m";
    case 'q': return "\x1b[27m";
    default: return "";
  }
}

// The Kaypro's ESC B n (on) and ESC C n (off).
const char* KayproAttribute(uint8_t digit, bool on) {
  switch (digit) {
    case '0': return on ? "\x1b[7m" : "\x1b[27m";
    case '1': return on ? "\x1b[2m" : "\x1b[22m";
    case '2': return on ? "\x1b[5m" : "\x1b[25m";
    case '3': return on ? "\x1b[4m" : "\x1b[24m";
    case '4': return on ? "\x1b[?25h" : "\x1b[?25l";
    case '6': return on ? "\x1b" "7" : "\x1b" "8";
    default: return "";
  }
}

}  // namespace

bool ParseTerminalType(std::string_view name, TerminalType& type) {
  for (TerminalType t : {TerminalType::kAnsi, TerminalType::kVt52, TerminalType::kAdm3a})
    if (name == TerminalTypeName(t)) return type = t, true;
  return false;
}

const char* TerminalTypeName(TerminalType type) {
  switch (type) {
    case TerminalType::kVt52: return "vt52";
    case TerminalType::kAdm3a: return "adm3a";
    default: return "ansi";
  }
}

void AnsiTranslator::Translate(std::string_view bytes, std::string& out) {
  if (type_ == TerminalType::kAnsi) return out.append(bytes), void();
  for (char c : bytes) Byte(static_cast<uint8_t>(c) & 0x7F, out);  // a terminal of seven bits
}

void AnsiTranslator::Byte(uint8_t c, std::string& out) {
  const bool vt52 = type_ == TerminalType::kVt52;
  switch (state_) {
    case kEscape:
      state_ = kText;
      if (c == (vt52 ? 'Y' : '=')) return void(state_ = kRow);
      if (vt52) {
        if (c == 'x' || c == 'y') return void(state_ = kSkip);
        return Emit(Vt52Escape(c), out);
      }
      switch (c) {
        case 'T': return void(out += "\x1b[K");
        case 'Y': return void(out += "\x1b[J");
        case 'E': return void(out += "\r\x1b[L");
        case 'R': return void(out += "\r\x1b[M");
        case 'B': return void(state_ = kAttributeOn);
        case 'C': return void(state_ = kAttributeOff);
        default: return;
      }
    case kRow:
      row_ = c;
      state_ = kColumn;
      return;
    case kColumn:
      state_ = kText;
      return void(out += CursorTo(row_, c));
    case kAttributeOn:
    case kAttributeOff:
      Emit(KayproAttribute(c, state_ == kAttributeOn), out);
      state_ = kText;
      return;
    case kSkip:
      state_ = kText;
      return;
  }
  switch (c) {
    case kEsc:
      state_ = kEscape;
      return;
    case '\r':
    case '\n':
    case '\b':
    case '\t':
    case '\a':
      out += static_cast<char>(c);
      return;
  }
  if (!vt52) {
    switch (c) {
      case 0x0B: return void(out += "\x1b[A");
      case 0x0C: return void(out += "\x1b[C");
      case 0x1A: return Emit("\x1b[0m\x1b[H\x1b[2J", out);
      case 0x1E: return void(out += "\x1b[H");
      case 0x17: return void(out += "\x1b[J");
      case 0x18: return void(out += "\x1b[K");
    }
  }
  if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
}

void AnsiTranslator::Emit(std::string_view ansi, std::string& out) {
  out += ansi;
  // What is left on: a bit per attribute, and one for the hidden cursor.
  static constexpr std::pair<std::string_view, int> kOn[] = {{"\x1b[7m", 1}, {"\x1b[2m", 2}, {"\x1b[5m", 4},
                                                              {"\x1b[4m", 8}, {"\x1b[?25l", 16}};
  static constexpr std::pair<std::string_view, int> kOff[] = {{"\x1b[27m", 1}, {"\x1b[22m", 2}, {"\x1b[25m", 4},
                                                               {"\x1b[24m", 8}, {"\x1b[?25h", 16}, {"\x1b[0m", 15}};
  // A saved cursor keeps the attributes with it, and its restore brings them
  // back: reverse video cleared in between is on again after ESC 8.
  if (ansi == "\x1b" "7") savedModes_ = modes_ & 15;
  if (ansi == "\x1b" "8") modes_ = (modes_ & 16) | savedModes_;
  for (auto [seq, bit] : kOn)
    if (ansi == seq) modes_ |= bit;
  for (auto [seq, bit] : kOff)
    if (ansi.substr(0, seq.size()) == seq) modes_ &= ~bit;
}

std::string AnsiTranslator::Restore() {
  std::string out = modes_ & 15 ? "\x1b[0m" : "";
  if (modes_ & 16) out += "\x1b[?25h";
  modes_ = savedModes_ = 0;
  return out;
}

std::string CursorKeyBytes(TerminalType type, CursorKey key) {
  static constexpr char kLetters[] = "ABCD";
  static constexpr char kAdm3a[] = "\x0b\x0a\x0c\x08";
  const auto i = static_cast<size_t>(key);
  switch (type) {
    case TerminalType::kVt52: return std::string("\x1b") + kLetters[i];
    case TerminalType::kAdm3a: return std::string(1, kAdm3a[i]);
    default: return std::string("\x1b[") + kLetters[i];
  }
}

int TerminalConsole::Read() {
  if (!pending_.empty()) {
    const auto c = static_cast<unsigned char>(pending_.front());
    pending_.erase(0, 1);
    return c;
  }
  if (pendingEnd_) return pendingEnd_ = false, -1;
  const int c = host_.Read();
  if (c != kEsc || out_.Type() == TerminalType::kAnsi) return c;
  // A cursor key arrives as ESC [ A or ESC O A in one piece; an ESC alone
  // (nothing behind it yet) is the Escape key and goes as it is.
  std::string seen(1, static_cast<char>(c));
  while (seen.size() < 3 && !pendingEnd_ && host_.Ready()) {
    const int next = host_.Read();
    if (next < 0) {
      pendingEnd_ = true;
      break;
    }
    seen += static_cast<char>(next);
    if (seen.size() == 2 && next != '[' && next != 'O') break;
  }
  static constexpr std::string_view kFinals = "ABCD";
  if (seen.size() == 3 && kFinals.find(seen[2]) != std::string_view::npos) {
    pending_ = CursorKeyBytes(out_.Type(), static_cast<CursorKey>(kFinals.find(seen[2])));
  } else {
    pending_ = seen;
  }
  return Read();
}

// A key is waiting when one was read ahead or the host has one; at the end
// of input none is.
bool TerminalConsole::Ready() { return !pending_.empty() || (!pendingEnd_ && host_.Ready()); }

bool TerminalConsole::Write(const uint8_t* bytes, size_t n) {
  if (out_.Type() != TerminalType::kAnsi) {
    buffer_.clear();
    out_.Translate(std::string_view(reinterpret_cast<const char*>(bytes), n), buffer_);
    SetScreenModes(out_.Modes());
    bytes = reinterpret_cast<const uint8_t*>(buffer_.data());
    n = buffer_.size();
  }
  if (n == 0 || host_.Write(bytes, n)) return true;
  error = host_.error;
  return false;
}

TerminalConsole::~TerminalConsole() {
  SetScreenModes(0);
  const std::string restore = out_.Restore();
  if (!restore.empty()) host_.Write(reinterpret_cast<const uint8_t*>(restore.data()), restore.size());
}

bool TerminalConsole::Flush() {
  if (host_.Flush()) return true;
  error = host_.error;
  return false;
}

}  // namespace orvane::runner
