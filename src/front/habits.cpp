#include "front/habits.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "front/diagnostics.h"
#include "front/numbers.h"
#include "front/text.h"

namespace orvane {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c); }

// "&H1F": the dialect's hex form of a value, without leading zeros.
std::string HexForm(uint32_t v) {
  std::string s = "&H";
  bool any = false;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const uint32_t d = (v >> shift) & 15;
    if (d != 0 || any || shift == 0) s += kHexDigits[d], any = true;
  }
  return s;
}

std::string OctalForm(uint32_t v) {
  std::string digits;
  do digits.insert(digits.begin(), static_cast<char>('0' + (v & 7))), v >>= 3;
  while (v != 0);
  return "&O" + digits;
}

// A number written as another assembler writes it: its value and how it was
// written ("hex", "binary", "octal").
struct ForeignNumber {
  uint32_t value;
  std::string_view kind;
};

std::optional<uint32_t> Digits(std::string_view s, int base) {
  if (s.empty() || s.size() > 32) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    const int d = HexDigitValue(c);
    if (d < 0 || d >= base) return std::nullopt;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<uint32_t>(v);
}

// 100H, 0FFH (a digit first: FFH is a name), 0X1F, $1F, #1F, %1010, 1010B,
// 17O, 17Q. The text is upper case.
std::optional<ForeignNumber> ReadForeignNumber(std::string_view s) {
  if (s.size() < 2) return std::nullopt;
  const char last = s.back();
  const std::string_view body = s.substr(0, s.size() - 1);
  std::optional<uint32_t> v;
  if (last == 'H' && IsDigit(s[0]) && (v = Digits(body, 16))) return ForeignNumber{*v, "hex"};
  if (last == 'B' && (v = Digits(body, 2))) return ForeignNumber{*v, "binary"};
  if ((last == 'O' || last == 'Q') && (v = Digits(body, 8))) return ForeignNumber{*v, "octal"};
  const std::string_view rest = s.substr(1);
  if ((s[0] == '$' || s[0] == '#') && (v = Digits(rest, 16))) return ForeignNumber{*v, "hex"};
  if (s[0] == '%' && (v = Digits(rest, 2))) return ForeignNumber{*v, "binary"};
  if (s.size() > 2 && s[0] == '0' && s[1] == 'X' && (v = Digits(s.substr(2), 16))) return ForeignNumber{*v, "hex"};
  return std::nullopt;
}

std::string ForeignNumberNote(const ForeignNumber& n) {
  if (n.kind == "hex") return "hex is written " + HexForm(n.value) + " here";
  if (n.kind == "octal") return "octal is written " + OctalForm(n.value) + " here (" + std::to_string(n.value) + ")";
  return "binary numbers are not read here; write the value: " + std::to_string(n.value) + " (or " +
         HexForm(n.value) + ")";
}

// `at` as the user typed it: the same bytes of the line as read.
std::string_view AsWritten(std::string_view at, const HabitContext& c) {
  if (c.source.size() != c.line.size() || at.data() < c.line.data() || at.data() + at.size() > c.line.data() + c.line.size())
    return at;
  return c.source.substr(static_cast<size_t>(at.data() - c.line.data()), at.size());
}

bool Quoted(std::string_view s) { return s.size() >= 2 && (s[0] == '\'' || s[0] == '"') && s.back() == s[0]; }

// The value of one term of an expression, when it has one here: a symbol
// defined in the table, a number of this dialect, one written as another
// assembler writes it, or a quoted character ('z', as written). `restsOn`
// gets the line of an earlier error a symbol's value rests on.
std::optional<int64_t> TermValue(std::string_view t, const HabitContext& c, int64_t* restsOn = nullptr,
                                 std::string_view written = {}) {
  if (auto n = StrictNumber(t)) return *n;
  if (auto f = ReadForeignNumber(t)) return f->value;
  if (written.size() == 3 && Quoted(written)) return static_cast<unsigned char>(written[1]);
  if (c.symbols != nullptr && !t.empty() && IsLetter(t[0])) {
    const int slot = c.symbols->Find(t);
    if (slot != 0) {
      if (restsOn != nullptr && *restsOn == 0 && c.restsOnError) *restsOn = c.restsOnError(slot);
      return c.symbols->Slot(slot).address;
    }
  }
  return std::nullopt;
}

