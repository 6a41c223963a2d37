// The CB-prefixed group: rotates, shifts and bit instructions.
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

namespace {

bool IsReg8(int32_t code) { return code >= reg::B && code <= reg::A; }

// Rotates and shifts: CB 00 ooo rrr on a register, and DD/FD CB d 00 ooo 110
// on an indexed operand (the displacement before the operation byte).
struct ShiftRow {
  std::string_view mnemonic;
  int32_t registerBase;
  int32_t indexedByte;
};

constexpr ShiftRow kShifts[] = {
    {"RLC", 0x00, 0x06}, {"RRC", 0x08, 0x0E}, {"RL", 0x10, 0x16},  {"RR", 0x18, 0x1E},
    {"SLA", 0x20, 0x26}, {"SRA", 0x28, 0x2E}, {"SRL", 0x38, 0x3E},
};

// Bit instructions: CB oo bbb rrr, and DD/FD CB d oo bbb 110.
struct BitRow {
  std::string_view mnemonic;
  int32_t base;
};

constexpr BitRow kBitOps[] = {{"BIT", 0x40}, {"RES", 0x80}, {"SET", 0xC0}};

// The bit number: the text must sort between "0" and "7" and be wholly decimal
// digits with a value of 0 to 7 ("07" is 7). Returns -1 otherwise.
int32_t BitNumber(std::string_view text) {
  if (text < "0" || text > "7") return -1;
  int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
    if (value > 7) return -1;
  }
  return value;
}

}  // namespace

void Assembler::EncodeShift() {
  const ShiftRow* row = nullptr;
  for (const ShiftRow& r : kShifts) {
    if (r.mnemonic == Fields.OpcodeFld) row = &r;
  }
  if (row == nullptr) return;  // the dispatch sends only the seven mnemonics

  if (IsReg8(Op1Type)) {
    ObjCode.append("CB");
    AppendHex2Value(row->registerBase + Op1Type);
    ByteCount = 2;
  } else if (Op1Type == reg::IXInd || Op1Type == reg::IYInd) {
    ObjCode.append(Op1Type == reg::IXInd ? "DDCB" : "FDCB");
    AppendDisp(Fields.Operand1Fld);
    AppendHex2Value(row->indexedByte);
    ByteCount = 4;
  } else {
    Error(msg::kBadOperand);
  }
}

void Assembler::EncodeBit() {
  const BitRow* row = nullptr;
  for (const BitRow& r : kBitOps) {
    if (r.mnemonic == Fields.OpcodeFld) row = &r;
  }
  if (row == nullptr) return;  // the dispatch sends only BIT, RES and SET

  const int32_t bit = BitNumber(Fields.Operand1Fld);
  if (bit < 0) {
    Error(msg::kBadBitNumber);
    return;
  }
  if (IsReg8(Op2Type)) {
    ObjCode.append("CB");
    AppendHex2Value(row->base + 8 * bit + Op2Type);
    ByteCount = 2;
  } else if (Op2Type == reg::IXInd || Op2Type == reg::IYInd) {
    ObjCode.append(Op2Type == reg::IXInd ? "DDCB" : "FDCB");
    AppendDisp(Fields.Operand2Fld);
    AppendHex2Value(row->base + 8 * bit + reg::HLInd);
    ByteCount = 4;
  } else {
    Error(msg::kBadRegister);
  }
}

}  // namespace orvane
