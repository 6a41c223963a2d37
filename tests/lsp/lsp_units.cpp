// The server's parts, each against an oracle of its own: position
// conversions against hand-counted UTF-16, the reader against the same bytes
// fed whole, the forms the hover shows against the assembler itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lsp/assembled.h"
#include "lsp/document.h"
#include "lsp/features.h"
#include "lsp/mnemonics.h"
#include "jsonrpc/transport.h"
#include "row_file.h"

namespace orvane::lsp {
namespace {

using jsonrpc::MessageReader;

// The rows of units.txt of one kind, each without its kind.
std::vector<std::vector<std::string>> Table(const std::string& kind) { return rows::Table(UNIT_ROWS, kind); }

Position At(const std::string& text) {
  const size_t blank = text.find(' ');
  return {std::stoll(text.substr(0, blank)), std::stoll(text.substr(blank + 1))};
}

TEST(Positions, Utf16ToByteColumnAndBack) {
  for (const auto& r : Table("column")) {
    ASSERT_EQ(r.size(), 3u);
    const int64_t units = std::stoll(r[1]);
    const size_t byte = std::stoul(r[2]);
    EXPECT_EQ(ByteColumn(r[0], units), byte) << r[0] << " @" << units;
    // Every byte column that starts a character goes there and back.
    if (units == 1 && r[0].rfind("😀", 0) == 0) continue;  // inside a pair
    EXPECT_EQ(ByteColumn(r[0], Utf16Column(r[0], byte)), byte) << r[0];
  }
}

TEST(Documents, IncrementalEdits) {
  for (const auto& r : Table("edit")) {
    ASSERT_EQ(r.size(), 6u);
    Document d("u", 1, r[0]);
    d.Replace(At(r[1]), At(r[2]), r[3]);
    EXPECT_EQ(d.Text(), r[4]) << r[0];
    EXPECT_EQ(d.LineCount(), std::stoll(r[5])) << r[0];
    // The line index equals one made from scratch.
    Document fresh("u", 1, r[4]);
    for (int64_t n = 0; n < d.LineCount(); ++n) {
      EXPECT_EQ(d.Line(n), fresh.Line(n)) << r[0] << " line " << n;
      EXPECT_EQ(d.LineStart(n), fresh.LineStart(n)) << r[0] << " line " << n;
    }
  }
}

TEST(Documents, LinesEndAsTheAssemblerEndsThem) {
  const std::string text = "A\r\nB\rC\nD";
  Document d("u", 1, text);
  const std::vector<std::string_view> source = SourceLines(text);
  ASSERT_EQ(d.LineCount(), static_cast<int64_t>(source.size()));
  for (size_t i = 0; i < source.size(); ++i) EXPECT_EQ(d.Line(static_cast<int64_t>(i)), source[i]);
}

std::vector<std::string> Read(MessageReader& r) {
  std::vector<std::string> out;
  while (auto f = r.Next()) out.push_back(f->ok() ? f->body : "!" + f->error);
  return out;
}

TEST(Reader, FramesWholeAndByteByByte) {
  for (const auto& row : Table("frame")) {
    const std::string& bytes = row[0];
    const std::vector<std::string> frames(row.begin() + 1, row.end());
    MessageReader whole;
    whole.Feed(bytes);
    EXPECT_EQ(Read(whole), frames) << bytes;
    MessageReader pieces;
    std::vector<std::string> got;
    for (char c : bytes) {
      pieces.Feed(std::string_view(&c, 1));
      for (std::string& s : Read(pieces)) got.push_back(std::move(s));
    }
    EXPECT_EQ(got, frames) << bytes;
  }
}

TEST(Reader, AnOversizedBodyIsSkippedAcrossPieces) {
  MessageReader r;
  const uint64_t n = MessageReader::kMaxBody + 5;
  r.Feed("Content-Length: " + std::to_string(n) + "\r\n\r\n");
  ASSERT_EQ(Read(r).size(), 1u);
  std::string filler(1 << 20, 'x');
  for (uint64_t left = n; left > 0;) {
    const size_t k = static_cast<size_t>(std::min<uint64_t>(left, filler.size()));
    r.Feed(std::string_view(filler).substr(0, k));
    left -= k;
    EXPECT_EQ(r.Pending(), 0u);
  }
  r.Feed("Content-Length: 1\r\n\r\n7");
  EXPECT_EQ(Read(r), std::vector<std::string>{"7"});
}

TEST(Rename, NamesTheDialectReadsAsNames) {
  for (const auto& r : Table("name")) {
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(NameRefusal(r[0]).empty(), r[1] == "yes") << r[0] << ": " << NameRefusal(r[0]);
  }
}

// A form of the hover with its placeholders filled in.
std::vector<std::string> Instances(std::string form) {
  if (const size_t colon = form.find(": "); colon != std::string::npos) form.resize(colon);
  if (const size_t eq = form.find(" = "); eq != std::string::npos && form.find("NAME") == std::string::npos) {
    form.resize(eq);
  }
  std::string label;
  if (form.rfind("NAME ", 0) == 0) {
    label = "X";
    form = form.substr(5);
  }
  const size_t blank = form.find(' ');
  const std::string mnemonic = form.substr(0, blank);
  std::string operands = blank == std::string::npos ? "" : form.substr(blank + 1);
  const std::vector<std::pair<std::string, std::string>> fill = {
      {"(IX/IY+d)", "(#+3)"}, {"IX/IY", "#"},   {"'text'", "'HI'"}, {"\"text\"", "\"HI\""}, {"'c'", "'Q'"},
      {"(nn)", "(1234)"},     {"(n)", "(5)"},   {"nn", "1234"},    {"cc", "PE"},           {"rr", "DE"}};
  for (const auto& [from, to] : fill) {
    for (size_t at = operands.find(from); at != std::string::npos; at = operands.find(from, at + to.size())) {
      operands.replace(at, from.size(), to);
    }
  }
  // Single-letter placeholders, one operand at a time.
  std::string out;
  size_t start = 0;
  for (size_t i = 0; i <= operands.size(); ++i) {
    if (i < operands.size() && operands[i] != ',') continue;
    std::string op = operands.substr(start, i - start);
    for (const auto& [from, to] : {std::pair{"r", "E"}, {"n", "5"}, {"e", "$+4"}, {"b", "6"}, {"(IX+d)", "(IX+3)"}}) {
      if (op == from) op = to;
    }
    out += (start ? "," : "") + op;
    start = i + 1;
  }
  std::vector<std::string> lines;
  for (const char* index : {"IX", "IY"}) {
    std::string ops = out;
    for (size_t at = ops.find('#'); at != std::string::npos; at = ops.find('#')) ops.replace(at, 1, index);
    lines.push_back(label + "        " + mnemonic + (ops.empty() ? "" : " " + ops));
    if (out.find('#') == std::string::npos) break;
  }
  return lines;
}

TEST(Hover, EveryFormShownAssemblesWithoutAMessage) {
  int forms = 0;
  for (const KeywordForms& k : AllKeywords()) {
    ASSERT_NE(FindKeywordForms(k.keyword), nullptr) << k.keyword << " is no keyword of the assembler";
    std::string all(k.forms);
    for (size_t b = 0;;) {
      const size_t e = all.find(" · ", b);
      for (const std::string& line : Instances(all.substr(b, e == std::string::npos ? e : e - b))) {
        const AssembledDocument a = Assemble(line + "\n", AssembleOptions{});
        EXPECT_TRUE(a.problems.empty()) << "'" << line << "': " << (a.problems.empty() ? "" : a.problems[0].text);
        ++forms;
      }
      if (e == std::string::npos) break;
      b = e + std::string_view(" · ").size();
    }
  }
  EXPECT_GT(forms, 200);
}

TEST(Hover, FixedOpcodesShowTheBytesTheAssemblerMakes) {
  for (const KeywordForms& k : AllKeywords()) {
    const std::string_view forms = k.forms;
    const size_t eq = forms.find(" = ");
    if (k.directive || eq == std::string_view::npos) continue;
    const AssembledDocument a = Assemble("        " + std::string(k.keyword) + "\n", AssembleOptions{});
    ASSERT_EQ(a.statements.size(), 1u);
    EXPECT_EQ("0000: " + std::string(forms.substr(eq + 3)), StatementHoverText(a, 0)) << k.keyword;
  }
}

// Highlighting, as an editor shows it: the directives the source language
// has (EQU or =, DB/DEFB, DW/DEFW, DS/DEFS, ORG, END) apart from every
// instruction, each keyword written alone on a line of its own.
TEST(SemanticTokens, DirectivesApartFromInstructions) {
  const std::vector<std::string_view> directives = {"EQU", "=", "DB", "DEFB", "DW", "DEFW", "DS", "DEFS", "ORG", "END"};
  std::string text;
  for (const KeywordForms& k : AllKeywords()) text += "        " + std::string(k.keyword) + "\n";
  OpenDocument o{Document("file:///k.z80", 1, text), Assemble(text, AssembleOptions{})};
  const json data = SemanticTokens(o)["data"];
  ASSERT_EQ(data.size(), 5 * AllKeywords().size());
  constexpr int kKeyword = 1, kMacro = 2;  // the legend's "keyword" and "macro"
  size_t i = 0;
  for (const KeywordForms& k : AllKeywords()) {
    const bool directive = std::find(directives.begin(), directives.end(), k.keyword) != directives.end();
    EXPECT_EQ(data[5 * i + 3].get<int>(), directive ? kMacro : kKeyword) << k.keyword;
    ++i;
  }
  EXPECT_EQ(SemanticTokensLegend()["tokenTypes"][kKeyword], "keyword");
  EXPECT_EQ(SemanticTokensLegend()["tokenTypes"][kMacro], "macro");
}

}  // namespace
}  // namespace orvane::lsp
