// IM, IN and OUT.
#include "encoder/assembler.h"

namespace orvane {

void Assembler::EncodeIm() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeOut() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeIn() { Error(msg::kUndefinedOpcode); }

}  // namespace orvane
