// Fixed opcodes and EX.
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

// Instructions whose code never depends on an operand: the keyword's code,
// ED-prefixed when above FF. Operands written after them are ignored.
void Assembler::EncodeFixed(const Keyword& k) {
  if (k.code > 0xFF) AppendHex2Value(k.code >> 8);
  AppendHex2Value(k.code & 0xFF);
  byteCount_ = static_cast<int32_t>(objCode_.size() / 2);
}

// EX AF,AF' / EX (SP),HL / EX (SP),IX / EX (SP),IY / EX DE,HL, in that operand
// order only. Every rejection names the source, whichever operand is wrong,
// and still occupies one byte.
void Assembler::EncodeEx(const Keyword&) {
  byteCount_ = 1;
  if (Op1Type == reg::AF) {
    if (Op2Type == reg::AFAlt) {
      Emit("08", 1);
      return;
    }
  } else if (Op1Type == reg::SPInd) {
    switch (Op2Type) {
      case reg::HL: Emit("E3", 1); return;
      case reg::IX: Emit("DDE3", 2); return;
      case reg::IY: Emit("FDE3", 2); return;
      default: break;
    }
  } else if (Op1Type == reg::DE) {
    if (Op2Type == reg::HL) {
      Emit("EB", 1);
      return;
    }
  }
  Error(msg::kBadSource);
}

}  // namespace orvane
