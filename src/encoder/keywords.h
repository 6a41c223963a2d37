// Which keyword a mnemonic or directive is.
#pragma once
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"
#include "front/short_text.h"

namespace orvane {

// Every keyword by its text (all are at most four characters long).
using KeywordMap = ShortTextMap<const Keyword*, 256>;
const KeywordMap& Keywords();

// The keyword written as `OpcodeFld` (exactly, upper case), or nullptr.
// Every statement asks, so the lookup itself is inline.
inline const Keyword* FindKeyword(const KeywordMap& keywords, std::string_view OpcodeFld) {
  const Keyword* const* k = keywords.Find(OpcodeFld);
  return k ? *k : nullptr;
}

// A keyword as a small number (its place in the table), and back: how a
// line's record from pass 1 keeps its keyword.
uint8_t KeywordIndex(const Keyword& k);
// The table begins with the ten directives.
inline constexpr uint8_t kDirectiveCount = 10;
const Keyword& KeywordAt(uint8_t index);

}  // namespace orvane