// ", which rests on the error on line 13", or nothing.
std::string RestsOn(int64_t line) {
  return line == 0 ? std::string() : ", which rests on the error on line " + std::to_string(line);
}

bool IsTerm(std::string_view t) {
  if (t.empty()) return false;
  if (t == "$" || StrictNumber(t) || ReadForeignNumber(t)) return true;
  if (t.size() == 3 && t[0] == '\'' && t[2] == '\'') return true;
  return IsLetter(t[0]) && std::all_of(t.begin(), t.end(), IsNameChar);
}

// BUF+1, LABEL-2, COUNT*2, A/B, 'Z'+1: terms joined by operators, nothing
// else. `written` is `s` as the user typed it, the characters' own case.
std::string ExpressionNote(std::string_view s, std::string_view written, const HabitContext& c) {
  std::string_view rest = s;
  int64_t value = 0, restsOn = 0;
  bool known = true, operators = false, character = false;
  char op = '+';
  while (true) {
    // A quoted character may be an operator itself: '+'.
    const size_t from = rest.size() >= 3 && rest[0] == '\'' && rest[2] == '\'' ? 3 : 0;
    const size_t found = rest.find_first_of("+-*/", from);
    const size_t stop = found;
    const std::string_view term = rest.substr(0, stop);
    if (!IsTerm(term)) return {};
    const size_t at = static_cast<size_t>(term.data() - s.data());
    const std::string_view termWritten = written.size() == s.size() ? written.substr(at, term.size()) : term;
    character = character || (term.size() == 3 && term[0] == '\'');
    const std::optional<int64_t> v = TermValue(term, c, &restsOn, termWritten);
    if (!v || op == '*' || op == '/') known = false;
    else value = op == '+' ? value + *v : value - *v;
    if (stop == std::string_view::npos) break;
    op = rest[stop];
    operators = true;
    rest = rest.substr(stop + 1);
  }
  if (!operators) return {};
  std::string note = "an operand is one number or one symbol; there are no expressions: write the value";
  if (character) {
    // A character is no address: the value is all there is to say.
    if (known) {
      note += ": " + std::to_string(value) + " (" + std::string(written) + " is " + std::to_string(value) + ", " +
              HexForm(static_cast<uint32_t>(value) & 0xFFFF) + ")";
    }
    return note;
  }
  if (known) note += " (" + std::string(s) + " is " + HexForm(static_cast<uint32_t>(value) & 0xFFFF) + " here" + RestsOn(restsOn) + ")";
  return note + " or give that address a label of its own";
}

// HIGH X and LOW X: the name alone is the operand, the rest is cut off as a
// comment or a second operand; HIGH(X) is one name.
std::string HighLowNote(std::string_view s, const HabitContext& c) {
  std::string_view word, target;
  for (std::string_view w : {std::string_view("HIGH"), std::string_view("LOW")}) {
    if (s == w && s.data() >= c.line.data() && s.data() + s.size() < c.line.data() + c.line.size()) {
      const std::string_view rest = c.line.substr(static_cast<size_t>(s.data() - c.line.data()) + s.size());
      if (rest[0] != ' ') return {};
      target = Trim(rest);
      target = target.substr(0, target.find_first_of(" ,;"));
      word = w;
    } else if (s.size() > w.size() + 2 && s.substr(0, w.size()) == w && s[w.size()] == '(' && s.back() == ')') {
      word = w;
      target = s.substr(w.size() + 1, s.size() - w.size() - 2);
    }
  }
  if (word.empty()) return {};
  if (target.size() >= 2 && target[0] == '(' && target.back() == ')') target = target.substr(1, target.size() - 2);
  if (!IsTerm(target)) return {};
  std::string note = "there are no operators: an operand is one number or one symbol; write the value";
  int64_t restsOn = 0;
  if (auto v = TermValue(target, c, &restsOn)) {
    const uint32_t b = word == "HIGH" ? (static_cast<uint32_t>(*v) >> 8) & 255 : static_cast<uint32_t>(*v) & 255;
    note += " (" + std::string(word) + " " + std::string(target) + " is " + std::to_string(b) + ", " + HexForm(b) +
            RestsOn(restsOn) + ")";
  }
  return note;
}

