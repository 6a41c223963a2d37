// Numbers in operand text and the hex text that object code travels in.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

// Value of one hex digit (either case), or -1; a table, since every object
// byte is read back from its two digits.
inline constexpr std::array<int8_t, 256> kHexDigitValues = [] {
  std::array<int8_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    t[static_cast<size_t>(c)] = static_cast<int8_t>(c >= '0' && c <= '9'   ? c - '0'
                                                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                                           : -1);
  }
  return t;
}();

constexpr int HexDigitValue(char c) { return kHexDigitValues[static_cast<unsigned char>(c)]; }

// The two characters at `i` read as a hex number as far as their leading hex
// digits go: "7G" is 7, "G7" and a missing pair are 0.
constexpr int HexPairValue(std::string_view s, size_t i) {
  const int hi = i < s.size() ? HexDigitValue(s[i]) : -1;
  if (hi < 0) return 0;
  const int lo = i + 1 < s.size() ? HexDigitValue(s[i + 1]) : -1;
  return lo < 0 ? hi : hi * 16 + lo;
}

// Hex digits appended to object text: two for the low 8 bits (Hex2), four
// for the low 16 bits (Hex4), and four for the low 16 bits in the Z80's order,
// low byte first (OpcodeHex4). Every byte of object code passes through these,
// so they are inline.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

inline void AppendHex2(std::string& out, uint32_t i) {
  const char digits[2] = {kHexDigits[(i >> 4) & 15], kHexDigits[i & 15]};
  out.append(digits, 2);
}

inline void AppendHex4(std::string& out, uint32_t i) {
  const char digits[4] = {kHexDigits[(i >> 12) & 15], kHexDigits[(i >> 8) & 15], kHexDigits[(i >> 4) & 15],
                          kHexDigits[i & 15]};
  out.append(digits, 4);
}

inline void AppendOpcodeHex4(std::string& out, uint32_t i) {
  const char digits[4] = {kHexDigits[(i >> 4) & 15], kHexDigits[i & 15], kHexDigits[(i >> 12) & 15],
                          kHexDigits[(i >> 8) & 15]};
  out.append(digits, 4);
}

// A plain decimal number of up to 15 digits and nothing else (no sign,
// blank or fraction): a whole number a double holds exactly, so it needs no
// floating-point reading. Empty for any other text.
// Inlined: most number operands are read here.
inline std::optional<int64_t> PlainDecimal(std::string_view s) {
  if (s.empty() || s.size() > 15) return std::nullopt;
  int64_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The leading number of a text, used to tell numbers from symbol names:
// blanks anywhere are ignored; an optional sign; then "&H" and hex digits,
// "&O" and octal digits, or decimal digits with an optional fraction and
// exponent. Reading stops at the first character that cannot continue the
// number; no number reads as 0. Hex and octal of at most 16 bits read as
// signed 16-bit values, longer ones as signed 32-bit values.
double LeadingNumber(std::string_view s);

// The value of a text that must be wholly one number (blanks around it
// allowed): a signed decimal (a fraction or exponent is rounded to the nearest
// whole number, halves to even), "&H" and one to eight hex digits, or "&O"
// and octal digits. Empty when the text is not one number or the value lies
// outside the signed 32-bit range.
std::optional<int32_t> StrictNumber(std::string_view s);

// Round half to even, as the strict conversion does.
double RoundHalfEven(double v);

// The low 16 bits of `v` rounded half to even, as a value 0..65535; what a
// 64-bit (or wider) integer sum keeps in its low bits. Not-a-number gives 0.
int32_t WrapLow16(double v);

}  // namespace orvane
