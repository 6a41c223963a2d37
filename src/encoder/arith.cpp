// INC, DEC and the arithmetic-logic group.
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

namespace {

struct IncDecRow {
  int32_t code;  // operand register code
  std::string_view inc;
  std::string_view dec;
  bool indexed;  // a displacement byte follows
};

// INC r = 00 rrr 100, DEC r = 00 rrr 101; INC rr = 00 rr0 011, DEC rr = 00 rr1 011.
constexpr IncDecRow kIncDec[] = {
    {reg::B, "04", "05", false},       {reg::C, "0C", "0D", false},
    {reg::D, "14", "15", false},       {reg::E, "1C", "1D", false},
    {reg::H, "24", "25", false},       {reg::L, "2C", "2D", false},
    {reg::HLInd, "34", "35", false},   {reg::A, "3C", "3D", false},
    {reg::BC, "03", "0B", false},      {reg::DE, "13", "1B", false},
    {reg::HL, "23", "2B", false},      {reg::SP, "33", "3B", false},
    {reg::IX, "DD23", "DD2B", false},  {reg::IY, "FD23", "FD2B", false},
    {reg::IXInd, "DD34", "DD35", true}, {reg::IYInd, "FD34", "FD35", true},
};

}  // namespace

// One row of the arithmetic-logic table.
struct Assembler::AluRow {
  std::string_view mnemonic;
  bool namesAccumulator;       // ADD A,s (source second) rather than SUB s
  int32_t registerBase;        // ALU r = 10 ooo rrr
  std::string_view immediate;  // ALU n = 11 ooo 110, n
  std::string_view ix;         // DD 10 ooo 110, d
  std::string_view iy;         // FD 10 ooo 110, d
};

namespace {

// Index of a 16-bit source in the rr field (BC 00, DE 01, HL 10, SP 11), or -1.
// `self` is the destination, which takes the HL slot (HL, IX or IY).
int32_t PairField(int32_t code, int32_t self) {
  switch (code) {
    case reg::BC: return 0;
    case reg::DE: return 1;
    case reg::SP: return 3;
    default: return code == self ? 2 : -1;
  }
}

}  // namespace

// INC counts its byte before the operand is checked; DEC does not, and the two
// name a wrong operand differently.
void Assembler::EncodeIncDec() {
  const bool inc = Fields.OpcodeFld == "INC";
  if (inc) ByteCount = 1;
  for (const IncDecRow& row : kIncDec) {
    if (row.code != Op1Type) continue;
    const std::string_view code = inc ? row.inc : row.dec;
    ObjCode.append(code);
    if (row.indexed) AppendDisp(Fields.Operand1Fld);
    ByteCount = static_cast<int32_t>(ObjCode.size() / 2);
    return;
  }
  Error(inc ? msg::kBadSource : msg::kBadDestination);
}

// The 8-bit source shared by all eight mnemonics.
void Assembler::EncodeAluSource(const AluRow& row, int32_t code, std::string_view text) {
  if (code >= reg::B && code <= reg::A) {
    AppendHex2Value(row.registerBase + code);
    ByteCount = 1;
  } else if (code == reg::Value) {
    ObjCode.append(row.immediate);
    AppendByte(text);
    ByteCount = 2;
  } else if (code == reg::IXInd || code == reg::IYInd) {
    ObjCode.append(code == reg::IXInd ? row.ix : row.iy);
    AppendDisp(text);
    ByteCount = 3;
  } else {
    Error(msg::kBadSource);
  }
}

void Assembler::EncodeArith() {
  static constexpr AluRow kAlu[] = {
      {"ADD", true, 0x80, "C6", "DD86", "FD86"},
      {"ADC", true, 0x88, "CE", "DD8E", "FD8E"},
      {"SUB", false, 0x90, "D6", "DD96", "FD96"},
      {"SBC", true, 0x98, "DE", "DD9E", "FD9E"},
      {"AND", false, 0xA0, "E6", "DDA6", "FDA6"},
      {"XOR", false, 0xA8, "EE", "DDAE", "FDAE"},
      {"OR", false, 0xB0, "F6", "DDB6", "FDB6"},
      {"CP", false, 0xB8, "FE", "DDBE", "FDBE"},
  };
  const AluRow* row = nullptr;
  for (const AluRow& r : kAlu) {
    if (r.mnemonic == Fields.OpcodeFld) row = &r;
  }
  if (row == nullptr) return;  // the dispatch sends only the eight mnemonics

  if (!row->namesAccumulator) {
    // The encoding goes on after the message.
    if (!Fields.Operand2Fld.empty()) Error(msg::kExtraOperand);
    EncodeAluSource(*row, Op1Type, Fields.Operand1Fld);
    return;
  }
  if (Op1Type == reg::A) {
    EncodeAluSource(*row, Op2Type, Fields.Operand2Fld);
    return;
  }

  if (row->mnemonic == "ADD") {
    // ADD HL,rr = 00 rr1 001; IX and IY prefix it and stand in the HL slot.
    if (Op1Type != reg::HL && Op1Type != reg::IX && Op1Type != reg::IY) {
      Error(msg::kBadDestination);
      return;
    }
    const int32_t field = PairField(Op2Type, Op1Type);
    if (field < 0) {
      Error(msg::kBadSource);
      return;
    }
    if (Op1Type != reg::HL) ObjCode.append(Op1Type == reg::IX ? "DD" : "FD");
    AppendHex2Value(0x09 + 16 * field);
    ByteCount = static_cast<int32_t>(ObjCode.size() / 2);
    return;
  }

  // ADC HL,rr = ED 01 rr1 010; SBC HL,rr = ED 01 rr0 010. No indexed form.
  if (Op1Type != reg::HL) {
    Error(msg::kBadDestination);
    return;
  }
  ByteCount = 2;
  const int32_t field = PairField(Op2Type, reg::HL);
  if (field < 0) {
    Error(msg::kBadSource);
    return;
  }
  ObjCode.append("ED");
  AppendHex2Value((row->mnemonic == "ADC" ? 0x4A : 0x42) + 16 * field);
}

}  // namespace orvane
