// Preparing a source line for the statement splitter: inlined where every
// line is prepared, since the work is a few vector operations.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace orvane {

namespace prep {

// One byte prepared: a-z upper-cased, a tab made a blank.
inline char PrepByte(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (static_cast<unsigned char>(u - 'a') < 26) return static_cast<char>(u - ('a' - 'A'));
  return c == '\t' ? ' ' : c;
}

#if defined(__GNUC__)
// Sixteen bytes at once where the compiler offers vectors.
using Bytes16 = unsigned char __attribute__((vector_size(16)));
inline Bytes16 Prep(Bytes16 v) {
  const Bytes16 lower = reinterpret_cast<Bytes16>(static_cast<Bytes16>(v - 'a') < 26);
  const Bytes16 tab = reinterpret_cast<Bytes16>(v == '\t');
  return v ^ ((lower & 0x20) | (tab & 0x29));
}
inline void Prep16(const char* in, char* to) {
  Bytes16 v;
  std::memcpy(&v, in, 16);
  v = Prep(v);
  std::memcpy(to, &v, 16);
}
// Eight to sixteen bytes: the first eight and the last eight, which may
// overlap, side by side in one vector.
inline void Prep8To16(const char* in, char* to, size_t n) {
  Bytes16 v;
  std::memcpy(&v, in, 8);
  std::memcpy(reinterpret_cast<char*>(&v) + 8, in + n - 8, 8);
  v = Prep(v);
  std::memcpy(to, &v, 8);
  std::memcpy(to + n - 8, reinterpret_cast<const char*>(&v) + 8, 8);
}
#else
// Eight bytes prepared at once, as one integer: each byte's flags are formed
// in its top bit, with no carry into the next byte.
inline void Prep8(const char* in, char* to) {
  constexpr uint64_t kOnes = 0x0101010101010101u, kHigh = kOnes * 0x80, kLow = ~kHigh;
  uint64_t x;
  std::memcpy(&x, in, 8);
  const uint64_t low7 = x & kLow;
  // Top bit set where the byte is below 80H and its low seven bits lie in a-z.
  const uint64_t lower = (low7 + kOnes * (0x80 - 'a')) & ~(low7 + kOnes * (0x80 - 'z' - 1)) & ~x & kHigh;
  // Top bit set where the byte is a tab (its XOR with the tab is zero).
  const uint64_t t = x ^ (kOnes * '\t');
  const uint64_t tab = ~(((t & kLow) + kLow) | t) & kHigh;
  // 20H clears the lower-case bit; 29H turns a tab (09H) into a blank (20H).
  x ^= (lower >> 2) | ((tab >> 7) * 0x29);
  std::memcpy(to, &x, 8);
}
inline void Prep16(const char* in, char* to) {
  Prep8(in, to);
  Prep8(in + 8, to + 8);
}
inline void Prep8To16(const char* in, char* to, size_t n) {
  Prep8(in, to);
  Prep8(in + n - 8, to + n - 8);
}
#endif

// Kept out of line: the buffer grows only for a line longer than any before.
[[gnu::noinline]] inline void Grow(std::string& buffer, size_t n) { buffer.resize(n); }

}  // namespace prep

// Upper-cases ASCII letters (bytes 0x80 and above pass unchanged) and turns
// every tab into one blank, into `buffer`, which only ever grows so that one
// buffer serves every line. Returns the prepared line, as long as the input.
//
// Whole blocks from the front, then one more block that ends with the line
// and may cover bytes already done (the same bytes in give the same out).
inline std::string_view PrepLine(std::string_view SrcLine, std::string& buffer) {
  const size_t n = SrcLine.size();
  if (buffer.size() < n) [[unlikely]] prep::Grow(buffer, n);
  const char* in = SrcLine.data();
  char* to = buffer.data();
  if (n >= 16) {
    size_t i = 0;
    for (; n - i >= 16; i += 16) prep::Prep16(in + i, to + i);
    if (i < n) prep::Prep16(in + n - 16, to + n - 16);
  } else if (n >= 8) {
    prep::Prep8To16(in, to, n);
  } else {
    for (size_t i = 0; i < n; ++i) to[i] = prep::PrepByte(in[i]);
  }
  return std::string_view(to, n);
}

}  // namespace orvane
