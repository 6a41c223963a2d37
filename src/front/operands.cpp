#include "front/operands.h"

#include <cmath>
#include <cstdint>

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

int32_t RegTyp(std::string_view s) {
  int32_t noted = 0;
  if (!s.empty() && s[0] == '(') {
    s = Trim(s.substr(1, s.size() - 1 - (s.size() > 1 ? 1 : 0)));
    noted = reg::Paren;
  }
  // Anything that begins with IX or IY counts as that index register.
  if (s.size() > 2 && s[0] == 'I' && (s[1] == 'X' || s[1] == 'Y')) s = s.substr(0, 2);
  const int k = RegNameIndex(s);
  if (k >= 0) {
    int32_t code = k + noted;
    return code == reg::Paren + reg::HL ? reg::HLInd : code;
  }
  if (s.empty()) return reg::Empty;
  return noted ? reg::Address : reg::Value;
}

std::string_view DropParentheses(std::string_view s) {
  if (s.empty() || s[0] != '(') return s;
  // First and last character dropped; a lone "(" is both.
  if (s.size() == 1) return std::string_view();
  return Trim(s.substr(1, s.size() - 2));
}

int32_t OperandReader::FindLabel(std::string_view LblStr) {
  int slot = symbols_.Find(LblStr);
  if (slot != 0) return symbols_.Slot(slot).address;
  diag_.Error(msg::kUndefinedSymbol);
  return 0;
}

namespace {
// A zero literal: a text that is wholly a number and reads as zero.
bool IsZeroLiteral(std::string_view s) {
  auto v = StrictNumber(s);
  return v && LeadingNumber(s) == 0;
}
}  // namespace

std::string_view OperandReader::SymbolOperand(std::string_view ValStr) {
  std::string_view s = DropParentheses(ValStr);
  if (LeadingNumber(s) != 0 || IsZeroLiteral(s)) return std::string_view();
  return s;
}


int32_t OperandReader::Immed(std::string_view ValStr, bool eightBit) {
  std::string_view s = DropParentheses(ValStr);
  // Digits alone, the usual operand, are their own value, zero included.
  if (auto v = PlainDecimal(s); v && *v <= INT32_MAX) return static_cast<int32_t>(*v);
  const double lead = LeadingNumber(s);
  const bool number = eightBit ? lead > 0 : lead != 0;
  if (number) {
    auto v = StrictNumber(s);
    if (!v) {
      diag_.Error(msg::kInvalidNumber);
      return 0;
    }
    return *v;
  }
  if (lead == 0 && StrictNumber(s)) return 0;  // a zero literal is no symbol name
  return FindLabel(s);
}

std::string OperandReader::CalcRelOffset(std::string_view Destination, int32_t pc) {
  std::string_view text = Destination;
  if (!text.empty() && text[0] == '$') {
    // "$+n" and "$-n" give the displacement itself, independent of PC.
    size_t stop = text.find_first_of("+-");
    const bool plus = stop != std::string_view::npos && text[stop] == '+';
    if (stop == std::string_view::npos) stop = text.size() - 1;
    const size_t blanked = std::min<size_t>(stop + 1, 25);
    std::string rest(blanked, ' ');
    rest.append(text.substr(blanked));
    const bool sign = stop < text.size() && (text[stop] == '+' || text[stop] == '-');
    int32_t disp = 0;
    if (sign) {
      auto n = StrictNumber(rest);
      if (!n) {
        diag_.Error(msg::kInvalidNumber);
        return "00";
      }
      if (plus) {
        if (*n < 0 || *n > 127) diag_.Error(msg::kRelativeRange);
        disp = *n & 127;
      } else {
        if (*n < 0 || *n > 128) diag_.Error(msg::kRelativeRange);
        disp = static_cast<int32_t>((256 - static_cast<int64_t>(*n)) & 255);
      }
    } else {
      // "$" alone, or "$" and text without a sign: the leading number of the
      // blanked text is 0, which gives displacement 0.
      disp = static_cast<int32_t>((256 - WrapLow16(LeadingNumber(rest))) & 255);
    }
    return Hex2(disp);
  }

  int64_t target = 0;
  bool known = true;
  if (LeadingNumber(text) != 0) {
    // A numeric target is an address. (Its low 16 bits may be 0: that is
    // still the address 0, not a symbol name.)
    auto n = StrictNumber(DropParentheses(text));
    known = n.has_value();
    target = Immed16(text);
  } else if (IsZeroLiteral(DropParentheses(text))) {
    target = 0;
  } else {
    int slot = symbols_.Find(text);
    if (slot != 0) {
      target = symbols_.Slot(slot).address;
    } else {
      diag_.Error(msg::kUndefinedSymbol);
      known = false;
    }
  }
  const int64_t distance = target - (static_cast<int64_t>(pc) + 2);
  if (known && (distance < -128 || distance > 127)) diag_.Error(msg::kRelativeRange);
  return Hex2(static_cast<int32_t>(distance & 255));
}

std::string OperandReader::XYDisplacement(std::string_view RegStr) {
  size_t sign = RegStr.find('+');
  bool minus = false;
  if (sign == std::string_view::npos) {
    // "(IX-5)": the two's complement of the value after the "-".
    sign = RegStr.find('-');
    if (sign == std::string_view::npos) return "00";
    minus = true;
  }
  const size_t blanked = std::min<size_t>(sign + 1, 10);
  std::string rest(blanked, ' ');
  rest.append(RegStr.substr(blanked));
  std::string_view v = Trim(rest);
  if (!v.empty()) v.remove_suffix(1);  // the closing parenthesis
  int32_t value = Immed8(v);
  if (minus) value = (256 - value) & 255;
  return Hex2(value);
}

}  // namespace orvane