// A symbol that is not defined because the label on the first line has a
// byte-order mark in front of it.
std::string MarkedLabelNote(std::string_view name, const HabitContext& c) {
  if (c.symbols == nullptr || name.empty()) return {};
  const int slot = c.symbols->Find(std::string(kByteOrderMark) + std::string(name));
  if (slot == 0) return {};
  return "the label on line " + std::to_string(c.symbols->Slot(slot).span.line) + " is not " + std::string(name) +
         " but a UTF-8 byte-order mark followed by it; save the file without the mark";
}

std::string CharacterNote(std::string_view written) {
  if (written.size() != 3 || !Quoted(written)) return {};
  const auto code = static_cast<unsigned char>(written[1]);
  return "a character is written as its code here: " + std::to_string(code) + " (" + HexForm(code) + ")";
}

std::string TextNote(std::string_view written, const HabitContext& c) {
  if (c.fields == nullptr || written.size() < 4 || !Quoted(written)) return {};
  const std::string_view op = c.fields->OpcodeFld;
  if (op != "DB" && op != "DEFB") return {};
  std::string note = std::string(op) + " emits one byte; DS " + std::string(written) + " emits a text";
  if (std::any_of(written.begin(), written.end(), [](char ch) { return ch >= 'a' && ch <= 'z'; }))
    note += " (in upper case, as every line is read)";
  return note;
}

// A quoted text that blanks or commas cut into operands ("TYPE A LINE" is
// read as "TYPE and more operands): DS takes a text without them, so the text
// is written in pieces, a blank as DB 32 and a comma as DB 44. The note says
// so with the pieces this text needs, one statement a line.
std::string SplitTextNote(std::string_view at, const HabitContext& c) {
  if (at.empty() || (at[0] != '"' && at[0] != '\'') || (at.size() >= 2 && at.back() == at[0])) return {};
  if (at.data() < c.line.data() || at.data() >= c.line.data() + c.line.size() || c.source.size() != c.line.size())
    return {};
  const size_t from = static_cast<size_t>(at.data() - c.line.data());
  const size_t close = c.source.find(at[0], from + 1);
  if (close == std::string_view::npos) return {};
  const std::string_view text = c.source.substr(from + 1, close - from - 1);
  if (text.find_first_of(" ,") == std::string_view::npos) return {};
  std::string pieces, piece;
  auto flush = [&] {
    if (piece.empty()) return;
    pieces += (pieces.empty() ? "DS " : " / DS ") + std::string(1, at[0]) + piece + at[0];
    piece.clear();
  };
  for (char ch : text) {
    if (ch == ' ' || ch == ',') {
      flush();
      pieces += std::string(pieces.empty() ? "" : " / ") + (ch == ' ' ? "DB 32" : "DB 44");
    } else {
      piece += ch;
    }
  }
  flush();
  const std::string_view op = c.fields != nullptr ? c.fields->OpcodeFld : std::string_view();
  std::string note = op == "DB" || op == "DEFB" ? std::string(op) + " emits one byte, and a text goes in DS; " : "";
  note += "DS takes a text without blanks or commas: a blank is written DB 32, a comma DB 44; for this text write " +
          pieces + ", one statement a line";
  if (std::any_of(text.begin(), text.end(), [](char ch) { return ch >= 'a' && ch <= 'z'; }))
    note += " (the letters come out in upper case, as every line is read)";
  return note;
}

