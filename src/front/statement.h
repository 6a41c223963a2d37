// Statement splitting: a raw source line becomes label, mnemonic, two operands
// and a comment. Splitting never fails and reports nothing.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "front/prep_line.h"
#include "front/text.h"

namespace orvane {

// Label, mnemonic and operands are views into the prepared line, which must
// outlive them; the comment is a text of its own, since it may gain a blank.
struct StatementFields {
  std::string_view LabelFld;
  std::string_view OpcodeFld;
  std::string_view Operand1Fld;
  std::string_view Operand2Fld;
  std::string CommentFld;
  std::string_view CommentAt;  // where the comment stands in the line
  void Clear() {
    LabelFld = {};
    OpcodeFld = {};
    Operand1Fld = {};
    Operand2Fld = {};
    CommentFld.clear();
    CommentAt = {};
  }
};

// Cuts a prepared line into the five fields. Returns whether the comment
// gains a blank (it follows the label, mnemonic or first operand directly);
// without copyComment, CommentFld is left empty and only CommentAt is set.
bool Parse(std::string_view ParseLine, StatementFields& f, bool copyComment = true);
// The fields would outlive a temporary line.
bool Parse(std::string&& ParseLine, StatementFields& f, bool copyComment = true) = delete;

// The scans of the splitter below.
namespace parse_detail {

// The characters that end a field, one bit each, so that a scan for any set
// of them costs one table look-up a character.
enum : uint8_t { kBlank = 1, kComma = 2, kSemicolon = 4, kColon = 8 };
constexpr std::array<uint8_t, 256> kSeparator = [] {
  std::array<uint8_t, 256> t{};
  t[' '] = kBlank;
  t[','] = kComma;
  t[';'] = kSemicolon;
  t[':'] = kColon;
  return t;
}();

// The first position in `s` holding a character of the set `which`, or npos.
[[gnu::always_inline]] inline size_t FindSeparator(std::string_view s, uint8_t which) {
  const char* const p = s.data();
  const size_t n = s.size();
  for (size_t i = 0; i < n; ++i) {
    if (kSeparator[static_cast<unsigned char>(p[i])] & which) return i;
  }
  return std::string_view::npos;
}

// Parts of a text at positions known to lie in it, without the checks of
// substr.
inline std::string_view Head(std::string_view s, size_t n) { return std::string_view(s.data(), n); }
inline std::string_view From(std::string_view s, size_t at) { return std::string_view(s.data() + at, s.size() - at); }

// Result of cutting one operand off the front of `rest`.
struct OperandCut {
  std::string_view operand;
  std::string_view after;  // begins with ';' when the scan stopped there
};

// `rest` is empty or runs to the line's last non-blank and begins with one
// that is not ';'. So the operand needs no trimming, and of what follows it
// only the leading blanks go: its end is the line's. An operand whose ending
// is not found runs to the end of `rest`, and nothing is left after it.
[[gnu::always_inline]] inline OperandCut CutOperand(std::string_view rest, bool dropEndingComma) {
  OperandCut cut;
  cut.after = From(rest, rest.size());
  if (!rest.empty() && rest[0] == '(') {
    // Operands are short: a plain scan, not a call.
    size_t stop = 1;
    while (stop < rest.size() && rest[stop] != ')') ++stop;
    if (stop == rest.size()) stop = std::string_view::npos;
    if (stop == std::string_view::npos) {
      cut.operand = rest;
      return cut;
    }
    cut.operand = Head(rest, stop + 1);
    cut.after = TrimLeft(From(rest, stop + 1));
    return cut;
  }
  const size_t stop = FindSeparator(rest, kComma | kBlank | kSemicolon);
  if (stop == std::string_view::npos) {
    cut.operand = rest;
    return cut;
  }
  if (rest[stop] == ';') {
    cut.operand = Head(rest, stop);
    cut.after = From(rest, stop);
    return cut;
  }
  // A blank ends the operand; a comma ends it too, and stays with it when asked.
  cut.operand = Head(rest, stop + (rest[stop] == ',' && !dropEndingComma ? 1 : 0));
  cut.after = TrimLeft(From(rest, stop + 1));
  return cut;
}

}  // namespace parse_detail

// Parse itself, inlined where the assembler splits every line of a run.
[[gnu::always_inline]] inline bool ParseInline(std::string_view line, StatementFields& f, bool copyComment) {
  using namespace parse_detail;
  // Every field is a view into the line, an empty one included: it starts
  // empty at the line's start.
  const std::string_view none(line.data(), 0);
  f.LabelFld = f.OpcodeFld = f.Operand1Fld = f.Operand2Fld = f.CommentAt = none;
  f.CommentFld.clear();
  if (line.empty()) return false;

  // Label: from the first column to the first blank or colon, ending included.
  std::string_view rest;
  if (line[0] == ' ') {
    rest = Trim(line);
  } else {
    size_t stop = FindSeparator(line, kBlank | kColon);
    if (stop == std::string_view::npos) stop = line.size() - 1;
    f.LabelFld = Head(line, stop + 1);
    rest = Trim(From(line, stop + 1));
  }

  // From here `rest` runs to the line's last non-blank, and so does every
  // part of it that follows a field: only leading blanks are left to skip.
  // Mnemonic.
  if (rest.empty()) return false;
  if (rest[0] != ';') {
    const size_t stop = FindSeparator(rest, kBlank | kSemicolon);
    if (stop == std::string_view::npos) {
      f.OpcodeFld = rest;
      rest = From(rest, rest.size());
    } else if (rest[stop] == ';') {
      f.OpcodeFld = Head(rest, stop);
      rest = From(rest, stop);
    } else {
      f.OpcodeFld = Head(rest, stop);
      rest = TrimLeft(From(rest, stop + 1));
    }
  }

  if (rest.empty() || rest[0] != ';') {
    // First operand.
    OperandCut cut = CutOperand(rest, true);
    f.Operand1Fld = cut.operand;
    rest = cut.after;
    // Separator.
    if (!rest.empty() && rest[0] == ',') rest = TrimLeft(From(rest, 1));
  }

  // Comment directly after label, mnemonic or first operand: it keeps one
  // blank after it.
  if (!rest.empty() && rest[0] == ';') {
    if (copyComment) {
      f.CommentFld.assign(rest);
      f.CommentFld.push_back(' ');
    }
    f.CommentAt = rest;
    return true;
  }

  // Second operand; a comma that ends it stays attached.
  OperandCut cut = CutOperand(rest, false);
  f.Operand2Fld = cut.operand;
  if (copyComment && !cut.after.empty()) f.CommentFld.assign(cut.after);
  f.CommentAt = cut.after;
  return false;
}


}  // namespace orvane
