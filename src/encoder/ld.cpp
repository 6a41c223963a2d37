// LD. The form is chosen by the destination's register code first, then by the
// source's; memory to memory is refused.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

namespace {

// What follows a form's opcode bytes.
enum class Tail : uint8_t { kNone, kByte, kWord, kDisp };

// One operand form of a table: the other operand's register code, the opcode
// bytes and what follows them.
struct LdForm {
  int32_t code;
  Opcode opcode;
  Tail tail;
};

template <size_t N>
const LdForm* FindForm(const LdForm (&table)[N], int32_t code) {
  for (const LdForm& f : table) {
    if (f.code == code) return &f;
  }
  return nullptr;
}

// LD A,<source> other than the registers B..A.
constexpr LdForm kLdASources[] = {
    {reg::Value, {0x3E}, Tail::kByte},        // LD A,n
    {reg::Address, {0x3A}, Tail::kWord},      // LD A,(nn)
    {reg::I, {0xED, 0x57}, Tail::kNone},      // LD A,I
    {reg::R, {0xED, 0x5F}, Tail::kNone},      // LD A,R
    {reg::BCInd, {0x0A}, Tail::kNone},        // LD A,(BC)
    {reg::DEInd, {0x1A}, Tail::kNone},        // LD A,(DE)
    {reg::IXInd, {0xDD, 0x7E}, Tail::kDisp},  // LD A,(IX+d)
    {reg::IYInd, {0xFD, 0x7E}, Tail::kDisp},  // LD A,(IY+d)
};

// LD rr,(nn) by destination; IX and IY have their prefix already and use HL's.
constexpr LdForm kLdPairFromAddress[] = {
    {reg::BC, {0xED, 0x4B}, Tail::kWord},
    {reg::DE, {0xED, 0x5B}, Tail::kWord},
    {reg::HL, {0x2A}, Tail::kWord},
    {reg::SP, {0xED, 0x7B}, Tail::kWord},
};

// LD SP,<source>.
constexpr LdForm kLdSpSources[] = {
    {reg::HL, {0xF9}, Tail::kNone},
    {reg::IX, {0xDD, 0xF9}, Tail::kNone},
    {reg::IY, {0xFD, 0xF9}, Tail::kNone},
};

// LD (nn),<source>; the word is the destination's address.
constexpr LdForm kLdToAddress[] = {
    {reg::A, {0x32}, Tail::kWord},        {reg::BC, {0xED, 0x43}, Tail::kWord},
    {reg::DE, {0xED, 0x53}, Tail::kWord}, {reg::HL, {0x22}, Tail::kWord},
    {reg::SP, {0xED, 0x73}, Tail::kWord}, {reg::IX, {0xDD, 0x22}, Tail::kWord},
    {reg::IY, {0xFD, 0x22}, Tail::kWord},
};

}  // namespace

void Assembler::EncodeLd(const Keyword&) {
  const int32_t dst = Op1Type;
  const int32_t src = Op2Type;
  if (dst == reg::A) {
    EncodeLdA();
  } else if (IsReg8(dst)) {
    EncodeLdRegister();
  } else if (dst == reg::I || dst == reg::R) {
    // LD I,A = ED 47; LD R,A = ED 4F
    if (src != reg::A) {
      Error(msg::kBadSource, SourceOperand());
      return;
    }
    Emit({0xED, dst == reg::I ? uint8_t{0x47} : uint8_t{0x4F}}, 2);
  } else if (dst >= reg::BC && dst <= reg::IY) {
    EncodeLdPair();
  } else if (dst == reg::BCInd || dst == reg::DEInd) {
    // LD (BC),A = 02; LD (DE),A = 12
    if (src != reg::A) {
      Error(msg::kBadSource, SourceOperand());
      return;
    }
    Emit({dst == reg::BCInd ? uint8_t{0x02} : uint8_t{0x12}}, 1);
  } else if (dst == reg::Address) {
    EncodeLdToAddress();
  } else if (dst == reg::IXInd || dst == reg::IYInd) {
    EncodeLdToIndexed();
  } else {
    Error(msg::kBadDestination, fields_.Operand1Fld);
  }
}

