// The window's logic without a screen: the listing path the window derives
// from a source name of any bytes, what window load leaves in the fields, and
// F5 (run again) after the format buttons were changed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/paths.h"
#include "app/window_logic.h"
#include "driver/file_ops.h"
#include "headless_window.h"
#include "row_file.h"

namespace orvane {
namespace {

// The stem cuts the last four characters, as a UTF-8 decoder counts them
// (stem_rows.txt).
TEST(WindowStem, CutsFourCharactersAsADecoderCountsThem) {
  const std::string error = rows::Read(STEM_ROWS, [](const std::string& row) {
    const std::vector<std::string> f = rows::Fields(row);
    rows::Need(f.size() == 3, "a row is WHAT | SOURCE PATH | STEM");
    EXPECT_EQ(WindowStem(f[1]), f[2]) << f[0];
  });
  EXPECT_EQ(error, "");
}

std::string Read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class WindowLogicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("orvane-app-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "p.z80") << "  DB 1\n";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  // What a file selection does with the dialog's answer.
  void Select(const std::string& name) { logic_.OnSelectFile((dir_ / name).string()); }

  std::filesystem::path dir_;
  HeadlessWindow w_;
  DiskFileSystem files_;
  WindowLogic logic_{w_, files_};
};

// Window load, whatever the fields held: all four empty, Intel HEX selected.
TEST_F(WindowLogicTest, LoadEmptiesEveryField) {
  w_.source = "a.z80", w_.list = "a.LST", w_.object = "a.com", w_.listing = "box", w_.intelHex = false;
  logic_.OnLoad();
  EXPECT_EQ(w_.source + "|" + w_.list + "|" + w_.object + "|" + w_.listing, "|||");
  EXPECT_TRUE(w_.intelHex);
}

// F5 with empty fields runs the last run again in the last run's format,
// whichever button was clicked since: the buttons follow it.
struct AgainRow {
  const char* what;
  bool firstHex;  // the format of the first run
  std::string written;
};

TEST_F(WindowLogicTest, RunAgainKeepsTheLastRunsFormat) {
  for (const AgainRow& r : {AgainRow{"HEX, then CPM clicked", true, ":1000000001000000000000000000000000000000EF\r\n:00000001FF\r\n"},
                            AgainRow{"CPM, then HEX clicked", false, "\x01"}}) {
    SCOPED_TRACE(r.what);
    const std::string object = r.firstHex ? "p.HEX" : "p.com";
    w_.intelHex = r.firstHex;
    Select("p.z80");
    ASSERT_TRUE(logic_.OnAssemble().completed);
    std::filesystem::remove(dir_ / object);
    // The other button, clicked with the fields empty: it changes no path.
    w_.intelHex = !r.firstHex;
    if (r.firstHex) logic_.OnOptCpm(); else logic_.OnOptIntelHex();
    ASSERT_TRUE(logic_.OnRunAgain().completed);
    EXPECT_EQ(w_.intelHex, r.firstHex) << "the button of the run's format is selected again";
    EXPECT_EQ(Read(dir_ / object), r.written);
    EXPECT_FALSE(std::filesystem::exists(dir_ / (r.firstHex ? "p.com" : "p.HEX")));
    std::filesystem::remove(dir_ / object);
  }
}

// The status line through a run: what it says at once, then every thousandth
// line listed, then the summary.
TEST_F(WindowLogicTest, StatusThroughARun) {
  struct Row {
    int lines;
    std::vector<std::string> shown;
  };
  for (const Row& r : {Row{1, {"Assembling...", "No errors; 1 byte at 0000H\nlisting p.LST, object p.HEX; F5 assembles again"}},
                       Row{2500, {"Assembling...", "Assembling: line 1000", "Assembling: line 2000",
                                  "No errors; 2500 bytes at 0000H-09C3H\nlisting p.LST, object p.HEX; F5 assembles again"}}}) {
    std::ofstream source(dir_ / "p.z80");
    for (int i = 0; i < r.lines; ++i) source << "  DB 1\n";
    source.close();
    Select("p.z80");
    w_.statuses.clear();
    ASSERT_TRUE(logic_.OnAssemble().completed);
    EXPECT_EQ(w_.statuses, r.shown) << r.lines << " lines";
  }
}

}  // namespace
}  // namespace orvane
