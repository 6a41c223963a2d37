// Which keyword a mnemonic or directive is.
#pragma once
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"
#include "front/short_text.h"

namespace orvane {

// Every keyword by its text (all are at most four characters long), as a
// small number: its place in the table plus one, 0 for no keyword. A line's
// record from pass 1 keeps the number; KeywordsByNumber gives the keyword
// back (nullptr for 0).
using KeywordMap = ShortTextMap<uint8_t, 256>;
const KeywordMap& Keywords();
const Keyword* const* KeywordsByNumber();

// The number of the keyword written as `OpcodeFld` (exactly, upper case), or
// 0. Every statement asks, so the lookup itself is inline.
inline uint8_t FindKeywordNumber(const KeywordMap& keywords, std::string_view OpcodeFld) {
  const uint8_t* n = keywords.Find(OpcodeFld);
  return n ? *n : 0;
}
// The keyword itself, or nullptr.
inline const Keyword* FindKeyword(const KeywordMap& keywords, std::string_view OpcodeFld) {
  return KeywordsByNumber()[FindKeywordNumber(keywords, OpcodeFld)];
}
// The table begins with the ten directives (numbers 1 to 10).
inline constexpr uint8_t kDirectiveCount = 10;

}  // namespace orvane
