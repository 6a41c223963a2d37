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

// A keyword as a small number, its place in the table plus one (0: no
// keyword), by its text, and the keywords by that number (nullptr for 0):
// the assembler's lookup, whose number a line's record from pass 1 keeps.
using KeywordNumbers = ShortTextMap<uint8_t, 256>;
const KeywordNumbers& KeywordNumberMap();
const Keyword* const* KeywordsByNumber();
inline uint8_t FindKeywordNumber(const KeywordNumbers& numbers, std::string_view OpcodeFld) {
  const uint8_t* n = numbers.Find(OpcodeFld);
  return n ? *n : 0;
}
// The table begins with the ten directives (numbers 1 to 10).
inline constexpr uint8_t kDirectiveCount = 10;

}  // namespace orvane
