// The CB-prefixed group: rotates, shifts and bit instructions.
#include "encoder/assembler.h"

namespace orvane {

void Assembler::EncodeShift() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeBit() { Error(msg::kUndefinedOpcode); }

}  // namespace orvane