// A wrong source still leaves the one byte counted here.
void Assembler::EncodeLdA() {
  byteCount_ = 1;
  const std::string_view text = fields_.Operand2Fld;
  if (IsReg8(Op2Type)) {
    // LD A,s = 01 111 sss
    Put(0x78 + Op2Type);
    return;
  }
  const LdForm* form = FindForm(kLdASources, Op2Type);
  if (form == nullptr) {
    Error(msg::kBadSource, SourceOperand());
    return;
  }
  Put(form->opcode);
  if (form->tail == Tail::kByte) PutByte(text);
  if (form->tail == Tail::kWord) PutWordOf(text);
  if (form->tail == Tail::kDisp) PutDisp(text);
  byteCount_ = Built();
}

// Destinations B, C, D, E, H, L and (HL).
void Assembler::EncodeLdRegister() {
  const int32_t r = Op1Type;
  const int32_t s = Op2Type;
  const std::string_view text = fields_.Operand2Fld;
  const bool toMemory = r == reg::HLInd;
  if (IsReg8(s) && !(toMemory && s == reg::HLInd)) {
    // LD r,s = 01 rrr sss (01 110 110 would be HALT)
    Put(0x40 + 8 * r + s);
    byteCount_ = 1;
  } else if (s == reg::Value) {
    // LD r,n = 00 rrr 110, n
    Put(8 * r + 0x06);
    PutByte(text);
    byteCount_ = 2;
  } else if ((s == reg::IXInd || s == reg::IYInd) && !toMemory) {
    // LD r,(IX+d) = DD 01 rrr 110 d; FD for IY
    PutPrefix(s);
    Put(0x46 + 8 * r);
    PutDisp(text);
    byteCount_ = 3;
  } else {
    Error(msg::kBadSource, SourceOperand());
  }
}

// Destinations BC, DE, HL, SP, IX and IY. IX and IY put their prefix first and
// then encode as HL; a wrong source keeps that prefix and its byte.
void Assembler::EncodeLdPair() {
  int32_t rr = Op1Type;
  const std::string_view text = fields_.Operand2Fld;
  if (rr == reg::IX || rr == reg::IY) {
    PutPrefix(rr);
    byteCount_ = 1;
    rr = reg::HL;
  }
  if (Op2Type == reg::Value) {
    // LD rr,nn = 00 rr0 001, nn (rr: BC 00, DE 01, HL 10, SP 11)
    Put(16 * (rr - reg::BC) + 0x01);
    PutWordOf(text);
    byteCount_ += 3;
    return;
  }
  if (Op2Type == reg::Address) {
    const LdForm* form = FindForm(kLdPairFromAddress, rr);
    Put(form->opcode);
    PutWordOf(text);
    byteCount_ = Built();
    return;
  }
  if (rr == reg::SP) {
    const LdForm* form = FindForm(kLdSpSources, Op2Type);
    if (form == nullptr) {
      Error(msg::kBadSourceSp, SourceOperand());
      return;
    }
    Put(form->opcode);
    byteCount_ = form->opcode.size;
    return;
  }
  Error(msg::kBadOperand, fields_.Operand1Fld);
}

// LD (nn),<source>. The address is evaluated only for an accepted source.
void Assembler::EncodeLdToAddress() {
  const LdForm* form = FindForm(kLdToAddress, Op2Type);
  if (form == nullptr) {
    Error(msg::kBadSource, SourceOperand());
    return;
  }
  Put(form->opcode);
  PutWordOf(fields_.Operand1Fld);
  byteCount_ = Built();
}

// LD (IX+d),<source> and LD (IY+d),<source>; the displacement comes from the
// destination.
void Assembler::EncodeLdToIndexed() {
  const int32_t s = Op2Type;
  if (IsReg8(s) && s != reg::HLInd) {
    // LD (IX+d),s = DD 01 110 sss d
    PutPrefix(Op1Type);
    Put(0x70 + s);
    PutDisp(fields_.Operand1Fld);
    byteCount_ = 3;
  } else if (s == reg::Value) {
    // LD (IX+d),n = DD 36 d n
    PutPrefix(Op1Type);
    Put(0x36);
    PutDisp(fields_.Operand1Fld);
    PutByte(fields_.Operand2Fld);
    byteCount_ = 4;
  } else {
    Error(msg::kBadSource, SourceOperand());
  }
}

}  // namespace orvane
