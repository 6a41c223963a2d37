// Numbers in operand text and the hex text that object code travels in.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

// Two or four upper-case hex digits of the low 8 or 16 bits of `i`.
std::string Hex2(int32_t i);
std::string Hex4(int32_t i);
// Four hex digits of the low 16 bits, low byte first (the Z80's byte order).
std::string OpcodeHex4(int32_t i);

// Value of one hex digit (either case), or -1.
int HexDigitValue(char c);
// The two characters at `i` read as a hex number as far as their leading hex
// digits go: "7G" is 7, "G7" and a missing pair are 0.
int HexPairValue(std::string_view s, size_t i);

void AppendHex2(std::string& out, uint32_t i);
void AppendHex4(std::string& out, uint32_t i);
void AppendOpcodeHex4(std::string& out, uint32_t i);

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
