#include "front/numbers.h"

#include <cmath>
#include <cstdlib>

#include "front/text.h"

namespace orvane {

double RoundHalfEven(double v) {
  // The default floating-point rounding mode rounds to nearest, ties to even.
  return std::nearbyint(v);
}

int32_t WrapLow16(double v) {
  if (!std::isfinite(v)) return 0;
  double m = std::fmod(RoundHalfEven(v), 65536.0);
  if (m < 0) m += 65536.0;
  return static_cast<int32_t>(m) & 0xFFFF;
}

double LeadingNumber(std::string_view text) {
  if (auto plain = PlainDecimal(text)) return static_cast<double>(*plain);
  // Blanks anywhere are ignored: read through a cursor that skips them.
  size_t i = 0;
  const size_t n = text.size();
  auto peek = [&]() -> int {
    while (i < n && text[i] == ' ') ++i;
    return i < n ? static_cast<unsigned char>(text[i]) : -1;
  };

  bool negative = false;
  int c = peek();
  if (c == '+' || c == '-') {
    negative = (c == '-');
    ++i;
    c = peek();
  }

  if (c == '&') {
    ++i;
    int kind = peek();
    int base = 0;
    if (kind == 'H' || kind == 'h') base = 16;
    if (kind == 'O' || kind == 'o') base = 8;
    if (base == 0) return 0;
    ++i;
    uint64_t v = 0;
    int digits = 0;
    for (int d = peek(); d >= 0; d = peek()) {
      int dv = HexDigitValue(static_cast<char>(d));
      if (dv < 0 || dv >= base) break;
      v = (v * static_cast<uint64_t>(base) + static_cast<uint64_t>(dv)) & 0xFFFFFFFFull;
      ++digits;
      ++i;
    }
    if (digits == 0) return 0;
    const bool shortForm = (base == 16) ? digits <= 4 : v <= 0xFFFF;
    double value = shortForm ? static_cast<int16_t>(static_cast<uint16_t>(v))
                             : static_cast<int32_t>(static_cast<uint32_t>(v));
    return negative ? -value : value;
  }

  // Decimal: digits, optional fraction, optional exponent.
  std::string buf;
  bool any = false;
  while (c >= '0' && c <= '9') {
    buf.push_back(static_cast<char>(c));
    any = true;
    ++i;
    c = peek();
  }
  if (c == '.') {
    buf.push_back('.');
    ++i;
    c = peek();
    while (c >= '0' && c <= '9') {
      buf.push_back(static_cast<char>(c));
      any = true;
      ++i;
      c = peek();
    }
  }
  if (!any) return 0;
  if (c == 'E' || c == 'e') {
    std::string exp = "E";
    ++i;
    c = peek();
    if (c == '+' || c == '-') {
      exp.push_back(static_cast<char>(c));
      ++i;
      c = peek();
    }
    bool expDigits = false;
    while (c >= '0' && c <= '9') {
      if (exp.size() < 12) exp.push_back(static_cast<char>(c));
      expDigits = true;
      ++i;
      c = peek();
    }
    if (expDigits) buf += exp;
  }
  double value = std::strtod(buf.c_str(), nullptr);
  if (!std::isfinite(value)) value = negative ? -1e308 : 1e308;
  return negative ? -value : value;
}

std::optional<int32_t> StrictNumber(std::string_view text) {
  std::string_view s = Trim(text);
  if (s.empty()) return std::nullopt;
  if (auto plain = PlainDecimal(s)) {
    if (*plain > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(*plain);
  }

  if (s[0] == '&') {
    if (s.size() < 3) return std::nullopt;
    const char kind = s[1];
    const int base = (kind == 'H') ? 16 : (kind == 'O') ? 8 : 0;
    if (base == 0) return std::nullopt;
    std::string_view digits = s.substr(2);
    if (base == 16 && digits.size() > 8) return std::nullopt;
    uint64_t v = 0;
    for (char d : digits) {
      int dv = HexDigitValue(d);
      if (dv < 0 || dv >= base) return std::nullopt;
      v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(dv);
      if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    // Short hex and octal are 16-bit quantities; the low 16 bits are what
    // every caller keeps, so the wider reading gives the same object code.
    return static_cast<int32_t>(static_cast<uint32_t>(v));
  }

  size_t i = 0;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') {
    negative = s[i] == '-';
    ++i;
  }
  const size_t start = i;
  bool any = false;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    ++i;
    any = true;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      ++i;
      any = true;
    }
  }
  if (!any) return std::nullopt;
  if (i < s.size() && s[i] == 'E') {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    bool expDigits = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      ++i;
      expDigits = true;
    }
    if (!expDigits) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;

  std::string buf(s.substr(start));
  double value = std::strtod(buf.c_str(), nullptr);
  if (negative) value = -value;
  if (!std::isfinite(value)) return std::nullopt;
  value = RoundHalfEven(value);
  if (value < -2147483648.0 || value > 2147483647.0) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace orvane
