// Which keyword a mnemonic or directive is.
#pragma once
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

// The keyword written as `OpcodeFld` (exactly, upper case), or nullptr.
const Keyword* FindKeyword(std::string_view OpcodeFld);

}  // namespace orvane
