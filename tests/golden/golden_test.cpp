// Whole runs compared byte for byte with hand-reviewed files: every case in
// cases/CASES is assembled for CP/M (origin 0100) and for Intel HEX (origin
// 0000), and the listing file, the listing box and the object file must equal
// NAME.{cpm,hex}.LST, NAME.{cpm,hex}.box and NAME.com / NAME.HEX. A third run
// without the box leaves the box empty and the files the same. All runs go
// through one window's logic, as a user's runs do: nothing of an earlier run
// (symbols, the HEX writer's records, the box) may show in a later one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/window_logic.h"
#include "driver/file_ops.h"
#include "headless_window.h"
#include "support/hex_rules.h"

namespace orvane {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Where two texts part, as a line of each: a byte-for-byte check of a long
// listing says little more than "differs".
std::string FirstDifference(const std::string& want, const std::string& got) {
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
  const size_t start = want.rfind('\n', i == 0 ? 0 : i - 1) + 1;
  auto line = [start](const std::string& s) { return start >= s.size() ? "<end>" : s.substr(start, s.find('\n', start) - start); };
  return "byte " + std::to_string(i) + "\n  expected: [" + line(want) + "]\n  actual:   [" + line(got) + "]";
}

TEST(Golden, EveryCaseMatchesItsFiles) {
  const std::string cases = GOLDEN_DIR;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("orvane-golden-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string source = (dir / "PROG.Z80").string();
  HeadlessWindow w;
  DiskFileSystem files;
  WindowLogic logic(w, files);
  std::istringstream names(Read(cases + "/CASES"));
  int count = 0;
  for (std::string name; std::getline(names, name);) {
    std::filesystem::copy_file(cases + "/" + name + ".z80", source, std::filesystem::copy_options::overwrite_existing);
    struct Run {
      const char* tag;
      bool hex, box;
    };
    for (const Run r : {Run{"cpm", false, true}, Run{"hex", true, true}, Run{"hex", true, false}}) {
      SCOPED_TRACE(name + " " + r.tag + (r.box ? "" : " without the box"));
      w.source = source;
      w.list = (dir / "PROG.LST").string();
      w.object = (dir / "PROG.OBJ").string();
      w.intelHex = r.hex;
      w.listingChecked = r.box;
      ASSERT_TRUE(logic.OnAssemble().completed);
      EXPECT_EQ(w.source + w.list + w.object, "") << "a run empties the path fields";
      const std::string stem = cases + "/" + name + "." + r.tag;
      // The listing's first line is the source path as the window gave it.
      std::string listing = Read(stem + ".LST");
      listing.replace(0, listing.find('\r'), source);
      const std::string box = r.box ? Read(stem + ".box") : "";
      const std::string object = Read(cases + "/" + name + (r.hex ? ".HEX" : ".com"));
      EXPECT_EQ(Read((dir / "PROG.LST").string()), listing) << FirstDifference(listing, Read((dir / "PROG.LST").string()));
      EXPECT_EQ(w.listing, box) << FirstDifference(box, w.listing);
      EXPECT_EQ(Read((dir / "PROG.OBJ").string()), object) << FirstDifference(object, Read((dir / "PROG.OBJ").string()));
      std::vector<hex_rules::Record> records;
      if (r.hex) {
        EXPECT_EQ(hex_rules::Parse(object, records), "") << "the reviewed file keeps the HEX rules";
      }
    }
    ++count;
  }
  EXPECT_GE(count, 12);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orvane