std::string ValueNote(std::string_view s, const HabitContext& c) {
  if (auto f = ReadForeignNumber(s)) return ForeignNumberNote(*f);
  const std::string_view written = AsWritten(s, c);
  std::string note = SplitTextNote(s, c);
  if (note.empty()) note = CharacterNote(written);
  if (note.empty()) note = TextNote(written, c);
  if (note.empty()) note = ExpressionNote(s, written, c);
  if (note.empty()) note = HighLowNote(s, c);
  if (note.empty()) note = MarkedLabelNote(s, c);
  return note;
}

// DS 16, meaning "reserve 16 bytes".
std::string ReserveNote(const HabitContext& c) {
  if (c.fields == nullptr) return {};
  const std::string_view s = c.fields->Operand1Fld;
  std::optional<int64_t> n;
  if (auto v = StrictNumber(s)) n = *v;
  else if (auto f = ReadForeignNumber(s)) n = f->value;
  int64_t restsOn = 0;
  if (!n && c.symbols != nullptr && c.symbols->Find(s) != 0) n = TermValue(s, c, &restsOn);  // a defined symbol
  if (!n || *n <= 0 || *n > 65535) return {};
  const std::string count = std::to_string(*n);
  std::string note = "DS emits a quoted text and reserves nothing; to leave " + count + " bytes ";
  if (!c.loadsFromOrigin) {
    if (restsOn == 0 && c.restsOnError) restsOn = c.restsOnError(0);
    note += "write ORG " + HexForm(static_cast<uint32_t>(c.pc + *n) & 0xFFFF) +
            " on the next line (an Intel HEX file leaves the gap out" + RestsOn(restsOn) + ")";
  } else {
    note += "write them: " + count + " lines of DB 0, or DS with a text of " + count +
            " characters (a CP/M image has no gaps, so an ORG does not leave room" + RestsOn(restsOn) + ")";
  }
  return note;
}

struct Foreign {
  std::string_view words;  // blank-separated
  std::string_view note;
};

// Mnemonics and directives of other assemblers that this dialect has no
// counterpart for.
constexpr std::array<Foreign, 5> kNotInDialect = {{
    {"INCLUDE INCBIN", "not part of this dialect: there are no include files; join the sources into one file"},
    {"MACRO ENDM REPT", "not part of this dialect: there are no macros"},
    {"IF IFDEF IFNDEF ELSE ENDIF", "not part of this dialect: there is no conditional assembly"},
    {"DEFL", "not part of this dialect: a symbol is defined once, with EQU"},
    {"SLL SL1 SLI", "an undocumented instruction this assembler does not have"},
}};

bool HasWord(std::string_view words, std::string_view w) {
  while (!words.empty()) {
    const size_t stop = words.find(' ');
    if (words.substr(0, stop) == w) return true;
    if (stop == std::string_view::npos) break;
    words.remove_prefix(stop + 1);
  }
  return false;
}

// SLL r: CB 30+r, the bytes DB can write.
std::string SllBytes(std::string_view operand) {
  static constexpr std::array<std::string_view, 8> kRegs = {"B", "C", "D", "E", "H", "L", "(HL)", "A"};
  for (size_t r = 0; r < kRegs.size(); ++r) {
    if (operand == kRegs[r]) return "; its bytes are CB " + std::to_string(30 + r) + ": write DB &HCB and DB " + HexForm(0x30 + r);
  }
  return {};
}

