// INC, DEC and the arithmetic-logic group.
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

namespace {

// Index of a 16-bit register in the rr field (BC 00, DE 01, HL 10, SP 11), or
// -1. `self` is the destination, which takes the HL slot (HL, IX or IY).
int32_t PairField(int32_t code, int32_t self) {
  switch (code) {
    case reg::BC: return 0;
    case reg::DE: return 1;
    case reg::SP: return 3;
    default: return code == self ? 2 : -1;
  }
}

}  // namespace

// INC r = 00 rrr 100 and DEC r = 00 rrr 101 (the keyword's code; bit 0 tells
// them apart), (IX+d) as DD and r = (HL); INC rr = 00 rr0 011 and
// DEC rr = 00 rr1 011 (code2), IX and IY as DD/FD and rr = HL. INC counts its
// byte before the operand is checked; DEC does not, and the two name a wrong
// operand differently.
void Assembler::EncodeIncDec(const Keyword& k) {
  const bool dec = k.code & 1;
  if (!dec) byteCount_ = 1;
  const int32_t r = Op1Type;
  if (IsReg8(r)) {
    Put(k.code + 8 * r);
  } else if (r >= reg::BC && r <= reg::SP) {
    Put(k.code2 + 16 * (r - reg::BC));
  } else if (r == reg::IX || r == reg::IY) {
    PutPrefix(r);
    Put(k.code2 + 16 * 2);
  } else if (r == reg::IXInd || r == reg::IYInd) {
    PutPrefix(r);
    Put(k.code + 8 * reg::HLInd);
    PutDisp(fields_.Operand1Fld);
  } else {
    Error(dec ? msg::kBadDestination : msg::kBadSource, dec ? fields_.Operand1Fld : SourceOperand());
    return;
  }
  byteCount_ = Built();
}

// The 8-bit source shared by all eight mnemonics: ALU r = base + r,
// ALU n = base + 46H and n, ALU (IX+d) = DD, base + 6, d.
void Assembler::EncodeAluSource(int32_t base, int32_t code, std::string_view text) {
  if (IsReg8(code)) {
    Put(base + code);
    byteCount_ = 1;
  } else if (code == reg::Value) {
    Put(base + 0x46);
    PutByte(text);
    byteCount_ = 2;
  } else if (code == reg::IXInd || code == reg::IYInd) {
    PutPrefix(code);
    Put(base + reg::HLInd);
    PutDisp(text);
    byteCount_ = 3;
  } else {
    Error(msg::kBadSource, SourceOperand());
  }
}

// The keyword's code is the register form's base. SUB, AND, XOR, OR and CP
// take the source alone (one operand); ADD, ADC and SBC name the accumulator
// first, or HL (code2: ADD HL,rr = 00 rr1 001, with IX and IY too;
// ADC HL,rr = ED 01 rr1 010 and SBC HL,rr = ED 01 rr0 010, HL only).
void Assembler::EncodeArith(const Keyword& k) {
  if (k.operands == 1) {
    // The encoding goes on after the message.
    if (!fields_.Operand2Fld.empty()) Error(msg::kExtraOperand, fields_.Operand2Fld);
    EncodeAluSource(k.code, Op1Type, fields_.Operand1Fld);
    return;
  }
  if (Op1Type == reg::A) {
    EncodeAluSource(k.code, Op2Type, fields_.Operand2Fld);
    return;
  }

  if (k.code2 <= 0xFF) {
    if (Op1Type != reg::HL && Op1Type != reg::IX && Op1Type != reg::IY) {
      Error(msg::kBadDestination, fields_.Operand1Fld);
      return;
    }
    const int32_t field = PairField(Op2Type, Op1Type);
    if (field < 0) {
      Error(msg::kBadSource, SourceOperand());
      return;
    }
    if (Op1Type != reg::HL) PutPrefix(Op1Type);
    Put(k.code2 + 16 * field);
    byteCount_ = Built();
    return;
  }

  // ADC and SBC count their two bytes before they look at the source.
  if (Op1Type != reg::HL) {
    Error(msg::kBadDestination, fields_.Operand1Fld);
    return;
  }
  byteCount_ = 2;
  const int32_t field = PairField(Op2Type, reg::HL);
  if (field < 0) {
    Error(msg::kBadSource, SourceOperand());
    return;
  }
  Put(k.code2 >> 8);
  Put((k.code2 & 0xFF) + 16 * field);
}

}  // namespace orvane
