// Line-by-line reassembly against the whole run: random edits of real
// programs (the examples, the golden cases, the fuzz seeds) and of generated
// ones with several ORG blocks, each edit brought in by Incremental::Edit
// (or a whole run where it refuses) and the result compared, field by field,
// with a fresh assembly of the new text. Every answer the server gives is
// worked out from that result, so equal results mean equal diagnostics,
// hovers, symbols and hints.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "lsp/assembled.h"
#include "lsp/document.h"
#include "lsp/features.h"
#include "lsp/incremental.h"
#include "lsp/assembled_dump.h"
#include "debug/row_file.h"

namespace orvane::lsp {
namespace {

class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed * 2654435761u + 1) {}
  uint64_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return s_;
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }

 private:
  uint64_t s_;
};

// The rows of incremental.txt of one kind, each without its kind.
const std::vector<std::vector<std::string>>& Rows(const std::string& kind) {
  static std::map<std::string, std::vector<std::vector<std::string>>> tables;
  if (!tables.count(kind)) tables[kind] = rows::Table(INCREMENTAL_ROWS, kind);
  return tables[kind];
}

const std::string& Pick(const std::string& kind, Rng& rng) {
  const auto& table = Rows(kind);
  return table[rng.Below(table.size())][0];
}

// One random edit of one line, as an editor sends it: a range within the
// line and the text for it.
struct LineEdit1 {
  int64_t line;
  int64_t from, to;
  std::string text;
};

LineEdit1 RandomEdit(const Document& d, int64_t lines, Rng& rng) {
  LineEdit1 e;
  e.line = static_cast<int64_t>(rng.Below(static_cast<size_t>(lines)));
  const std::string_view l = d.Line(e.line);
  const int64_t len = static_cast<int64_t>(l.size());
  switch (rng.Below(6)) {
    case 0:
    case 1: {  // insert a piece
      e.from = e.to = static_cast<int64_t>(rng.Below(static_cast<size_t>(len) + 1));
      e.text = Pick("piece", rng);
      break;
    }
    case 2: {  // delete a few characters
      e.from = static_cast<int64_t>(rng.Below(static_cast<size_t>(len) + 1));
      e.to = std::min(len, e.from + 1 + static_cast<int64_t>(rng.Below(4)));
      break;
    }
    case 3: {  // the mnemonic swapped for another
      const size_t b = l.find_first_not_of(" \t", l.find_first_of(" \t") == std::string_view::npos ? l.size() : l.find_first_of(" \t"));
      const size_t at = b == std::string_view::npos ? l.size() : b;
      const size_t end = std::min(l.size(), l.find_first_of(" \t;", at) == std::string_view::npos ? l.size() : l.find_first_of(" \t;", at));
      e.from = static_cast<int64_t>(at);
      e.to = static_cast<int64_t>(end);
      e.text = Pick("mnemonic", rng);
      break;
    }
    case 4: {  // the line replaced by another line of the program
      e.from = 0;
      e.to = len;
      e.text = std::string(d.Line(static_cast<int64_t>(rng.Below(static_cast<size_t>(lines)))));
      break;
    }
    default: {  // the line emptied, or a label put before it
      e.from = 0;
      e.to = rng.Below(2) == 0 ? len : 0;
      e.text = e.to == 0 ? "L" + std::to_string(rng.Below(5)) + ": " : "";
      break;
    }
  }
  // Positions are UTF-16 units; the programs here are ASCII but for a few
  // bytes, and a clamped position is still a position.
  e.from = Utf16Column(l, static_cast<size_t>(e.from));
  e.to = Utf16Column(l, static_cast<size_t>(e.to));
  return e;
}

// A program of a few ORG blocks: labels, forward and backward jumps, JR and
// DJNZ near their labels, EQU constants, DS, DB and DW,
// '$', comments.
std::string Generated(uint64_t seed, int lines) {
  Rng rng(seed);
  std::string t;
  int label = 0;
  const auto target = [&]() -> std::string {
    if (label == 0) return "0";
    const int back = static_cast<int>(rng.Below(6));
    return "G" + std::to_string(std::max(0, label - back + static_cast<int>(rng.Below(4))));
  };
  for (int i = 0; i < lines; ++i) {
    if (i % 60 == 0) t += "        ORG " + std::to_string(256 + static_cast<int>(rng.Below(3)) * 512) + "\n";
    if (i % 60 == 1) t += "K" + std::to_string(i) + "     EQU " + std::to_string(rng.Below(300)) + "\n";
    if (rng.Below(5) == 0) t += "G" + std::to_string(label++) + ":";
    const auto& forms = Rows("line")[rng.Below(Rows("line").size())];
    std::string line = "  " + forms[forms.size() == 1 ? 0 : rng.Below(forms.size())];
    if (const size_t at = line.find("{T}"); at != std::string::npos) line.replace(at, 3, target());
    if (const size_t at = line.find("{K}"); at != std::string::npos) line.replace(at, 3, std::to_string(i / 60 * 60 + 1));
    t += line + "\n";
  }
  return t;
}

struct Stats {
  int edits = 0, incremental = 0;
};

