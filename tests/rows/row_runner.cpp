// Runs every row of rows.txt (its header explains the format) through both
// passes of one assembler. A line that is neither a comment, a directive nor
// a well-formed row fails the test, so a mistyped row cannot pass unnoticed.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "encoder/assembler.h"
#include "output/listing.h"
#include "front/short_text.h"
#include "front/text.h"

namespace orvane {
namespace {

struct Settings {
  bool hex = false;
  std::vector<std::string> defines, fill;
};

// The program lines of a SOURCE column, escapes resolved.
std::vector<std::string> Program(const std::string& text) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const char e = text[i] == '\\' && i + 1 < text.size() ? text[++i] : 0;
    if (e == 'n') lines.emplace_back();
    else if (e == 'x') lines.back() += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)), i += 2;
    else if (e == 't' || e == '\\') lines.back() += e == 't' ? '\t' : '\\';
    else if (e == 0) lines.back() += text[i];
    else ADD_FAILURE() << "unknown escape \\" << e;
  }
  return lines;
}

void RunRow(Assembler& as, const Settings& set, const std::smatch& row) {
  std::vector<std::string> program = Program(row[1]);
  size_t checked = program.size() - 1;
  for (size_t i = 0; i < program.size(); ++i)
    if (program[i].rfind("=>", 0) == 0) program[i].erase(0, 2), checked = i;
  // Errors by their text, warnings by their name after "-W"; either may end
  // in " @N", the column it must point at.
  std::vector<std::string> want, wantWarnings;
  std::map<std::string, int> columns;  // "E0", "W1": the first error, the second warning
  std::istringstream messages(row[4]);
  for (std::string m; std::getline(messages, m, ';');) {
    std::string t(Trim(m));
    const size_t at = t.rfind(" @");
    const bool warning = t.rfind("-W", 0) == 0;
    if (at != std::string::npos) {
      columns[(warning ? "W" : "E") + std::to_string(warning ? wantWarnings.size() : want.size())] = std::stoi(t.substr(at + 2));
      t.erase(at);
    }
    if (warning) wantWarnings.push_back(t.substr(2)); else want.push_back(t);
  }
  program.insert(program.begin(), set.fill.begin(), set.fill.end());
  program.insert(program.begin(), set.defines.begin(), set.defines.end());
  checked += set.defines.size() + set.fill.size();

  const ObjectFormat& format = set.hex ? kIntelHexFormat : kCpmFormat;
  as.BeginRun(RunOptions{&format});
  std::vector<int32_t> counts;
  for (int pass : {1, 2}) {
    as.BeginPass(pass);
    for (size_t i = 0; i < program.size(); ++i) {
      as.Step(program[i]);
      const Statement& s = as.Result();
      if (pass == 1) {
        EXPECT_TRUE(s.problems.empty()) << "pass 1 reports nothing: " << program[i];
        counts.push_back(s.byteCount);
      }
      EXPECT_EQ(s.byteCount, counts[i]) << "both passes count the same bytes: " << program[i];
      if (pass == 2 && i == checked) {
        std::string object;
        AppendObjectText(s, format, object);
        EXPECT_EQ(object, row[2].str());
        EXPECT_EQ(std::to_string(s.byteCount), row[3].str());
        std::vector<std::string> errors, warnings;
        std::map<std::string, int> got;
        std::string texts;  // the fifth column
        for (const Problem& p : s.problems) {
          const std::string& t = p.severity == Severity::kError ? p.note : p.text;
          if (!t.empty()) texts += (texts.empty() ? "" : " // ") + t;
          if (p.severity == Severity::kNote) continue;
          const bool warning = p.severity == Severity::kWarning;
          const std::string key =
              std::string(warning ? "W" : "E").append(std::to_string(warning ? warnings.size() : errors.size()));
          if (columns.count(key)) got[key] = p.span.column;
          if (warning) warnings.emplace_back(p.name); else errors.push_back(p.text);
        }
        EXPECT_EQ(errors, want);
        EXPECT_EQ(s.hasErrors, !want.empty());
        EXPECT_EQ(warnings, wantWarnings);
        EXPECT_EQ(got, columns) << "columns";
        if (row[5].matched) {
          EXPECT_EQ(texts.empty() ? "none" : texts, row[5].str()) << "notes";
        }
      }
    }
  }
}

