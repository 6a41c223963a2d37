#include "front/statement.h"

#include "front/text.h"

namespace orvane {

void PrepLineInto(std::string_view SrcLine, std::string& out) {
  out.assign(SrcLine.data(), SrcLine.size());
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c == '\t') {
      c = ' ';
    }
  }
}

std::string PrepLine(std::string_view SrcLine) {
  std::string out;
  PrepLineInto(SrcLine, out);
  return out;
}

namespace {

// Result of cutting one operand off the front of `rest` (which has had blanks
// appended, so the scan always finds an end).
struct OperandCut {
  std::string_view operand;  // trimmed
  std::string_view after;    // trimmed; begins with ';' when the scan stopped there
};

OperandCut CutOperand(std::string_view rest, bool dropEndingComma) {
  OperandCut cut;
  size_t stop;
  if (!rest.empty() && rest[0] == '(') {
    stop = rest.find(')');
    if (stop == std::string_view::npos) stop = rest.size() - 1;
    cut.operand = Trim(rest.substr(0, stop + 1));
    cut.after = Trim(rest.substr(stop + 1));
    return cut;
  }
  stop = rest.find_first_of(", ;");
  if (stop == std::string_view::npos) stop = rest.size() - 1;  // cannot happen: a blank was appended
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
    size_t stop = line.find_first_of(" :");
    if (stop == std::string_view::npos) stop = line.size() - 1;
    f.LabelFld.assign(line.substr(0, stop + 1));
    rest = Trim(line.substr(stop + 1));
  }

  // Mnemonic.
  if (rest.empty()) return;
  if (rest[0] != ';') {
    size_t stop = rest.find_first_of(" ;");
    if (stop == std::string_view::npos) stop = rest.size() - 1;
    if (rest[stop] == ';') {
      f.OpcodeFld.assign(Trim(rest.substr(0, stop)));
      rest = rest.substr(stop);
    } else {
      f.OpcodeFld.assign(Trim(rest.substr(0, stop + 1)));
      rest = Trim(rest.substr(stop + 1));
    }
  }

  // The scans below append blanks to what is left; a small local buffer keeps
  // that cheap.
  std::string work;
  if (rest.empty() || rest[0] != ';') {
    // First operand.
    work.assign(rest);
    work.push_back(' ');
    OperandCut cut = CutOperand(work, true);
    f.Operand1Fld.assign(cut.operand);
    rest = cut.after;
    // Separator.
    if (!rest.empty() && rest[0] == ',') rest = Trim(rest.substr(1));
    std::string tail(rest);
    work.swap(tail);
  } else {
    work.assign(rest);
  }
  rest = std::string_view();

  // Comment directly after label, mnemonic or first operand.
  work.push_back(' ');
  if (work[0] == ';') {
    f.CommentFld.assign(work);
    return;
  }

  // Second operand; a comma that ends it stays attached.
  work.push_back(' ');
  OperandCut cut = CutOperand(work, false);
  f.Operand2Fld.assign(cut.operand);
  f.CommentFld.assign(cut.after);
}

}  // namespace orvane
