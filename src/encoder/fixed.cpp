// Fixed opcodes and EX.
#include "encoder/assembler.h"

namespace orvane {

void Assembler::EncodeFixed() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeEx() { Error(msg::kUndefinedOpcode); }

}  // namespace orvane
