#include "front/operands.h"

#include <cmath>
#include <cstdint>

#include "front/habits.h"
#include "front/numbers.h"
#include "front/short_text.h"
#include "front/text.h"

namespace orvane {

const std::array<std::string_view, 18> RegNames = {
    "B", "C", "D", "E", "H", "L", "(HL)", "A", "I", "R", "BC", "DE", "HL", "SP", "IX", "IY", "AF", "AF'"};

namespace {

// RegNames by text: every operand of every statement is looked up here.
int RegNameIndex(std::string_view s) {
  static const ShortTextMap<int8_t, 64> table = [] {
    ShortTextMap<int8_t, 64> t;
    for (size_t k = 0; k < RegNames.size(); ++k) t.Insert(RegNames[k], static_cast<int8_t>(k));
    return t;
  }();
  const int8_t* k = table.Find(s);
  return k ? *k : -1;
}

}  // namespace

int32_t detail::RegTypOfLonger(std::string_view s) {
  int32_t noted = 0;
  if (!s.empty() && s[0] == '(') {
    s = Trim(s.substr(1, s.size() - 1 - (s.size() > 1 ? 1 : 0)));
    noted = reg::Paren;
  }
  // Anything that begins with IX or IY counts as that index register.
  if (s.size() > 2 && s[0] == 'I' && (s[1] == 'X' || s[1] == 'Y')) s = s.substr(0, 2);
  // No register name is longer than four or begins with a digit: most
  // operands are numbers and names, and skip the lookup.
  const int k = s.size() > 4 || (!s.empty() && s[0] >= '0' && s[0] <= '9') ? -1 : RegNameIndex(s);
  if (k >= 0) {
    int32_t code = k + noted;
    return code == reg::Paren + reg::HL ? reg::HLInd : code;
  }
  if (s.empty()) return reg::Empty;
  return noted ? reg::Address : reg::Value;
}

std::string_view DropParenthesesOf(std::string_view s) {
  // First and last character dropped; a lone "(" is both.
  if (s.size() == 1) return std::string_view();
  return Trim(s.substr(1, s.size() - 2));
}

OperandKind ClassifyOther(std::string_view s, Width width) {
  const double lead = LeadingNumber(s);
  // 8-bit fields take a number only above 0: negative 8-bit literals are
  // symbol names.
  if (width == Width::k8 ? lead > 0 : lead != 0) {
    auto v = StrictNumber(s);
    return v ? OperandKind{OperandKind::kNumber, *v} : OperandKind{OperandKind::kInvalid};
  }
  if (lead == 0 && StrictNumber(s)) return {OperandKind::kZero};
  return {OperandKind::kSymbol};
}

// The one place where a symbol's value is asked for, so the reporter sees
// every reference.
int OperandReader::LookUp(std::string_view name) {
  const int slot = symbols_.Find(name);
  report_.Referenced(name, slot);
  return slot;
}

int32_t OperandReader::Immed(std::string_view ValStr, Width width) {
  const std::string_view s = DropParentheses(ValStr);
  const OperandKind k = Classify(s, width);
  switch (k.kind) {
    case OperandKind::kNumber: return k.number;
    case OperandKind::kZero: return 0;
    case OperandKind::kInvalid: report_.Error(msg::kInvalidNumber, s, {}); return 0;
    case OperandKind::kSymbol: break;
  }
  if (const int slot = LookUp(s); slot != 0) return symbols_.Slot(slot).address;
  Undefined(s, width);
  return 0;
}

void OperandReader::Undefined(std::string_view name, Width width) {
  // A negative number in an 8-bit field is a symbol name, which is seldom
  // what was meant.
  std::string note;
  if (width == Width::k8) {
    if (auto v = StrictNumber(name)) {
      note.append("'").append(name).append("' is read as a symbol name here; write ").append(std::to_string(*v & 255));
    }
  }
  report_.Error(msg::kUndefinedSymbol, name, std::move(note));
}

void OperandReader::Truncated(std::string_view ValStr, int32_t value, Width width) {
  const bool byte = width == Width::k8;
  const int32_t kept = value & (byte ? 0xFF : 0xFFFF);
  const std::string_view s = DropParentheses(ValStr);
  std::string text(s);
  if (Classify(s, width).kind == OperandKind::kSymbol) text += " is " + std::to_string(value) + ", which";
  text += " does not fit in a " + std::string(byte ? "byte" : "word") + "; " + std::to_string(kept) + " (";
  if (byte) AppendHex2(text, static_cast<uint32_t>(kept)); else AppendHex4(text, static_cast<uint32_t>(kept));
  report_.Warn(warn::kTruncation, text + "H) assembled", s);
}

int32_t OperandReader::CalcRelOffset(std::string_view Destination, int32_t pc, std::string_view jump) {
  const std::string_view text = Destination;
  if (!text.empty() && text[0] == '$') {
    // "$+n" and "$-n" give the displacement itself, independent of PC. The
    // characters up to the sign are blanked (at most 25 of them), and blanks
    // count for nothing in what is read after them.
    size_t stop = text.find_first_of("+-");
    if (stop == std::string_view::npos) stop = text.size() - 1;
    const std::string_view rest = text.substr(std::min<size_t>(stop + 1, 25));
    if (text[stop] != '+' && text[stop] != '-') {
      // "$" alone, or "$" and text without a sign: the leading number of the
      // blanked text is 0, which gives displacement 0.
      return (256 - WrapLow16(LeadingNumber(rest))) & 255;
    }
    auto n = StrictNumber(rest);
    if (!n) {
      report_.Error(msg::kInvalidNumber, text, {});
      return 0;
    }
    const bool plus = text[stop] == '+';
    if (*n < 0 || *n > (plus ? 127 : 128)) {
      report_.Error(msg::kRelativeRange, text,
                    "a displacement of " + std::string(plus ? "+" : "-") + std::to_string(*n) + " is outside -128..+127");
    }
    return plus ? *n & 127 : static_cast<int32_t>((256 - static_cast<int64_t>(*n)) & 255);
  }

  // A target is an address, read like a 16-bit value, except that a text in
  // parentheses is a symbol name, parentheses included: "(0)" is no more a
  // number than "(5)" is.
  const OperandKind target =
      !text.empty() && text[0] == '(' ? OperandKind{OperandKind::kSymbol} : Classify(text, Width::k16);
  int64_t address = 0;
  bool known = true;
  switch (target.kind) {
    case OperandKind::kNumber: address = target.number & 0xFFFF; break;
    case OperandKind::kZero: break;
    case OperandKind::kInvalid:
      report_.Error(msg::kInvalidNumber, text, {});
      known = false;
      break;
    case OperandKind::kSymbol: {
      const int slot = LookUp(text);
      known = slot != 0;
      if (known) {
        address = symbols_.Slot(slot).address;
      } else {
        report_.Error(msg::kUndefinedSymbol, text, {});
      }
      break;
    }
  }
  const int64_t distance = address - (static_cast<int64_t>(pc) + 2);
  if (known && (distance < -128 || distance > 127)) {
    // The processor counts from the next instruction, two bytes on.
    std::string note = "target ";
    AppendHex4(note, static_cast<uint32_t>(address));
    note += "H is " + std::to_string(address - pc) + " bytes away; " + std::string(jump) +
            " reaches -126..+129 from its own address";
    report_.Error(msg::kRelativeRange, text, std::move(note));
  }
  return static_cast<int32_t>(distance & 255);
}

int32_t OperandReader::XYDisplacement(std::string_view RegStr) {
  size_t sign = RegStr.find('+');
  bool minus = false;
  if (sign == std::string_view::npos) {
    // "(IX-5)": the two's complement of the value after the "-".
    sign = RegStr.find('-');
    if (sign == std::string_view::npos) return 0;
    minus = true;
  }
  // The characters up to the sign are blanked, at most 10 of them; what is
  // left is trimmed and loses its last character, the closing parenthesis.
  std::string_view v = Trim(RegStr.substr(std::min<size_t>(sign + 1, 10)));
  if (!v.empty()) v.remove_suffix(1);
  const int32_t value = Immed8(v);
  if (auto w = DisplacementWarning(RegStr, minus, value)) report_.Warn(w->name, std::move(w->text), RegStr);
  return minus ? (256 - value) & 255 : value;
}

}  // namespace orvane
