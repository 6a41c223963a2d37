// Stack and control transfer: POP, PUSH, DJNZ, JR, RET, JP, CALL, RST.
#include "encoder/assembler.h"

namespace orvane {

void Assembler::EncodePopPush() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeDjnz() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeJr() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeRet() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeJp() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeCall() { Error(msg::kUndefinedOpcode); }
void Assembler::EncodeRst() { Error(msg::kUndefinedOpcode); }

}  // namespace orvane
