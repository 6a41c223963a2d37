// Small text helpers shared by the front end, the encoder and the listing.
// Source text is handled as bytes; only the blank (code 32) counts as white space.
#pragma once
#include <string>
#include <string_view>

namespace orvane {

inline std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return s.substr(b, e - b);
}

// Appends `s` followed by blanks, cut to exactly `width` characters. (An
// empty field may be a view without data, which must not reach memcpy.)
inline void AppendPadded(std::string& out, std::string_view s, size_t width) {
  const size_t n = s.size() < width ? s.size() : width;
  if (n != 0) out.append(s.data(), n);
  out.append(width - n, ' ');
}

}  // namespace orvane
