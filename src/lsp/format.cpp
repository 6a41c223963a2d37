#include "lsp/format.h"

#include <algorithm>

#include "front/statement.h"

namespace orvane::lsp {

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

std::string WithoutBlanks(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (!Blank(c)) out.push_back(c);
  }
  return out;
}

struct Fields {
  std::string buffer;
  StatementFields f;
  std::string_view prepared;
  explicit Fields(std::string_view line) {
    prepared = PrepLine(line, buffer);
    Parse(prepared, f);
  }
  size_t At(std::string_view field) const {
    return field.empty() ? 0 : static_cast<size_t>(field.data() - prepared.data());
  }
  bool operator==(const Fields& o) const {
    return f.LabelFld == o.f.LabelFld && f.OpcodeFld == o.f.OpcodeFld && f.Operand1Fld == o.f.Operand1Fld &&
           f.Operand2Fld == o.f.Operand2Fld && f.CommentFld == o.f.CommentFld;
  }
};

// Pads `out` with blanks to `column`, or one blank when it is there already.
void PadTo(std::string& out, size_t column) {
  if (out.size() < column) {
    out.append(column - out.size(), ' ');
  } else {
    out.push_back(' ');
  }
}

}  // namespace

std::string FormatLine(std::string_view line) {
  const Fields old(line);
  const StatementFields& f = old.f;
  // A line of a comment alone, or nothing, keeps its place (a ';' in the
  // first column would be a label).
  if (f.LabelFld.empty() && f.OpcodeFld.empty()) {
    size_t e = line.size();
    while (e > 0 && Blank(line[e - 1])) --e;
    return std::string(line.substr(0, e));
  }
  std::string out;
  if (!f.LabelFld.empty()) {
    size_t e = f.LabelFld.size();
    while (e > 0 && f.LabelFld[e - 1] == ' ') --e;
    out.append(line.substr(0, e));
  }
  if (!f.OpcodeFld.empty()) {
    PadTo(out, kMnemonicColumn);
    out.append(line.substr(old.At(f.OpcodeFld), f.OpcodeFld.size()));
  }
  if (!f.Operand1Fld.empty() || !f.Operand2Fld.empty()) {
    PadTo(out, kOperandColumn);
    if (!f.Operand1Fld.empty()) {
      const size_t b = old.At(f.Operand1Fld);
      out.append(line.substr(b, f.Operand1Fld.size()));
      if (!f.Operand2Fld.empty()) {
        // Between the operands: a comma if there was one, else one blank.
        const size_t e = b + f.Operand1Fld.size();
        const std::string_view between = line.substr(e, old.At(f.Operand2Fld) - e);
        out.push_back(between.find(',') != std::string_view::npos ? ',' : ' ');
      }
    }
    if (!f.Operand2Fld.empty()) out.append(line.substr(old.At(f.Operand2Fld), f.Operand2Fld.size()));
  }
  if (!f.CommentAt.empty()) {
    PadTo(out, kCommentColumn);
    size_t e = line.size();
    while (e > 0 && Blank(line[e - 1])) --e;
    out.append(line.substr(old.At(f.CommentAt), e - old.At(f.CommentAt)));
  }
  // Only blanks may change, and the assembler must split the line alike.
  if (WithoutBlanks(out) != WithoutBlanks(line) || !(Fields(out) == old)) return std::string(line);
  return out;
}

namespace {

bool SameStatement(const AssembledDocument& a, const AssembledDocument& b, size_t i) {
  const StatementInfo &x = a.statements[i], &y = b.statements[i];
  if (x.address != y.address || x.byteCount != y.byteCount || x.display != y.display) return false;
  for (uint32_t k = 0; k < x.byteCount; ++k) {
    if (a.bytes[x.bytesAt + k] != b.bytes[y.bytesAt + k]) return false;
  }
  if (x.display) {
    const auto ia = a.displays.find(static_cast<int64_t>(i)), ib = b.displays.find(static_cast<int64_t>(i));
    if ((ia == a.displays.end()) != (ib == b.displays.end())) return false;
    if (ia != a.displays.end() && ia->second != ib->second) return false;
  }
  return true;
}

// Lines whose statement or messages differ (messages compared without their
// columns, which move with the layout).
std::vector<int64_t> Differences(const AssembledDocument& a, const AssembledDocument& b) {
  std::vector<int64_t> lines;
  if (a.statements.size() != b.statements.size()) return {-1};
  for (size_t i = 0; i < a.statements.size(); ++i) {
    if (!SameStatement(a, b, i)) lines.push_back(static_cast<int64_t>(i));
  }
  if (a.problems.size() != b.problems.size()) {
    lines.push_back(-1);
    return lines;
  }
  for (size_t i = 0; i < a.problems.size(); ++i) {
    const SourceProblem &x = a.problems[i], &y = b.problems[i];
    if (x.line != y.line || x.text != y.text || x.name != y.name || x.note != y.note || x.warning != y.warning) {
      lines.push_back(x.line);
    }
  }
  return lines;
}

std::string Join(const std::vector<std::string_view>& lines, const std::vector<std::string>& replaced,
                 const std::vector<bool>& use) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    text.append(use[i] ? std::string_view(replaced[i]) : lines[i]);
    text.push_back('\n');
  }
  return text;
}

}  // namespace

std::vector<LineEdit> FormatDocument(std::string_view text, const AssembleOptions& options) {
  const std::vector<std::string_view> lines = SourceLines(text);
  std::vector<std::string> formatted(lines.size());
  std::vector<bool> changed(lines.size(), false);
  bool any = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    formatted[i] = FormatLine(lines[i]);
    changed[i] = formatted[i] != lines[i];
    any = any || changed[i];
  }
  if (!any) return {};
  // Assembled before and after; a line that assembles differently keeps its
  // old layout, and if that is not enough nothing changes.
  const AssembledDocument before = Assemble(Join(lines, formatted, std::vector<bool>(lines.size(), false)), options);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const AssembledDocument after = Assemble(Join(lines, formatted, changed), options);
    const std::vector<int64_t> differ = Differences(before, after);
    if (differ.empty()) break;
    if (attempt == 1 || std::find(differ.begin(), differ.end(), -1) != differ.end()) return {};
    for (int64_t l : differ) changed[static_cast<size_t>(l)] = false;
  }
  std::vector<LineEdit> edits;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (changed[i]) edits.push_back({static_cast<int64_t>(i), formatted[i]});
  }
  return edits;
}

}  // namespace orvane::lsp
