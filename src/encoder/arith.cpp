// INC, DEC and the arithmetic-logic group.
#include "encoder/assembler.h"

namespace orvane {

void Assembler::EncodeIncDec() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeArith() { Error(msg::kUndefinedOpcode); }

}  // namespace orvane
