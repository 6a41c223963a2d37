// Tables for the two pieces of the runner that are pure text: the console
// window's terminal screen and the CCP's parse of arguments into FCB names.
#include <gtest/gtest.h>

#include <string>

#include "runner/names.h"
#include "row_file.h"
#include "runner/screen.h"

namespace {

TEST(Terminal, Rows) {
  for (const auto& r : rows::Table(SCREEN_NAMES_ROWS, "screen")) {
    ASSERT_EQ(r.size(), 4u);
    orvane::runner::Screen t;
    EXPECT_EQ(t.Write(r[0]), std::stoi(r[3])) << r[0];
    EXPECT_EQ(t.Text(), r[1]) << r[0];
    EXPECT_EQ(std::to_string(t.Row()) + " " + std::to_string(t.Column()), r[2]) << r[0];
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

TEST(Names, ArgumentsAsTheCcpParsesThem) {
  for (const auto& r : rows::Table(SCREEN_NAMES_ROWS, "name")) {
    ASSERT_EQ(r.size(), 3u);
    const orvane::runner::ParsedName p = orvane::runner::ParseArgument(r[0]);
    EXPECT_EQ(p.drive, std::stoi(r[1])) << r[0];
    EXPECT_EQ(p.name, r[2]) << r[0];
  }
}

}  // namespace
