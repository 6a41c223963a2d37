// The three terminals, as rows (terminal_rows.txt) of bytes a program writes
// and the screen they leave. Each row goes three ways that must agree: the screen model
// reading the terminal's own codes, the same model reading their ANSI
// translation (what orvane-run sends a host terminal), and, when libvterm is
// there, an independent terminal emulator reading that translation.
#include <gtest/gtest.h>

#include <cctype>
#include <deque>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
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

// The rows of terminal_rows.txt (its header gives the format).
struct Table {
  std::vector<ScreenRow> screens;
  std::vector<KeyRow> keys;
  std::vector<EndRow> ends;
  std::string error;  // the first line that cannot be read, or a kind without rows
};

// A row's fields: '|' between them, '#' outside a string ends the row.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (!quoted && line[i] == '#') break;
    if (!quoted && line[i] == '|') {
      fields.emplace_back();
      continue;
    }
    quoted ^= line[i] == '"';
    fields.back() += line[i];
    if (quoted && line[i] == '\\' && i + 1 < line.size()) fields.back() += line[++i];
  }
  return fields;
}

// The texts of one field, ',' between them: each is "..." strings joined,
// N*"..." repeated N times. False for anything else.
bool Texts(const std::string& field, std::vector<std::string>& texts) {
  static const std::map<char, char> kEscapes = {{'r', '\r'}, {'n', '\n'}, {'b', '\b'}, {'t', '\t'},
                                                {'a', '\a'}, {'"', '"'},   {'\\', '\\'}};
  texts.assign(1, "");
  bool open = true;  // a text without a string yet
  for (size_t i = 0; i < field.size();) {
    if (field[i] == ' ' || (field[i] == ',' && !open)) {
      if (field[i++] == ',') texts.emplace_back(), open = true;
      continue;
    }
    size_t times = 1, used = 0;
    if (std::isdigit(static_cast<unsigned char>(field[i]))) {
      times = std::stoul(field.substr(i), &used);
      if (field.compare(i += used, 1, "*") != 0) return false;
      ++i;
    }
    if (field.compare(i, 1, "\"") != 0) return false;
    std::string s;
    for (++i; i < field.size() && field[i] != '"'; ++i) {
      if (field[i] != '\\') {
        s += field[i];
      } else if (++i < field.size() && kEscapes.count(field[i])) {
        s += kEscapes.at(field[i]);
      } else {
        const std::string hex = field.substr(i + 1, 2);
        if (field.compare(i, 1, "x") != 0 || hex.size() != 2 || !std::isxdigit(static_cast<unsigned char>(hex[0])) ||
            !std::isxdigit(static_cast<unsigned char>(hex[1])))
          return false;
        s += static_cast<char>(std::stoi(hex, nullptr, 16));
        i += 2;
      }
    }
    if (i++ >= field.size()) return false;  // no closing quote
    while (times-- > 0) texts.back() += s;
    open = false;
  }
  return !open;
}

Table Read(const std::string& path) {
  Table t;
  std::ifstream in(path);
  int n = 0;
  for (std::string line; std::getline(in, line);) {
    ++n;
    const std::vector<std::string> f = Fields(line);
    std::istringstream head(f[0]);
    std::string kind, name, extra;
    if (!(head >> kind) && f.size() == 1) continue;  // blank or a comment
    head >> name;
    TerminalType type;
    std::vector<std::string> a, b;
    bool ok = !(head >> extra) && orvane::runner::ParseTerminalType(name, type) && f.size() >= 3 && Texts(f[1], a) &&
              Texts(f[2], b) && b.size() == 1;
    if (ok && kind == "screen" && f.size() == 4 && a.size() == 1) {
      std::istringstream at(f[3]);
      t.screens.push_back({type, a[0], b[0], -1, -1});
      ok = (at >> t.screens.back().row >> t.screens.back().column) && !(at >> extra);
    } else if (ok && kind == "keys" && f.size() == 3) {
      t.keys.push_back({type, a, b[0]});
    } else if (ok && kind == "end" && f.size() == 3 && a.size() == 1) {
      t.ends.push_back({type, a[0], b[0]});
    } else {
      ok = false;
    }
    if (!ok && t.error.empty()) t.error = path + ":" + std::to_string(n) + ": cannot read '" + line + "'";
  }
  if (t.error.empty() && (t.screens.empty() || t.keys.empty() || t.ends.empty()))
    t.error = path + ": screen, keys and end rows are wanted, of each at least one";
  return t;
}

// Read once, as the first test asks; each test fails on an unreadable file.
const Table& TheRows() {
  static const Table t = Read(TERMINAL_ROWS);
  return t;
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