// Applies `edits` updates of random edits to `text`, comparing after each:
// an update brings in one edit, or up to `lines` edits of several lines as
// the server gets them within its debounce, each line in turn. Edits pile up
// into text that is mostly refused (an END high up, an EQU without a label):
// every `restart` updates the program starts again.
void Differential(const std::string& name, const std::string& text, const AssembleOptions& options, uint64_t seed,
                  int edits, Stats& stats, size_t lines = 1, int restart = 15) {
  Document d("file:///t.z80", 1, text);
  Incremental inc;
  AssembledDocument doc = inc.Full(d.Text(), options);
  Rng rng(seed);
  for (int k = 0; k < edits; ++k) {
    if (k % restart == restart - 1) {
      d.ReplaceAll(text);
      inc.Drop();
      doc = inc.Full(d.Text(), options);
    }
    const int64_t last = d.LineCount() - 1;
    const int64_t count = last + (d.Line(last).empty() ? 0 : 1);
    if (count == 0) return;
    std::vector<int64_t> edited;
    for (size_t j = 0, n = lines == 1 ? 1 : 1 + rng.Below(lines); j < n; ++j) {
      const LineEdit1 e = RandomEdit(d, count, rng);
      d.Replace({e.line, e.from}, {e.line, e.to}, e.text);
      edited.push_back(e.line);
    }
    std::sort(edited.begin(), edited.end());
    edited.erase(std::unique(edited.begin(), edited.end()), edited.end());
    bool done = inc.Ready();
    for (size_t j = 0; j < edited.size() && done; ++j) done = inc.Edit(d, edited[j], doc);
    ++stats.edits;
    if (done) {
      ++stats.incremental;
    } else {
      inc.Drop();
      doc = inc.Full(d.Text(), options);
    }
    const std::string diff = FirstDifference(Dump(doc), Dump(Assemble(d.Text(), options)));
    ASSERT_EQ(diff, "") << name << ", update " << k << ": line " << edited[0] + 1 << " now \"" << d.Line(edited[0])
                        << "\"";
  }
}

std::vector<std::filesystem::path> Programs() {
  std::vector<std::filesystem::path> out;
  for (const char* dir : {"examples", "tests/golden/cases", "fuzz/corpus"}) {
    for (const auto& f : std::filesystem::directory_iterator(std::filesystem::path(ORVANE_SOURCE_DIR) / dir)) {
      if (f.path().extension() == ".z80") out.push_back(f.path());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string Read(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(Incremental, RandomEditsOfTheCorpusEqualAWholeRun) {
  const std::vector<std::filesystem::path> programs = Programs();
  ASSERT_GE(programs.size(), 10u);
  Stats stats;
  uint64_t seed = 1;
  for (const auto& p : programs) {
    const std::string text = Read(p);
    for (const bool cpm : {false, true}) {
      AssembleOptions options;
      options.cpm = cpm;
      Differential(p.filename().string(), text, options, seed++, 120, stats);
      if (HasFatalFailure()) return;
    }
  }
  // Enough edits must take the line-by-line way, or the test shows little
  // (the golden cases are full of errors on directives, which are refused).
  EXPECT_GT(stats.incremental * 3, stats.edits) << stats.incremental << " of " << stats.edits;
}

TEST(Incremental, RandomEditsOfGeneratedBlocksEqualAWholeRun) {
  Stats stats;
  for (uint64_t seed = 1; seed <= 6; ++seed) {
    AssembleOptions options;
    options.cpm = seed % 2 == 0;
    if (seed == 3) options.disabledWarnings.insert("hex-overlap");
    Differential("generated " + std::to_string(seed), Generated(seed, 400), options, seed, 300, stats);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(stats.incremental * 5, stats.edits) << stats.incremental << " of " << stats.edits;
}

TEST(Incremental, SeveralLinesEditedBeforeOneUpdate) {
  Stats stats;
  for (uint64_t seed = 1; seed <= 20; ++seed) {
    Differential("seed " + std::to_string(seed), Generated(seed + 100, 200), {}, seed, 20, stats, 4, 11);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(stats.incremental * 8, stats.edits) << stats.incremental << " of " << stats.edits;
}

// Edits within a line move the later lines' starts without indexing the
// text again; every line end (LF, CR LF, a lone CR, one left just before an
// LF by a deletion) must come out as a fresh index of the same text has it
// (the hand-made cases are edit rows of units.txt).
TEST(Incremental, LineStartsAfterEditsEqualAFreshIndex) {
  Rng rng(7);
  for (const auto& start : Rows("ends")) {
    Document d("file:///t.z80", 1, start[0]);
    for (int k = 0; k < 400; ++k) {
      const int64_t line = static_cast<int64_t>(rng.Below(static_cast<size_t>(d.LineCount())));
      const int64_t len = static_cast<int64_t>(d.Line(line).size());
      const int64_t from = static_cast<int64_t>(rng.Below(static_cast<size_t>(len) + 1));
      const int64_t to = std::min(len, from + static_cast<int64_t>(rng.Below(3)));
      const std::string text = rng.Below(2) == 0 ? "" : std::string(1, "XY;"[rng.Below(3)]);
      d.Replace({line, from}, {line, to}, text);
      const Document fresh("file:///t.z80", 1, d.Text());
      ASSERT_EQ(d.LineCount(), fresh.LineCount()) << k;
      for (int64_t i = 0; i < fresh.LineCount(); ++i) {
        ASSERT_EQ(d.LineStart(i), fresh.LineStart(i)) << k << " line " << i;
        ASSERT_EQ(d.Line(i), fresh.Line(i)) << k << " line " << i;
      }
    }
  }
}

}  // namespace
}  // namespace orvane::lsp
