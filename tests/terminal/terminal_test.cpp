// The three terminals, as tables of bytes a program writes and the screen
// they leave. Each row goes three ways that must agree: the screen model
// reading the terminal's own codes, the same model reading their ANSI
// translation (what orvane-run sends a host terminal), and, when libvterm is
// there, an independent terminal emulator reading that translation.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "runner/screen.h"
#include "runner/terminal.h"

#if ORVANE_HAVE_VTERM
#include <vterm.h>
#endif

namespace {

using orvane::runner::AnsiTranslator;
using orvane::runner::Screen;
using orvane::runner::TerminalConsole;
using orvane::runner::TerminalType;
using orvane::runner::TerminalTypeName;

constexpr TerminalType kAnsi = TerminalType::kAnsi, kVt52 = TerminalType::kVt52, kAdm3a = TerminalType::kAdm3a;

struct ScreenRow {
  TerminalType type;
  const char* bytes;
  std::string screen;  // the rows as Text() has them, a run in reverse video in [ ]
  int row, column;
};

// Characters seen as a reader of the screen sees them: Text() with the
// cells in reverse video marked.
template <typename Cell>
std::string Marked(Cell cell) {
  std::vector<std::string> lines;
  for (int r = 0; r < Screen::kRows; ++r) {
    std::string line;
    bool in = false;
    size_t end = 0;
    for (int c = 0; c < Screen::kColumns; ++c) {
      const auto [ch, reverse] = cell(r, c);
      if (reverse != in) line += reverse ? '[' : ']', in = reverse;
      line += ch;
      if (ch != ' ' || reverse) end = line.size();
    }
    if (in) line += ']', end = line.size();
    lines.push_back(line.substr(0, end));
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
  return text;
}

std::string Marked(const Screen& s) {
  return Marked([&s](int r, int c) {
    return std::pair{s.Rows()[static_cast<size_t>(r)][static_cast<size_t>(c)], s.Reverse(r, c)};
  });
}

std::string Rows(int n) { return std::string(static_cast<size_t>(n), '\n'); }

const std::vector<ScreenRow> kRows = {
    // ---- VT52, with the H19's additions
    {kVt52, "ABC\x1bH\x1b" "CX", "AXC", 0, 2},                                  // home, right
    {kVt52, "\x1bY%*HI", "\n\n\n\n\n          HI", 5, 12},                        // ESC Y row+32 column+32
    {kVt52, "ABCDEF\x1b" "D\x1b" "D\x1b" "D\x1bK", "ABC", 0, 3},                  // left, clear to end of line
    {kVt52, "L1\r\nL2\r\nL3\x1bH\x1b" "B\x1bJ", "L1", 1, 0},                    // down, clear to end of screen
    {kVt52, "XYZ\x1b" "E", "", 0, 0},                                            // clear screen and home
    {kVt52, "\x1bpREV\x1bqN", "[REV]N", 0, 4},                                   // reverse video on, off
    {kVt52, "\x1b" "A\x1b" "D", "", 0, 0},                                       // moves stop at the edges
    {kVt52, "\x1bY\x7f\x7fZ", Rows(23) + std::string(79, ' ') + "Z", 23, 80},  // clamped to the last cell
    {kVt52, "A\x1b" "F\x1bGB\x1bZ", "AB", 0, 2},                                 // graphics, identify: dropped
    {kVt52, "1\r\n2\r\n3\x1bH\x1bL", "\n1\n2\n3", 0, 0},                         // insert a line
    {kVt52, "1\r\n2\r\n3\x1bH\x1bM", "2\n3", 0, 0},                              // delete a line
    {kVt52, "\x1bY!!AB\x1bI\x1bI\x1bIX", "   X\n\n\n AB", 0, 4},                 // reverse line feed scrolls at the top
    {kVt52, "AB\x1bjCD\x1bY%%E\x1bkF", "ABFD\n\n\n\n\n     E", 0, 3},            // save and restore the cursor
    {kVt52, "\x1bx5A\x1by1B", "AB", 0, 2},                                       // modes: the parameter is read
    {kVt52, "\xc1\xc2", "AB", 0, 2},                                             // seven bits
    {kVt52, "ABCDEF\x1b" "D\x1b" "D\x1bo", "     F", 0, 4},                       // clear to start of line
    {kVt52, "ABCDEF\x1b" "D\x1b" "D\x1b" "D\x1bN", "ABCEF", 0, 3},               // delete a character
    {kVt52, "L1\r\nL2\x1b" "b", "", 1, 2},                                       // clear to start of screen
    {kVt52, "AB\x1bY", "AB", 0, 2},                                              // an address cut short
    // ---- ADM-3A, with the Kaypro's additions
    {kAdm3a, "\x1b=%*HI", "\n\n\n\n\n          HI", 5, 12},                       // ESC = row+32 column+32
    {kAdm3a, "ABC\x1e\x0cX", "AXC", 0, 2},                                       // home, right
    {kAdm3a, "ABC\x1a" "D", "D", 0, 1},                                          // clear screen
    {kAdm3a, "ABCDEF\b\b\b\x1bT", "ABC", 0, 3},                                  // left, clear to end of line
    {kAdm3a, "ABCDEF\b\b\b\x18", "ABC", 0, 3},                                   // ^X: the same
    {kAdm3a, "L1\r\nL2\r\nL3\x1e\n\x1bY", "L1", 1, 0},                           // down, clear to end of screen
    {kAdm3a, "L1\r\nL2\r\nL3\x1e\n\x17", "L1", 1, 0},                            // ^W: the same
    {kAdm3a, "\x1b" "B0REV\x1b" "C0N", "[REV]N", 0, 4},                          // reverse video on, off
    {kAdm3a, "\x1b" "B0AB\x1a" "C", "C", 0, 1},                                  // clear screen ends it
    {kAdm3a, "\n\n\x0b\x0bX\x0b\x0b", "X", 0, 1},                                // up, stopping at the top
    {kAdm3a, "1\r\n2\r\n3\x1e\x1b" "E", "\n1\n2\n3", 0, 0},                       // insert a line
    {kAdm3a, "1\r\n2\r\n3\x1e\x1bR", "2\n3", 0, 0},                              // delete a line
    {kAdm3a, "AB\x1b" "B6CD\x1b=%%E\x1b" "C6F", "ABFD\n\n\n\n\n     E", 0, 3},   // save and restore the cursor
    {kAdm3a, "\x1b" "B1A\x1b" "C1B\x1bQC", "ABC", 0, 3},                         // other attributes; unknown ESC
    {kAdm3a, "\x1b= o\x0cX", std::string(79, ' ') + "X", 0, 80},              // right stops at the edge
    {kAdm3a, "\x1b[A", "A", 0, 1},                                               // ANSI means nothing here
    // ---- ANSI
    {kAnsi, "\x1b[2;3HX", "\n  X", 1, 3},
    {kAnsi, "\x1b[HABC\x1b[2DX", "AXC", 0, 2},
    {kAnsi, "ABCDEF\x1b[3D\x1b[K", "ABC", 0, 3},
    {kAnsi, "ABCDEF\x1b[3D\x1b[1K", "    EF", 0, 3},
    {kAnsi, "ABCDEF\x1b[2K", "", 0, 6},
    {kAnsi, "L1\r\nL2\r\nL3\x1b[2;1H\x1b[J", "L1", 1, 0},
    {kAnsi, "L1\r\nL2\r\nL3\x1b[2;2H\x1b[1J", "\n\nL3", 1, 1},
    {kAnsi, "X\x1b[2J", "", 0, 1},
    {kAnsi, "\x1b[7mREV\x1b[0mN\x1b[7mR\x1b[27mN", "[REV]N[R]N", 0, 6},
    {kAnsi, "\x1b[5B\x1b[3CX\x1b[2AY", "\n\n\n    Y\n\n   X", 3, 5},
    {kAnsi, "\x1b[?25lA\x1b(BB", "AB", 0, 2},                                   // private and intermediate: dropped
    {kAnsi, "1\r\n2\r\n3\x1b[1;1H\x1b[2L", "\n\n1\n2\n3", 0, 0},
    {kAnsi, "1\r\n2\r\n3\x1b[1;1H\x1b[2M", "3", 0, 0},
    {kAnsi, "ABCDEF\x1b[1;2H\x1b[2P", "ADEF", 0, 1},
    {kAnsi, "AB\x1bMX", "  X\nAB", 0, 3},
    {kAnsi, "\x1b" "7AB\x1b" "8C", "CB", 0, 1},
    {kAnsi, "A\x1b[3", "A", 0, 1},                                               // a sequence cut short
};

std::string Name(const ScreenRow& r) {
  std::string s = std::string(orvane::runner::TerminalTypeName(r.type)) + " ";
  for (unsigned char c : std::string(r.bytes)) {
    if (c >= 0x20 && c < 0x7F) s += static_cast<char>(c);
    else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      s += hex;
    }
  }
  return s;
}

void ExpectScreen(const Screen& s, const ScreenRow& r, const std::string& how) {
  EXPECT_EQ(Marked(s), r.screen) << Name(r) << " (" << how << ")";
  EXPECT_EQ(s.Row() * 1000 + s.Column(), r.row * 1000 + r.column) << Name(r) << " (" << how << ")";
}

TEST(Terminals, TheirOwnCodesOnTheScreen) {
  for (const ScreenRow& r : kRows) {
    Screen whole(r.type), bytewise(r.type);
    whole.Write(r.bytes);
    ExpectScreen(whole, r, "whole");
    for (char c : std::string(r.bytes)) bytewise.Write(std::string(1, c));
    ExpectScreen(bytewise, r, "byte by byte");
  }
}

TEST(Terminals, TheirAnsiTranslationOnTheScreen) {
  for (const ScreenRow& r : kRows) {
    AnsiTranslator whole(r.type), bytewise(r.type);
    Screen s(kAnsi), t(kAnsi);
    s.Write(whole.Translate(r.bytes));
    ExpectScreen(s, r, "translated");
    std::string ansi;
    for (char c : std::string(r.bytes)) bytewise.Translate(std::string(1, c), ansi);
    t.Write(ansi);
    ExpectScreen(t, r, "translated byte by byte");
  }
}

#if ORVANE_HAVE_VTERM
// libvterm keeps a wrap that waits in the last column, where the model
// reports the column after it.
TEST(Terminals, TheirAnsiTranslationInLibvterm) {
  for (const ScreenRow& r : kRows) {
    const std::string ansi = AnsiTranslator(r.type).Translate(r.bytes);
    VTerm* vt = vterm_new(Screen::kRows, Screen::kColumns);
    vterm_set_utf8(vt, 0);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    vterm_input_write(vt, ansi.data(), ansi.size());
    const std::string got = Marked([screen](int row, int column) {
      VTermScreenCell cell{};
      vterm_screen_get_cell(screen, VTermPos{row, column}, &cell);
      const uint32_t ch = cell.chars[0];
      return std::pair{ch == 0 ? ' ' : static_cast<char>(ch), cell.attrs.reverse != 0};
    });
    VTermPos cursor;
    vterm_state_get_cursorpos(vterm_obtain_state(vt), &cursor);
    vterm_free(vt);
    EXPECT_EQ(got, r.screen) << Name(r);
    EXPECT_EQ(cursor.row * 1000 + cursor.col, r.row * 1000 + std::min(r.column, Screen::kColumns - 1)) << Name(r);
  }
}
#endif

// Random output, heavy in the bytes the terminals give a meaning to: the
// model reading the codes and the model reading their translation must
// leave the same screen, byte for byte, as must the translation of the
// whole and of the bytes one by one.
TEST(Terminals, TheTranslationAgreesOnRandomBytes) {
  static constexpr std::string_view kAlphabet =
      "\x1b\x1b\x1b\x1b\r\n\b\t\a\x0b\x0c\x17\x18\x1a\x1e\x01\x7f\x80\xc1\xff"
      "ABCDEFHIJKLMNRTYZbjkloqpxy=0123456[;?O !%*/o~";
  std::mt19937 random(27);
  for (TerminalType type : {kVt52, kAdm3a}) {
    for (int run = 0; run < 3000; ++run) {
      std::string bytes(std::uniform_int_distribution<size_t>(1, 300)(random), ' ');
      for (char& c : bytes) c = kAlphabet[std::uniform_int_distribution<size_t>(0, kAlphabet.size() - 1)(random)];
      Screen own(type), translated(kAnsi);
      AnsiTranslator whole(type), bytewise(type);
      const int bells = own.Write(bytes);
      const std::string ansi = whole.Translate(bytes);
      std::string pieces;
      for (char c : bytes) bytewise.Translate(std::string(1, c), pieces);
      ASSERT_EQ(pieces, ansi) << TerminalTypeName(type) << " run " << run;
      ASSERT_EQ(translated.Write(ansi), bells) << TerminalTypeName(type) << " run " << run;
      ASSERT_EQ(Marked(translated), Marked(own)) << TerminalTypeName(type) << " run " << run;
      ASSERT_EQ(translated.Row() * 1000 + translated.Column(), own.Row() * 1000 + own.Column())
          << TerminalTypeName(type) << " run " << run;
    }
  }
}

TEST(Terminals, ABellIsCountedNotShown) {
  for (TerminalType t : {kAnsi, kVt52, kAdm3a}) {
    Screen s(t);
    EXPECT_EQ(s.Write("A\aB\a"), 2);
    EXPECT_EQ(s.Text(), "AB");
  }
  Screen s(kVt52);
  EXPECT_EQ(s.Write("\x1bY\a\a"), 0);  // an address's bytes are numbers, not bells
}

TEST(Terminals, AnotherTerminalFromTheNextByteOn) {
  Screen s(kAnsi);
  s.Write("AB\x1b");  // an ANSI sequence cut short by the change
  s.SetType(kVt52);
  s.Write("CD\x1bH");
  EXPECT_EQ(s.Text(), "ABCD");
  EXPECT_EQ(s.Column(), 0);
}

// The console side of the host: input in chunks, each as one read of the
// host's terminal would give it; Ready() says whether the current chunk has
// more (and, as the host console does, true at the end of input).
class ChunkConsole final : public orvane::runner::Console {
 public:
  explicit ChunkConsole(std::vector<std::string> chunks) : chunks_(chunks.begin(), chunks.end()) {}
  int Read() override {
    while (!chunks_.empty() && chunks_.front().empty()) chunks_.pop_front();
    if (chunks_.empty()) return -1;
    const auto c = static_cast<unsigned char>(chunks_.front()[0]);
    chunks_.front().erase(0, 1);
    return c;
  }
  bool Ready() override { return chunks_.empty() || !chunks_.front().empty(); }
  bool Write(const uint8_t* bytes, size_t n) override {
    if (failWrites) return error = "gone", false;
    written.append(reinterpret_cast<const char*>(bytes), n);
    return true;
  }
  std::string written;
  bool failWrites = false;

