// Stack and control transfer: POP, PUSH, DJNZ, JR, RET, JP, CALL, RST.
#include <cmath>
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"
#include "front/numbers.h"

namespace orvane {

namespace {

// Condition names in the order of the ccc field: RET cc = 11 ccc 000,
// JP cc = 11 ccc 010, CALL cc = 11 ccc 100 (the keyword's code2 plus 8 ccc);
// JR takes only the first four, JR cc = 001 cc 000.
constexpr std::string_view kConditions[] = {"NZ", "Z", "NC", "C", "PO", "PE", "P", "M"};
constexpr int32_t kJrConditions = 4;

// The ccc field of a condition name, or -1.
int32_t Condition(std::string_view text) {
  for (int32_t c = 0; c < 8; ++c) {
    if (kConditions[c] == text) return c;
  }
  return -1;
}

// RST p = 11 ppp 111 (the keyword's code plus 8 ppp), with the restart
// address p*8 written in decimal and compared as text.
constexpr std::string_view kRestarts[] = {"0", "8", "16", "24", "32", "40", "48", "56"};

}  // namespace

// POP qq = 11 qq0 001, PUSH qq = 11 qq0 101 (the keyword's code plus 16 qq;
// qq: BC 00, DE 01, HL 10, AF 11); IX and IY as DD/FD and qq = HL.
void Assembler::EncodePopPush(const Keyword& k) {
  byteCount_ = 1;
  int32_t qq;
  switch (Op1Type) {
    case reg::BC: qq = 0; break;
    case reg::DE: qq = 1; break;
    case reg::HL: qq = 2; break;
    case reg::AF: qq = 3; break;
    case reg::IX:
    case reg::IY:
      PutPrefix(Op1Type);
      qq = 2;
      break;
    default: Error(msg::kBadSource, SourceOperand()); return;
  }
  Put(k.code + 16 * qq);
  byteCount_ = Built();
}

void Assembler::EncodeDjnz(const Keyword& k) {
  byteCount_ = 2;
  Put(k.code);
  Put(Values.CalcRelOffset(fields_.Operand1Fld, PC, k.text));
}

void Assembler::EncodeJr(const Keyword& k) {
  byteCount_ = 2;
  const int32_t cc = Condition(fields_.Operand1Fld);
  if (cc >= 0 && cc < kJrConditions) {
    Put(k.code2 + 8 * cc);
    Put(Values.CalcRelOffset(fields_.Operand2Fld, PC, k.text));
  } else if (Op2Type == reg::Empty) {
    Put(k.code);
    Put(Values.CalcRelOffset(fields_.Operand1Fld, PC, k.text));
  } else {
    Error(msg::kInvalidConditional, fields_.Operand1Fld);
  }
}

// RET has no operand in its unconditional form, so anything but a condition
// there is refused.
void Assembler::EncodeRet(const Keyword& k) {
  byteCount_ = 1;
  if (const int32_t cc = Condition(fields_.Operand1Fld); cc >= 0) {
    Put(k.code2 + 8 * cc);
  } else if (fields_.Operand1Fld.empty() && fields_.Operand2Fld.empty()) {
    Put(k.code);
  } else {
    Error(msg::kBadConditional, fields_.Operand1Fld);
  }
}

// The address a JP operand stands for. "$" followed by a number is PC plus that
// number, the sum rounded to the nearest whole number (halves to the even
// neighbour) and cut to 16 bits; anything else is a value. The whole part of
// the number is cut to 16 bits before it is added, which keeps the parity the
// rounding needs, so no size of number loses the fraction against PC.
int32_t Assembler::JpTarget(std::string_view text) {
  if (!text.empty() && text[0] == '$') {
    const double offset = LeadingNumber(text.substr(1));  // always finite
    const double whole = std::trunc(offset);
    const double fraction = offset - whole;  // exact
    int64_t sum = static_cast<int64_t>(PC) + WrapLow16(whole);
    const bool odd = (sum & 1) != 0;
    if (fraction > 0.5 || (fraction == 0.5 && odd)) ++sum;
    if (fraction < -0.5 || (fraction == -0.5 && odd)) --sum;
    return static_cast<int32_t>(sum & 0xFFFF);
  }
  return Values.Immed16(text);
}

void Assembler::EncodeJp(const Keyword& k) {
  if (!fields_.Operand2Fld.empty()) {
    // The target is worked out before the condition is looked at, so its
    // messages come first.
    const int32_t target = JpTarget(fields_.Operand2Fld);
    byteCount_ = 3;
    const int32_t cc = Condition(fields_.Operand1Fld);
    if (cc < 0) {
      Error(msg::kBadConditionalJp, fields_.Operand1Fld);
      return;
    }
    Put(k.code2 + 8 * cc);
    PutWord(target);
    return;
  }

  switch (Op1Type) {
    case reg::Value: {
      const int32_t target = JpTarget(fields_.Operand1Fld);
      Put(k.code);
      PutWord(target);
      byteCount_ = 3;
      return;
    }
    case reg::HLInd:
      Emit({0xE9}, 1);  // JP (HL)
      return;
    case reg::IXInd:
    case reg::IYInd: {
      // JP (IX) = DD E9, JP (IY) = FD E9. The jump takes no displacement, so
      // only a zero one is accepted.
      byteCount_ = 2;
      if (Values.XYDisplacement(fields_.Operand1Fld) != 0) {
        Error(msg::kBadOperand, fields_.Operand1Fld);
        return;
      }
      PutPrefix(Op1Type);
      Put(0xE9);
      return;
    }
    default:
      Error(msg::kBadOperand, fields_.Operand1Fld);
      return;
  }
}

// CALL takes any single operand as an address, register names included; a
// bad condition still counts the three bytes.
void Assembler::EncodeCall(const Keyword& k) {
  byteCount_ = 3;
  if (const int32_t cc = Condition(fields_.Operand1Fld); cc >= 0) {
    Put(k.code2 + 8 * cc);
    PutWordOf(fields_.Operand2Fld);
  } else if (fields_.Operand2Fld.empty()) {
    Put(k.code);
    PutWordOf(fields_.Operand1Fld);
  } else {
    Error(msg::kBadConditional, fields_.Operand1Fld);
  }
}

// The operand is compared as text: only the eight decimal restart addresses.
void Assembler::EncodeRst(const Keyword& k) {
  byteCount_ = 1;
  for (int32_t p = 0; p < 8; ++p) {
    if (kRestarts[p] == fields_.Operand1Fld) {
      Put(k.code + 8 * p);
      return;
    }
  }
  Error(msg::kBadOperand, fields_.Operand1Fld);
}

}  // namespace orvane
