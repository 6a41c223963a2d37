// LD. The form is chosen by the destination's register code first, then by the
// source's; memory to memory is refused.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

namespace {

bool IsReg8(int32_t code) { return code >= reg::B && code <= reg::A; }

// What follows a form's opcode bytes.
enum class Tail : uint8_t { kNone, kByte, kWord, kDisp };

// One operand form of a table: the other operand's register code, the opcode
// bytes and what follows them.
struct LdForm {
  int32_t code;
  std::string_view opcode;
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
    {reg::Value, "3E", Tail::kByte},    // LD A,n
    {reg::Address, "3A", Tail::kWord},  // LD A,(nn)
    {reg::I, "ED57", Tail::kNone},      // LD A,I
    {reg::R, "ED5F", Tail::kNone},      // LD A,R
    {reg::BCInd, "0A", Tail::kNone},    // LD A,(BC)
    {reg::DEInd, "1A", Tail::kNone},    // LD A,(DE)
    {reg::IXInd, "DD7E", Tail::kDisp},  // LD A,(IX+d)
    {reg::IYInd, "FD7E", Tail::kDisp},  // LD A,(IY+d)
};

// LD rr,(nn) by destination; IX and IY have their prefix already and use HL's.
constexpr LdForm kLdPairFromAddress[] = {
    {reg::BC, "ED4B", Tail::kWord},
    {reg::DE, "ED5B", Tail::kWord},
    {reg::HL, "2A", Tail::kWord},
    {reg::SP, "ED7B", Tail::kWord},
};

// LD SP,<source>.
constexpr LdForm kLdSpSources[] = {
    {reg::HL, "F9", Tail::kNone},
    {reg::IX, "DDF9", Tail::kNone},
    {reg::IY, "FDF9", Tail::kNone},
};

// LD (nn),<source>; the word is the destination's address.
constexpr LdForm kLdToAddress[] = {
    {reg::A, "32", Tail::kWord},     {reg::BC, "ED43", Tail::kWord},
    {reg::DE, "ED53", Tail::kWord},  {reg::HL, "22", Tail::kWord},
    {reg::SP, "ED73", Tail::kWord},  {reg::IX, "DD22", Tail::kWord},
    {reg::IY, "FD22", Tail::kWord},
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
      Error(msg::kBadSource);
      return;
    }
    Emit(dst == reg::I ? "ED47" : "ED4F", 2);
  } else if (dst >= reg::BC && dst <= reg::IY) {
    EncodeLdPair();
  } else if (dst == reg::BCInd || dst == reg::DEInd) {
    // LD (BC),A = 02; LD (DE),A = 12
    if (src != reg::A) {
      Error(msg::kBadSource);
      return;
    }
    Emit(dst == reg::BCInd ? "02" : "12", 1);
  } else if (dst == reg::Address) {
    EncodeLdToAddress();
  } else if (dst == reg::IXInd || dst == reg::IYInd) {
    EncodeLdToIndexed();
  } else {
    Error(msg::kBadDestination);
  }
}

// A wrong source still leaves the one byte counted here.
void Assembler::EncodeLdA() {
  byteCount_ = 1;
  const std::string_view text = fields_.Operand2Fld;
  if (IsReg8(Op2Type)) {
    // LD A,s = 01 111 sss
    AppendHex2Value(0x78 + Op2Type);
    return;
  }
  const LdForm* form = FindForm(kLdASources, Op2Type);
  if (form == nullptr) {
    Error(msg::kBadSource);
    return;
  }
  objCode_.append(form->opcode);
  if (form->tail == Tail::kByte) AppendByte(text);
  if (form->tail == Tail::kWord) AppendWord(text);
  if (form->tail == Tail::kDisp) AppendDisp(text);
  byteCount_ = static_cast<int32_t>(objCode_.size() / 2);
}

// Destinations B, C, D, E, H, L and (HL).
void Assembler::EncodeLdRegister() {
  const int32_t r = Op1Type;
  const int32_t s = Op2Type;
  const std::string_view text = fields_.Operand2Fld;
  const bool toMemory = r == reg::HLInd;
  if (IsReg8(s) && !(toMemory && s == reg::HLInd)) {
    // LD r,s = 01 rrr sss (01 110 110 would be HALT)
    AppendHex2Value(0x40 + 8 * r + s);
    byteCount_ = 1;
  } else if (s == reg::Value) {
    // LD r,n = 00 rrr 110, n
    AppendHex2Value(8 * r + 0x06);
    AppendByte(text);
    byteCount_ = 2;
  } else if ((s == reg::IXInd || s == reg::IYInd) && !toMemory) {
    // LD r,(IX+d) = DD 01 rrr 110 d; FD for IY
    objCode_.append(s == reg::IXInd ? "DD" : "FD");
    AppendHex2Value(0x46 + 8 * r);
    AppendDisp(text);
    byteCount_ = 3;
  } else {
    Error(msg::kBadSource);
  }
}

// Destinations BC, DE, HL, SP, IX and IY. IX and IY put their prefix first and
// then encode as HL; a wrong source keeps that prefix and its byte.
void Assembler::EncodeLdPair() {
  int32_t rr = Op1Type;
  const std::string_view text = fields_.Operand2Fld;
  if (rr == reg::IX || rr == reg::IY) {
    objCode_ = rr == reg::IX ? "DD" : "FD";
    byteCount_ = 1;
    rr = reg::HL;
  }
  if (Op2Type == reg::Value) {
    // LD rr,nn = 00 rr0 001, nn (rr: BC 00, DE 01, HL 10, SP 11)
    AppendHex2Value(16 * (rr - reg::BC) + 0x01);
    AppendWord(text);
    byteCount_ += 3;
    return;
  }
  if (Op2Type == reg::Address) {
    const LdForm* form = FindForm(kLdPairFromAddress, rr);
    objCode_.append(form->opcode);
    AppendWord(text);
    byteCount_ = static_cast<int32_t>(objCode_.size() / 2);
    return;
  }
  if (rr == reg::SP) {
    const LdForm* form = FindForm(kLdSpSources, Op2Type);
    if (form == nullptr) {
      Error(msg::kBadSourceSp);
      return;
    }
    Emit(form->opcode, static_cast<int32_t>(form->opcode.size() / 2));
    return;
  }
  Error(msg::kBadOperand);
}

// LD (nn),<source>. The address is evaluated only for an accepted source.
void Assembler::EncodeLdToAddress() {
  const LdForm* form = FindForm(kLdToAddress, Op2Type);
  if (form == nullptr) {
    Error(msg::kBadSource);
    return;
  }
  objCode_.append(form->opcode);
  AppendWord(fields_.Operand1Fld);
  byteCount_ = static_cast<int32_t>(objCode_.size() / 2);
}

// LD (IX+d),<source> and LD (IY+d),<source>; the displacement comes from the
// destination.
void Assembler::EncodeLdToIndexed() {
  const std::string_view prefix = Op1Type == reg::IXInd ? "DD" : "FD";
  const int32_t s = Op2Type;
  if (IsReg8(s) && s != reg::HLInd) {
    // LD (IX+d),s = DD 01 110 sss d
    objCode_.append(prefix);
    AppendHex2Value(0x70 + s);
    AppendDisp(fields_.Operand1Fld);
    byteCount_ = 3;
  } else if (s == reg::Value) {
    // LD (IX+d),n = DD 36 d n
    objCode_.append(prefix);
    objCode_.append("36");
    AppendDisp(fields_.Operand1Fld);
    AppendByte(fields_.Operand2Fld);
    byteCount_ = 4;
  } else {
    Error(msg::kBadSource);
  }
}

}  // namespace orvane
