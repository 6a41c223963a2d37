// LD.
#include "encoder/assembler.h"

namespace orvane {

void Assembler::EncodeLd() { Error(msg::kUndefinedOpcode); }

}  // namespace orvane