std::string OpcodeNote(std::string_view opcode, const HabitContext& c) {
  const std::string_view operand = c.fields ? c.fields->Operand1Fld : std::string_view();
  for (const Foreign& f : kNotInDialect) {
    if (!HasWord(f.words, opcode)) continue;
    std::string note = std::string(opcode) + " is " + std::string(f.note);
    if (&f == &kNotInDialect.back()) note += SllBytes(operand);
    return note;
  }
  // Directives spelled as elsewhere.
  if (HasWord("DEFM DM DEFT TEXT ASCII", opcode)) {
    const std::string_view text = AsWritten(operand, c);
    return Quoted(text) ? "DS " + std::string(text) + " emits a text" : "DS emits a quoted text";
  }
  if (opcode == "BYTE") return "write DB";
  if (opcode == "WORD") return "write DW";
  if (opcode.size() > 1 && opcode[0] == '.') {
    const std::string_view bare = opcode.substr(1);
    if (c.isKeyword != nullptr && c.isKeyword(bare)) return "write " + std::string(bare) + ", without the dot";
    const std::string inner = OpcodeNote(bare, c);
    if (!inner.empty()) return "without the dot: " + inner;
    return {};
  }
  // An indented label: "  LOOP: DJNZ LOOP", or "  LOOP DJNZ LOOP".
  const bool colon = opcode.size() > 1 && opcode.back() == ':' && IsLetter(opcode[0]) &&
                     std::all_of(opcode.begin(), opcode.end() - 1, IsNameChar);
  const bool beforeMnemonic = IsLetter(opcode[0]) && std::all_of(opcode.begin(), opcode.end(), IsNameChar) &&
                              c.isKeyword != nullptr && !operand.empty() && c.isKeyword(operand);
  if (colon || beforeMnemonic) {
    return "a label starts in the first column: " + std::string(opcode.substr(0, opcode.size() - colon)) +
           " here is read as a mnemonic";
  }
  return {};
}

// The halves of the index registers, and the undocumented forms of IN and OUT.
std::string OperandNote(std::string_view at, const HabitContext& c) {
  if (at == "IXH" || at == "IXL" || at == "IYH" || at == "IYL") {
    return std::string(at) + ", the " + (at[2] == 'H' ? "high" : "low") + " byte of " + std::string(at.substr(0, 2)) +
           ", is a register of the undocumented instructions, which this assembler does not have";
  }
  if (c.fields == nullptr) return {};
  const StatementFields& f = *c.fields;
  if (f.OpcodeFld == "OUT" && f.Operand1Fld == "(C)" && f.Operand2Fld == "0" && at == f.Operand2Fld) {
    return "OUT (C),0 is an undocumented instruction this assembler does not have; its bytes are ED 71: write DB "
           "&HED and DB &H71";
  }
  if (f.OpcodeFld == "IN" && ((f.Operand1Fld == "F" && f.Operand2Fld == "(C)") ||
                              (f.Operand1Fld == "(C)" && f.Operand2Fld.empty()))) {
    return "IN F,(C) is an undocumented instruction this assembler does not have; its bytes are ED 70: write DB "
           "&HED and DB &H70";
  }
  return {};
}

}  // namespace

// RST 38H, RST &H38, RST 7: the restart is written as its address in decimal.
std::string RestartNote(std::string_view at, const HabitContext& c) {
  if (c.fields == nullptr || c.fields->OpcodeFld != "RST" || at != c.fields->Operand1Fld) return {};
  std::optional<int64_t> v;
  if (auto n = StrictNumber(at)) v = *n;
  else if (auto f = ReadForeignNumber(at)) v = f->value;
  std::string note = "RST takes 0, 8, 16, 24, 32, 40, 48 or 56, written in decimal";
  if (v && *v >= 0 && *v <= 56 && *v % 8 == 0) return note + ": write RST " + std::to_string(*v);
  if (v && *v >= 1 && *v <= 7) return note + "; restart " + std::to_string(*v) + " is RST " + std::to_string(*v * 8);
  return v ? note : std::string();
}

std::string HabitNote(std::string_view errstr, std::string_view at, const HabitContext& context) {
  if (errstr == msg::kUndefinedSymbol || errstr == msg::kInvalidNumber) return ValueNote(at, context);
  if (errstr == msg::kBadQuotes) {
    std::string note = SplitTextNote(at, context);
    return note.empty() ? ReserveNote(context) : note;
  }
  if (errstr == msg::kBadOperand) {
    if (std::string note = RestartNote(at, context); !note.empty()) return note;
  }
  if (errstr == msg::kUndefinedOpcode) return at.empty() ? std::string() : OpcodeNote(at, context);
  if (errstr == msg::kBadSource || errstr == msg::kBadOperand || errstr == msg::kBadDestination) {
    return OperandNote(at, context);
  }
  return {};
}

