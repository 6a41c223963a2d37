// Tables for the two pieces of the runner that are pure text: the console
// window's terminal screen and the CCP's parse of arguments into FCB names.
#include <gtest/gtest.h>

#include <string>

#include "runner/names.h"
#include "runner/screen.h"

namespace {

struct ScreenRow {
  const char* bytes;
  const char* text;  // Terminal::Text()
  int row, column, bells;
};

const ScreenRow kScreen[] = {
    {"HELLO\r\nWORLD", "HELLO\nWORLD", 1, 5, 0},
    {"ABC\rX", "XBC", 0, 1, 0},                       // CR: back to the first column, overwriting
    {"AB\nC", "AB\n  C", 1, 3, 0},                    // LF alone keeps the column
    {"ABC\b\bX", "AXC", 0, 2, 0},                     // BS moves back without erasing
    {"\b\bA", "A", 0, 1, 0},                          // not past the first column
    {"A\aB\a\a", "AB", 0, 2, 3},                      // BEL rings, takes no place
    {"A\tB\t\x01\x7f" "C", "A       B       C", 0, 17, 0},  // TAB to multiples of 8; other controls dropped
    {"\r\n\r\n", "", 2, 0, 0},
};

TEST(Terminal, Rows) {
  for (const ScreenRow& r : kScreen) {
    orvane::runner::Screen t;
    EXPECT_EQ(t.Write(r.bytes), r.bells) << r.bytes;
    EXPECT_EQ(t.Text(), r.text) << r.bytes;
    EXPECT_EQ(t.Row() * 1000 + t.Column(), r.row * 1000 + r.column) << r.bytes;
  }
}

TEST(Terminal, WrapsAtEightyColumnsAndScrollsAtTheBottom) {
  orvane::runner::Screen t;
  t.Write(std::string(80, 'A'));  // the cursor waits after the last column
  EXPECT_EQ(t.Row() * 1000 + t.Column(), 80);
  t.Write("B");
  EXPECT_EQ(t.Text(), std::string(80, 'A') + "\nB");
  for (int i = 0; i < 30; ++i) t.Write("\r\nline " + std::to_string(i));
  EXPECT_EQ(t.Rows().front().substr(0, 7), "line 6 ");  // 31 lines, 24 shown
  EXPECT_EQ(t.Rows().back().substr(0, 8), "line 29 ");
}

struct NameRow {
  const char* arg;
  int drive;
  const char* name;  // 11 bytes
};

const NameRow kNames[] = {
    {"foo.txt", 0, "FOO     TXT"},      {"b:*.c", 2, "????????C  "},  {"A:x", 1, "X          "},
    {"toolongname.text", 0, "TOOLONGNTEX"}, {"a.b.c", 0, "A       B  "}, {"f*x.*", 0, "F??????????"},
    {"q:name", 0, "Q:NAME     "},      {"", 0, "           "},             {".typ", 0, "        TYP"},
};

TEST(Names, ArgumentsAsTheCcpParsesThem) {
  for (const NameRow& r : kNames) {
    const orvane::runner::ParsedName p = orvane::runner::ParseArgument(r.arg);
    EXPECT_EQ(p.drive, r.drive) << r.arg;
    EXPECT_EQ(p.name, r.name) << r.arg;
  }
}

}  // namespace
