// Lookup of short names (mnemonics, register names) that every statement
// needs once or twice: a text of up to seven bytes is packed into one integer,
// and the table is a small open-addressing hash of those integers.
#pragma once
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <type_traits>

namespace orvane {

inline constexpr size_t kShortTextMax = 7;

// The bytes of `s` and its length in one integer; only the empty text packs
// to 0. `s` must not be longer than kShortTextMax. From four bytes on, the
// bytes are packed in order, the first lowest; up to three, the first, the
// middle and the last byte are (which with the length tell the text). At run
// time the bytes are read in two loads, not one by one.
constexpr uint64_t PackShortText(std::string_view s) {
  const size_t n = s.size();
  if (n == 0) return 0;
  const auto at = [&s](size_t i) { return static_cast<uint64_t>(static_cast<unsigned char>(s[i])); };
  uint64_t bytes = 0;
  if (n < 4) {
    bytes = at(0) | at(n / 2) << 8 | at(n - 1) << 16;
  } else if (!std::is_constant_evaluated() && std::endian::native == std::endian::little) {
    uint32_t low, high;
    std::memcpy(&low, s.data(), 4);
    std::memcpy(&high, s.data() + n - 4, 4);
    bytes = low | (static_cast<uint64_t>(high) >> (8 * (8 - n))) << 32;
  } else {
    for (size_t i = 0; i < n; ++i) bytes |= at(i) << (8 * i);
  }
  return (bytes << 8) | n;
}

template <typename Value, size_t kSlots>
class ShortTextMap {
  static_assert((kSlots & (kSlots - 1)) == 0, "the slot count is a power of two");

 public:
  // Adds `text` (1 to kShortTextMax bytes) unless it is already there. A
  // longer text could never be found again, so it is refused: at compile time
  // in a constant table, with std::length_error at run time.
  constexpr void Insert(std::string_view text, Value value) {
    if (text.empty() || text.size() > kShortTextMax) throw std::length_error("a short text holds 1 to 7 bytes");
    const uint64_t key = PackShortText(text);
    size_t i = Slot(key);
    while (keys_[i] != 0 && keys_[i] != key) i = (i + 1) & (kSlots - 1);
    if (keys_[i] == 0) {
      keys_[i] = key;
      values_[i] = value;
    }
  }

  // The value stored for `text`, or nullptr.
  const Value* Find(std::string_view text) const {
    if (text.empty() || text.size() > kShortTextMax) return nullptr;
    const uint64_t key = PackShortText(text);
    for (size_t i = Slot(key);; i = (i + 1) & (kSlots - 1)) {
      if (keys_[i] == key) return &values_[i];
      if (keys_[i] == 0) return nullptr;
    }
  }

 private:
  static constexpr size_t Slot(uint64_t key) {
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 40) & (kSlots - 1);
  }
  std::array<uint64_t, kSlots> keys_{};
  std::array<Value, kSlots> values_{};
};

}  // namespace orvane