std::string ByteOrderMarkNote(std::string_view line) {
  if (line.substr(0, kByteOrderMark.size()) != kByteOrderMark) return {};
  std::string note = "the file starts with a UTF-8 byte-order mark (EF BB BF), which is read as part of a label";
  const std::string_view rest = line.substr(kByteOrderMark.size());
  const size_t stop = rest.find_first_of(" :");
  const std::string_view name = rest.substr(0, stop);
  if (!name.empty()) note += ": this line defines the mark followed by " + std::string(name) + ", not " + std::string(name);
  return note + "; save the file without the mark";
}

std::optional<HabitWarning> DbQuoteWarning(std::string_view mnemonic, std::string_view operand,
                                           std::string_view line) {
  if (operand.empty() || operand[0] != '\'') return std::nullopt;
  const std::string m(mnemonic);
  if (operand.size() == 1) {
    // The splitter cut the line at a quoted ',' or ';'.
    if (operand.data() < line.data() || operand.data() >= line.data() + line.size()) return std::nullopt;
    const std::string_view after = line.substr(static_cast<size_t>(operand.data() - line.data()) + 1);
    if (after.size() < 2 || (after[0] != ',' && after[0] != ';') || after[1] != '\'') return std::nullopt;
    const char meant = after[0];
    return HabitWarning{warn::kDbSeparator,
                        std::string("the '") + meant + "' " + (meant == ',' ? "separates the operands" : "starts a comment") +
                            ", so " + m + " ' emits 20H, a blank; for '" + meant + "' write " + m + " " +
                            std::to_string(static_cast<int>(meant))};
  }
  const bool closed = operand.size() >= 3 && operand.back() == '\'';
  if (operand.size() == 2 || (closed && operand.size() == 3)) return std::nullopt;
  std::string text = m + " emits one character, '" + std::string(1, operand[1]) + "' (";
  AppendHex2(text, static_cast<unsigned char>(operand[1]));
  text += "H)";
  if (closed) text += "; DS " + std::string(operand) + " emits them all";
  else text += "; a text goes in DS, which takes no blanks or commas";
  return HabitWarning{warn::kDbText, text};
}

std::optional<HabitWarning> TextCaseWarning(std::string_view mnemonic, std::string_view written) {
  if (written.size() < 2 || (written[0] != '\'' && written[0] != '"')) return std::nullopt;
  const std::string_view inner = written.substr(1, written.back() == written[0] ? written.size() - 2 : written.size() - 1);
  const auto lower = std::find_if(inner.begin(), inner.end(), [](char ch) { return ch >= 'a' && ch <= 'z'; });
  if (lower == inner.end()) return std::nullopt;
  std::string upper(inner);
  for (char& ch : upper) ch = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
  const char first = *lower;
  return HabitWarning{warn::kTextCase, std::string(mnemonic) + " emits " + upper +
                                           ": every line is read in upper case; a lower-case letter is written as its "
                                           "code with DB ('" + std::string(1, first) + "' is DB " +
                                           std::to_string(static_cast<int>(first)) + ")"};
}

std::optional<HabitWarning> DisplacementWarning(std::string_view operand, bool minus, int32_t value) {
  // (IX-128) is the lowest displacement; "-0" to "-128" and "+0" to "+127" mean what they say.
  if (minus ? value <= 128 || value > 255 : value < 128 || value > 255) return std::nullopt;
  const size_t sign = operand.find(minus ? '-' : '+');
  const std::string_view reg = Trim(operand.substr(operand[0] == '(' ? 1 : 0, sign - (operand[0] == '(' ? 1 : 0)));
  const int reaches = minus ? 256 - value : value - 256;
  const std::string target = std::string(reg) + (reaches < 0 ? "-" : "+") + std::to_string(std::abs(reaches));
  return HabitWarning{warn::kDisplacementSign, std::string(operand) + " reaches " + target +
                                                   ": the displacement is a signed byte, -128..+127; write (" +
                                                   target + ")"};
}

}  // namespace orvane
