// Small text helpers shared by the front end, the encoder and the listing.
// Source text is handled as bytes; only the blank (code 32) counts as white space.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace orvane {

// How many blanks `s` begins with. Source lines are indented and their
// comments set off by runs of blanks, so a run is passed eight at a time.
inline size_t LeadingBlanks(std::string_view s) {
  constexpr uint64_t kBlanks = 0x2020202020202020u;
  // Most fields follow a single blank, the one their scan stopped at.
  if (s.empty() || s[0] != ' ') return 0;
  size_t b = 0;
  for (; s.size() - b >= 8; b += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + b, 8);
    if (w != kBlanks) {
      // The first byte that is not a blank, in memory order.
      w ^= kBlanks;
      return b + static_cast<size_t>(std::endian::native == std::endian::little ? std::countr_zero(w) / 8
                                                                                : std::countl_zero(w) / 8);
    }
  }
  while (b < s.size() && s[b] == ' ') ++b;
  return b;
}

// `s` without its leading blanks.
inline std::string_view TrimLeft(std::string_view s) {
  const size_t b = LeadingBlanks(s);
  return std::string_view(s.data() + b, s.size() - b);
}

inline std::string_view Trim(std::string_view s) {
  const size_t b = LeadingBlanks(s);
  size_t e = s.size();
  while (e > b && s[e - 1] == ' ') --e;
  return std::string_view(s.data() + b, e - b);
}

// Appends `s` followed by blanks, cut to exactly `width` characters. (An
// empty field may be a view without data, which must not reach memcpy.)
inline void AppendPadded(std::string& out, std::string_view s, size_t width) {
  const size_t n = s.size() < width ? s.size() : width;
  if (n != 0) out.append(s.data(), n);
  out.append(width - n, ' ');
}

}  // namespace orvane
