// Lookup of short names (mnemonics, register names) that every statement
// needs once or twice: a text of up to seven bytes is packed into one integer,
// and the table is a small open-addressing hash of those integers.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace orvane {

inline constexpr size_t kShortTextMax = 7;

// The bytes of `s` and its length in one integer; only the empty text packs
// to 0. `s` must not be longer than kShortTextMax.
constexpr uint64_t PackShortText(std::string_view s) {
  uint64_t key = 0;
  for (char c : s) key = (key << 8) | static_cast<unsigned char>(c);
  return (key << 8) | s.size();
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
