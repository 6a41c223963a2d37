// The CB-prefixed group: rotates, shifts and bit instructions.
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

namespace {

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

// Rotates and shifts: CB, code + r on a register, and DD/FD CB d, code + 6
// on an indexed operand (the displacement before the operation byte).
void Assembler::EncodeShift(const Keyword& k) {
  if (IsReg8(Op1Type)) {
    Put(0xCB);
    Put(k.code + Op1Type);
    byteCount_ = 2;
  } else if (Op1Type == reg::IXInd || Op1Type == reg::IYInd) {
    PutPrefix(Op1Type);
    Put(0xCB);
    PutDisp(fields_.Operand1Fld);
    Put(k.code + reg::HLInd);
    byteCount_ = 4;
  } else {
    Error(msg::kBadOperand, fields_.Operand1Fld);
  }
}

// Bit operations: CB, code + 8 b + r, and DD/FD CB d, code + 8 b + 6.
void Assembler::EncodeBit(const Keyword& k) {
  const int32_t bit = BitNumber(fields_.Operand1Fld);
  if (bit < 0) {
    Error(msg::kBadBitNumber, fields_.Operand1Fld);
    return;
  }
  if (IsReg8(Op2Type)) {
    Put(0xCB);
    Put(k.code + 8 * bit + Op2Type);
    byteCount_ = 2;
  } else if (Op2Type == reg::IXInd || Op2Type == reg::IYInd) {
    PutPrefix(Op2Type);
    Put(0xCB);
    PutDisp(fields_.Operand2Fld);
    Put(k.code + 8 * bit + reg::HLInd);
    byteCount_ = 4;
  } else {
    Error(msg::kBadRegister, fields_.Operand2Fld);
  }
}

}  // namespace orvane
