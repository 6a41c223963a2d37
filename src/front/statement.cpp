#include "front/statement.h"

#include "front/text.h"

namespace orvane {

std::string_view PrepLine(std::string_view SrcLine, std::string& buffer) {
  const size_t n = SrcLine.size();
  if (buffer.size() < n) buffer.resize(n);
  const char* in = SrcLine.data();
  char* to = buffer.data();
  // Written without branches so the compiler can treat many bytes at once.
  for (size_t i = 0; i < n; ++i) {
    const unsigned char u = static_cast<unsigned char>(in[i]);
    const bool lower = static_cast<unsigned char>(u - 'a') < 26;
    const unsigned char upper = static_cast<unsigned char>(lower ? u - ('a' - 'A') : u);
    to[i] = static_cast<char>(u == '\t' ? ' ' : upper);
  }
  return std::string_view(to, n);
}

namespace {

// The first position in `s` holding `a`, `b` or `c`, or npos. (A plain loop:
// find_first_of searches the set with memchr for every character.)
size_t FindSeparator(std::string_view s, char a, char b, char c) {
  for (size_t i = 0; i < s.size(); ++i) {
    const char x = s[i];
    if (x == a || x == b || x == c) return i;
  }
  return std::string_view::npos;
}
size_t FindSeparator(std::string_view s, char a, char b) { return FindSeparator(s, a, b, b); }

// Result of cutting one operand off the front of `rest`.
struct OperandCut {
  std::string_view operand;  // trimmed
  std::string_view after;    // trimmed; begins with ';' when the scan stopped there
};

// The scan behaves as if blanks had been appended to `rest`: an operand whose
// ending is not found runs to the end of `rest`, and nothing is left after it.
OperandCut CutOperand(std::string_view rest, bool dropEndingComma) {
  OperandCut cut;
  size_t stop;
  if (!rest.empty() && rest[0] == '(') {
    stop = rest.find(')');
    if (stop == std::string_view::npos) {
      cut.operand = Trim(rest);
      return cut;
    }
    cut.operand = Trim(rest.substr(0, stop + 1));
    cut.after = Trim(rest.substr(stop + 1));
    return cut;
  }
  stop = FindSeparator(rest, ',', ' ', ';');
  if (stop == std::string_view::npos) {
    cut.operand = Trim(rest);
    return cut;
  }
  if (rest[stop] == ';') {
    cut.operand = Trim(rest.substr(0, stop));
    cut.after = Trim(rest.substr(stop));
    return cut;
  }
  std::string_view op = rest.substr(0, stop + 1);
  if (dropEndingComma && rest[stop] == ',') op.remove_suffix(1);
  cut.operand = Trim(op);
  cut.after = Trim(rest.substr(stop + 1));
  return cut;
}

}  // namespace

void Parse(std::string_view line, StatementFields& f) {
  f.Clear();
  if (line.empty()) return;

  // Label: from the first column to the first blank or colon, ending included.
  std::string_view rest;
  if (line[0] == ' ') {
    rest = Trim(line);
  } else {
    size_t stop = FindSeparator(line, ' ', ':');
    if (stop == std::string_view::npos) stop = line.size() - 1;
    f.LabelFld = line.substr(0, stop + 1);
    rest = Trim(line.substr(stop + 1));
  }

  // Mnemonic.
  if (rest.empty()) return;
  if (rest[0] != ';') {
    size_t stop = FindSeparator(rest, ' ', ';');
    if (stop == std::string_view::npos) stop = rest.size() - 1;
    if (rest[stop] == ';') {
      f.OpcodeFld = Trim(rest.substr(0, stop));
      rest = rest.substr(stop);
    } else {
      f.OpcodeFld = Trim(rest.substr(0, stop + 1));
      rest = Trim(rest.substr(stop + 1));
    }
  }

  if (rest.empty() || rest[0] != ';') {
    // First operand.
    OperandCut cut = CutOperand(rest, true);
    f.Operand1Fld = cut.operand;
    rest = cut.after;
    // Separator.
    if (!rest.empty() && rest[0] == ',') rest = Trim(rest.substr(1));
  }

  // Comment directly after label, mnemonic or first operand: it keeps one
  // blank after it.
  if (!rest.empty() && rest[0] == ';') {
    f.CommentFld.assign(rest);
    f.CommentFld.push_back(' ');
    f.CommentAt = rest;
    return;
  }

  // Second operand; a comma that ends it stays attached.
  OperandCut cut = CutOperand(rest, false);
  f.Operand2Fld = cut.operand;
  f.CommentFld.assign(cut.after);
  f.CommentAt = cut.after;
}

}  // namespace orvane
