// Fixed opcodes and EX.
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

// Instructions whose code never depends on an operand: the keyword's code,
// ED-prefixed when above FF. Operands written after them are ignored.
void Assembler::EncodeFixed(const Keyword& k) {
  if (k.code > 0xFF) Put(k.code >> 8);
  Put(k.code & 0xFF);
  byteCount_ = Built();
}

// EX AF,AF' / EX (SP),HL / EX (SP),IX / EX (SP),IY / EX DE,HL, in that operand
// order only. Every rejection names the source, whichever operand is wrong,
// and still occupies one byte.
void Assembler::EncodeEx(const Keyword&) {
  byteCount_ = 1;
  if (Op1Type == reg::AF) {
    if (Op2Type == reg::AFAlt) {
      Emit({0x08}, 1);
      return;
    }
  } else if (Op1Type == reg::SPInd) {
    switch (Op2Type) {
      case reg::HL: Emit({0xE3}, 1); return;
      case reg::IX: Emit({0xDD, 0xE3}, 2); return;
      case reg::IY: Emit({0xFD, 0xE3}, 2); return;
      default: break;
    }
  } else if (Op1Type == reg::DE) {
    if (Op2Type == reg::HL) {
      Emit({0xEB}, 1);
      return;
    }
  }
  Error(msg::kBadSource, SourceOperand());
}

}  // namespace orvane