TEST(Rows, EveryRowHolds) {
  std::ifstream in(ROWS_FILE);
  ASSERT_TRUE(in) << "cannot read " << ROWS_FILE;
  // SOURCE | OBJECT | BYTES | MESSAGES [| NOTES], blanks around the last ones ignored.
  const std::regex rowForm(R"((.*?) *\| *([^|]*?) *\| *([0-9]+) *\| *([^|]*?) *(?:\| *(.*?) *)?)");
  const std::regex directive(R"(@(format (cpm|hex)|define((?: \w+=\S+)*)|fill ([0-9]+)))");
  Assembler as;
  Settings set;
  int rows = 0, n = 0;
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    SCOPED_TRACE("rows.txt:" + std::to_string(++n) + ": " + line);
    if (Trim(line).empty() || line[0] == '#') continue;
    if (std::regex_match(line, m, directive)) {
      if (m[2].matched) set.hex = m[2] == "hex";
      if (m[1].str().rfind("define", 0) == 0) {
        std::istringstream names(m[3]);
        set.defines.clear();
        for (std::string d; names >> d;) set.defines.push_back(d.replace(d.find('='), 1, " EQU "));
      }
      if (m[4].matched) {
        set.fill.clear();
        for (int i = 1; i <= std::stoi(m[4]); ++i) set.fill.push_back(std::string("F").append(std::to_string(i)));
      }
    } else if (std::regex_match(line, m, rowForm)) {
      RunRow(as, set, m);
      ++rows;
    } else {
      ADD_FAILURE() << "neither a row nor a directive";
    }
  }
  EXPECT_GT(rows, 300);
}

}  // namespace
}  // namespace orvane

namespace orvane {
namespace {

// A key longer than a packed text holds would never be found again; adding
// one to a keyword table must fail loudly, not silently.
TEST(ShortTextMap, RefusesAKeyItCouldNeverFind) {
  ShortTextMap<int, 16> map;
  map.Insert("ENDM", 1);
  EXPECT_THROW(map.Insert("ENDMACRO", 2), std::length_error);
  EXPECT_THROW(map.Insert("", 3), std::length_error);
  ASSERT_NE(map.Find("ENDM"), nullptr);
  EXPECT_EQ(*map.Find("ENDM"), 1);
  EXPECT_EQ(map.Find("ENDMACRO"), nullptr);
}

// Every text of one to seven bytes packs to a key of its own: all texts of up
// to five letters from "AB'" (363 of them) each find their own value, and
// none of the six- and seven-letter texts, never added, is found.
TEST(ShortTextMap, EveryShortTextIsTold) {
  std::vector<std::string> added, texts{""};
  for (size_t length = 1; length <= 7; ++length) {
    std::vector<std::string> next;
    for (const std::string& t : texts) {
      for (const char c : std::string_view("AB'")) next.push_back(t + c);
    }
    texts = next;
    if (length <= 5) added.insert(added.end(), texts.begin(), texts.end());
  }
  ShortTextMap<int, 1024> map;
  for (size_t i = 0; i < added.size(); ++i) map.Insert(added[i], static_cast<int>(i));
  for (size_t i = 0; i < added.size(); ++i) {
    const int* v = map.Find(added[i]);
    ASSERT_NE(v, nullptr) << added[i];
    EXPECT_EQ(*v, static_cast<int>(i)) << added[i];
  }
  // The seven-letter texts, and their first six letters.
  for (const std::string& t : texts) {
    EXPECT_EQ(map.Find(t), nullptr) << t;
    EXPECT_EQ(map.Find(std::string_view(t).substr(0, 6)), nullptr) << t;
  }
}

}  // namespace
}  // namespace orvane
