// Stack and control transfer: POP, PUSH, DJNZ, JR, RET, JP, CALL, RST.
#include <cmath>
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"
#include "front/numbers.h"

namespace orvane {

namespace {

// POP qq = 11 qq0 001, PUSH qq = 11 qq0 101 (qq: BC 00, DE 01, HL 10, AF 11).
struct StackRow {
  int32_t code;
  std::string_view pop;
  std::string_view push;
};

constexpr StackRow kStack[] = {
    {reg::BC, "C1", "C5"},     {reg::DE, "D1", "D5"},     {reg::HL, "E1", "E5"},
    {reg::IX, "DDE1", "DDE5"}, {reg::IY, "FDE1", "FDE5"}, {reg::AF, "F1", "F5"},
};

// Condition names in the order they are tried. RET cc = 11 ccc 000,
// JP cc = 11 ccc 010, CALL cc = 11 ccc 100; JR takes only the first four,
// JR cc = 001 cc 000. A JR opcode of 0 marks a condition JR lacks.
struct Condition {
  std::string_view name;
  uint8_t jr;
  uint8_t ret;
  uint8_t jp;
  uint8_t call;
};

constexpr Condition kConditions[] = {
    {"NZ", 0x20, 0xC0, 0xC2, 0xC4}, {"Z", 0x28, 0xC8, 0xCA, 0xCC},
    {"NC", 0x30, 0xD0, 0xD2, 0xD4}, {"C", 0x38, 0xD8, 0xDA, 0xDC},
    {"PO", 0x00, 0xE0, 0xE2, 0xE4}, {"PE", 0x00, 0xE8, 0xEA, 0xEC},
    {"P", 0x00, 0xF0, 0xF2, 0xF4},  {"M", 0x00, 0xF8, 0xFA, 0xFC},
};

// The unconditional forms.
constexpr std::string_view kJr = "18";
constexpr std::string_view kRet = "C9";
constexpr std::string_view kJp = "C3";
constexpr std::string_view kCall = "CD";
constexpr std::string_view kDjnz = "10";

const Condition* FindCondition(std::string_view text) {
  for (const Condition& c : kConditions) {
    if (c.name == text) return &c;
  }
  return nullptr;
}

// RST p = 11 ppp 111, with the restart address p*8 written in decimal.
struct Restart {
  std::string_view text;
  std::string_view code;
};

constexpr Restart kRestarts[] = {
    {"0", "C7"},  {"8", "CF"},  {"16", "D7"}, {"24", "DF"},
    {"32", "E7"}, {"40", "EF"}, {"48", "F7"}, {"56", "FF"},
};

}  // namespace

void Assembler::EncodePopPush() {
  ByteCount = 1;
  const bool pop = Fields.OpcodeFld == "POP";
  for (const StackRow& row : kStack) {
    if (row.code == Op1Type) {
      const std::string_view code = pop ? row.pop : row.push;
      Emit(code, static_cast<int32_t>(code.size() / 2));
      return;
    }
  }
  Error(msg::kBadSource);
}

void Assembler::EncodeDjnz() {
  ByteCount = 2;
  ObjCode.append(kDjnz);
  ObjCode.append(Values.CalcRelOffset(Fields.Operand1Fld, PC));
}

void Assembler::EncodeJr() {
  ByteCount = 2;
  const Condition* cc = FindCondition(Fields.Operand1Fld);
  if (cc != nullptr && cc->jr != 0) {
    AppendHex2Value(cc->jr);
    ObjCode.append(Values.CalcRelOffset(Fields.Operand2Fld, PC));
  } else if (Op2Type == reg::Empty) {
    ObjCode.append(kJr);
    ObjCode.append(Values.CalcRelOffset(Fields.Operand1Fld, PC));
  } else {
    Error(msg::kInvalidConditional);
  }
}

// RET has no operand in its unconditional form, so anything but a condition
// there is refused.
void Assembler::EncodeRet() {
  ByteCount = 1;
  if (const Condition* cc = FindCondition(Fields.Operand1Fld)) {
    AppendHex2Value(cc->ret);
  } else if (Fields.Operand1Fld.empty() && Fields.Operand2Fld.empty()) {
    ObjCode.append(kRet);
  } else {
    Error(msg::kBadConditional);
  }
}

// The address a JP operand stands for. "$" followed by a number is PC plus that
// number, the sum rounded to the nearest whole number (halves to the even
// neighbour) and cut to 16 bits; anything else is a value. The whole part of
// the number is cut to 16 bits before it is added, which keeps the parity the
// rounding needs, so no size of number loses the fraction against PC.
int32_t Assembler::JpTarget(std::string_view text) {
  if (!text.empty() && text[0] == '$') {
    double offset = LeadingNumber(text.substr(1));
    if (!std::isfinite(offset)) offset = 0;
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

void Assembler::EncodeJp() {
  if (!Fields.Operand2Fld.empty()) {
    // The target is worked out before the condition is looked at, so its
    // messages come first.
    const int32_t target = JpTarget(Fields.Operand2Fld);
    ByteCount = 3;
    const Condition* cc = FindCondition(Fields.Operand1Fld);
    if (cc == nullptr) {
      Error(msg::kBadConditionalJp);
      return;
    }
    AppendHex2Value(cc->jp);
    AppendOpcodeHex4(ObjCode, static_cast<uint32_t>(target));
    return;
  }

  switch (Op1Type) {
    case reg::Value: {
      const int32_t target = JpTarget(Fields.Operand1Fld);
      ObjCode.append(kJp);
      AppendOpcodeHex4(ObjCode, static_cast<uint32_t>(target));
      ByteCount = 3;
      return;
    }
    case reg::HLInd:
      Emit("E9", 1);  // JP (HL)
      return;
    case reg::IXInd:
    case reg::IYInd: {
      // JP (IX) = DD E9, JP (IY) = FD E9. The jump takes no displacement, so
      // only a zero one is accepted.
      ByteCount = 2;
      if (Values.XYDisplacement(Fields.Operand1Fld) != "00") {
        Error(msg::kBadOperand);
        return;
      }
      ObjCode.append(Op1Type == reg::IXInd ? "DDE9" : "FDE9");
      return;
    }
    default:
      Error(msg::kBadOperand);
      return;
  }
}

// CALL takes any single operand as an address, register names included; a
// bad condition still counts the three bytes.
void Assembler::EncodeCall() {
  if (const Condition* cc = FindCondition(Fields.Operand1Fld)) {
    AppendHex2Value(cc->call);
    AppendWord(Fields.Operand2Fld);
    ByteCount = 3;
  } else if (Fields.Operand2Fld.empty()) {
    ObjCode.append(kCall);
    AppendWord(Fields.Operand1Fld);
    ByteCount = 3;
  } else {
    Error(msg::kBadConditional);
    ByteCount = 3;
  }
}

// The operand is compared as text: only the eight decimal restart addresses.
void Assembler::EncodeRst() {
  ByteCount = 1;
  for (const Restart& r : kRestarts) {
    if (r.text == Fields.Operand1Fld) {
      ObjCode.append(r.code);
      return;
    }
  }
  Error(msg::kBadOperand);
}

}  // namespace orvane