 private:
  std::deque<std::string> chunks_;
};

struct KeyRow {
  TerminalType type;
  std::vector<std::string> chunks;  // what the host's keyboard sent, read by read
  const char* program;              // what the program reads before the end of input
};

const KeyRow kKeys[] = {
    {kVt52, {"\x1b[A", "\x1b[B", "\x1b[C", "\x1b[D"}, "\x1b" "A\x1b" "B\x1b" "C\x1b" "D"},
    {kVt52, {"\x1bOA\x1bOD"}, "\x1b" "A\x1b" "D"},  // the application cursor keys
    {kAdm3a, {"\x1b[A\x1b[B\x1b[C\x1b[D"}, "\x0b\x0a\x0c\x08"},
    {kAdm3a, {"ab\x1b[Acd"}, "ab\x0b" "cd"},
    {kAnsi, {"\x1b[A\x1bOB"}, "\x1b[A\x1bOB"},        // as they are
    {kVt52, {"\x1b[2~\x1b[1;5A"}, "\x1b[2~\x1b[1;5A"}, // other keys as they are
    {kAdm3a, {"\x1b", "[A"}, "\x1b[A"},               // Escape, then [ and A typed
    {kAdm3a, {"\x1b", "x"}, "\x1bx"},
    {kVt52, {"\x1bx\x1b"}, "\x1bx\x1b"},              // an ESC last before the end of input
    {kVt52, {"\x1b["}, "\x1b["},
};

TEST(Terminals, CursorKeysAsTheTerminalSendsThem) {
  for (const KeyRow& k : kKeys) {
    ChunkConsole host(k.chunks);
    TerminalConsole console(host, k.type);
    std::string got;
    for (int c; (c = console.Read()) >= 0 && got.size() < 100;) got += static_cast<char>(c);
    EXPECT_EQ(got, k.program) << orvane::runner::TerminalTypeName(k.type) << " " << k.chunks[0];
    EXPECT_EQ(console.Read(), -1);  // the end stays the end
  }
}

TEST(Terminals, TheConsoleTranslatesOutputAndPassesAFailureOn) {
  ChunkConsole host({});
  TerminalConsole console(host, kAdm3a);
  const std::string text = "\x1a" "AB\x1b=";
  EXPECT_TRUE(console.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  EXPECT_TRUE(console.Write(reinterpret_cast<const uint8_t*>("!"), 1));  // the address, split across writes
  EXPECT_TRUE(console.Write(reinterpret_cast<const uint8_t*>("#"), 1));
  EXPECT_EQ(host.written, "\x1b[0m\x1b[H\x1b[2JAB\x1b[2;4H");
  host.failWrites = true;
  EXPECT_FALSE(console.Write(reinterpret_cast<const uint8_t*>("C"), 1));
  EXPECT_EQ(console.error, "gone");
}

// What the host terminal gets after the program's last byte.
struct EndRow {
  TerminalType type;
  const char* bytes;
  const char* after;
};

const EndRow kEnds[] = {
    {kVt52, "\x1bpX", "\x1b[0m"},                       // reverse video left on
    {kVt52, "\x1bpX\x1bqY", ""},                         // turned off again
    {kAdm3a, "\x1b" "B0X\x1b" "C4", "\x1b[0m\x1b[?25h"}, // and the cursor hidden
    {kAdm3a, "\x1b" "C4\x1b" "B4", ""},
    {kAdm3a, "\x1b" "B3\x1b" "B2X\x1a", ""},             // clear screen ends them
    {kAdm3a, "\x1b" "B1X\x1b" "C0", "\x1b[0m"},          // dim is not reverse
    {kAnsi, "\x1b[7mX", ""},                              // ANSI: the program's own business
};

TEST(Terminals, TheEndRestoresTheHostTerminal) {
  for (const EndRow& e : kEnds) {
    ChunkConsole host({});
    std::string all;
    {
      TerminalConsole console(host, e.type);
      console.Write(reinterpret_cast<const uint8_t*>(e.bytes), std::string(e.bytes).size());
      all = host.written;
    }
    EXPECT_EQ(host.written.substr(all.size()), e.after) << e.bytes;
  }
}

TEST(Terminals, Names) {
  TerminalType t = kAnsi;
  for (const char* name : {"ansi", "vt52", "adm3a"}) {
    EXPECT_TRUE(orvane::runner::ParseTerminalType(name, t)) << name;
    EXPECT_STREQ(orvane::runner::TerminalTypeName(t), name);
  }
  for (const char* name : {"", "VT52", "adm-3a", "vt100"}) EXPECT_FALSE(orvane::runner::ParseTerminalType(name, t)) << name;
}

}  // namespace
