// The three terminals, as rows (terminal_rows.txt) of bytes a program
// writes and the screen they leave. Each row goes three ways that must agree:
// the screen model reading the terminal's own codes, the same model reading their ANSI
// translation (what orvane-run sends a host terminal), and, when libvterm is
// there, an independent terminal emulator reading that translation.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runner/screen.h"
#include "runner/terminal.h"
#include "row_file.h"

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
  std::string bytes;
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

// What the host's keyboard sent, read by read, and what the program reads
// before the end of input.
struct KeyRow {
  TerminalType type;
  std::vector<std::string> chunks;
  std::string program;
};

// What the host terminal gets after the program's last byte.
struct EndRow {
  TerminalType type;
  std::string bytes, after;
};

struct Table {
  std::vector<ScreenRow> screens;
  std::vector<KeyRow> keys;
  std::vector<EndRow> ends;
  std::string error;  // the first line that cannot be read, or a kind without rows
};

// The rows of terminal_rows.txt (its header gives the format), read once as
// the first test asks; each test fails on an unreadable file.
const Table& TheRows() {
  static const Table table = [] {
    Table t;
    t.error = rows::Read(TERMINAL_ROWS, [&t](const std::string& line) {
      const std::vector<std::string> f = rows::Fields(line);
      std::istringstream head(f[0]), at(f.back());
      std::string kind, name, rest;
      TerminalType type;
      rows::Need(head >> kind >> name && !(head >> rest) && orvane::runner::ParseTerminalType(name, type) &&
                     f.size() >= 3,
                 "no KIND TYPE | ... row");
      if (kind == "keys") {
        t.keys.push_back({type, {f.begin() + 1, f.end() - 1}, f.back()});
      } else if (kind == "end" && f.size() == 3) {
        t.ends.push_back({type, f[1], f[2]});
      } else {
        rows::Need(kind == "screen" && f.size() == 4, "no screen, keys or end row");
        t.screens.push_back({type, f[1], f[2], -1, -1});
        rows::Need((at >> t.screens.back().row >> t.screens.back().column) && !(at >> rest), "no ROW COLUMN");
      }
    });
    if (t.error.empty() && (t.screens.empty() || t.keys.empty() || t.ends.empty()))
      t.error = "screen, keys and end rows are wanted, of each at least one";
    return t;
  }();
  return table;
}

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
  ASSERT_EQ(TheRows().error, "");
  for (const ScreenRow& r : TheRows().screens) {
    Screen whole(r.type), bytewise(r.type);
    whole.Write(r.bytes);
    ExpectScreen(whole, r, "whole");
    for (char c : std::string(r.bytes)) bytewise.Write(std::string(1, c));
    ExpectScreen(bytewise, r, "byte by byte");
  }
}

TEST(Terminals, TheirAnsiTranslationOnTheScreen) {
  ASSERT_EQ(TheRows().error, "");
  for (const ScreenRow& r : TheRows().screens) {
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
  ASSERT_EQ(TheRows().error, "");
  for (const ScreenRow& r : TheRows().screens) {
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

TEST(Terminals, CursorKeysAsTheTerminalSendsThem) {
  ASSERT_EQ(TheRows().error, "");
  for (const KeyRow& k : TheRows().keys) {
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

TEST(Terminals, TheEndRestoresTheHostTerminal) {
  ASSERT_EQ(TheRows().error, "");
  for (const EndRow& e : TheRows().ends) {
    ChunkConsole host({});
    std::string all;
    {
      TerminalConsole console(host, e.type);
      console.Write(reinterpret_cast<const uint8_t*>(e.bytes.data()), e.bytes.size());
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
