// The symbol table: 16384 symbols in slots 1..16384, in definition order, the
// earliest definition of a name always winning. A hash index beside the slots
// gives the same answers as scanning them from slot 1, in constant time.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "front/source_span.h"

namespace orvane {

// Whether `a` and `b` hold the same bytes: a name of up to sixteen in
// two loads a side (which may overlap), without a call.
inline bool SameName(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  const char* const x = a.data();
  const char* const y = b.data();
  const auto differ = [x, y, n]<typename Word>(Word) {
    Word p, q, r, t;
    std::memcpy(&p, x, sizeof p);
    std::memcpy(&q, y, sizeof q);
    std::memcpy(&r, x + n - sizeof r, sizeof r);
    std::memcpy(&t, y + n - sizeof t, sizeof t);
    return ((p ^ q) | (r ^ t)) != 0;
  };
  if (n >= 8) return n <= 16 ? !differ(uint64_t{}) : std::memcmp(x, y, n) == 0;
  if (n >= 4) return !differ(uint32_t{});
  if (n >= 2) return !differ(uint16_t{});
  return n == 0 || x[0] == y[0];
}

struct LabelEntry {
  std::string name;
  int32_t address = 0;
  // Where the name stands in its defining line; its line serves the
  // duplicate and forward reference checks.
  SourceSpan span;
  bool first = false;  // no earlier slot holds the name
};

class SymbolTable {
 public:
  static constexpr int kCapacity = 16384;

  SymbolTable();

  // Empties the table: LabelCount = 1, every slot cleared.
  void Reset();

  // Defines `Label` (as the splitter left it, possibly ending in a blank or a
  // colon) with `Address`, the name standing at `span`. A label equal to a stored name as received defines
  // nothing; otherwise the name, blanks and one trailing colon removed, takes
  // the next slot even when it is stored already (the earliest still wins).
  void AddLabel(std::string_view Label, int32_t Address, SourceSpan span = {});

  // Slot of the earliest symbol named exactly `name`, or 0.
  int Find(std::string_view name) const;
  const LabelEntry& Slot(int i) const { return slots_[static_cast<size_t>(i)]; }
  // Gives slot `i` another address (a label whose line moved after an edit
  // above it); its name and place stay.
  void SetAddress(int i, int32_t address) { slots_[static_cast<size_t>(i)].address = address; }

  bool Full() const { return labelCount_ > kCapacity; }
  // The slots in use are 1 .. Used().
  int Used() const { return labelCount_ - 1; }

  // The name a label text defines: blanks trimmed, one trailing colon removed.
  static std::string_view StripLabel(std::string_view Label);

 private:
  struct Hash {
    // Names are short: eight bytes at a time, and the last one to seven in
    // two loads (four to seven: the first four and the last four, which may
    // overlap; one to three: the first, middle and last byte). The length is
    // mixed in, so that the overlapping loads tell names apart.
    size_t operator()(std::string_view s) const {
      constexpr uint64_t kOdd = 0x9E3779B97F4A7C15u;
      uint64_t h = s.size() * kOdd;
      size_t i = 0;
      for (; s.size() - i >= 8; i += 8) {
        uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        h = (h ^ w) * kOdd;
        h ^= h >> 29;
      }
      const char* const p = s.data() + i;
      const size_t r = s.size() - i;
      uint64_t w = 0;
      if (r >= 4) {
        uint32_t a, b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + r - 4, 4);
        w = static_cast<uint64_t>(a) << 32 | b;
      } else if (r > 0) {
        const auto at = [p](size_t k) { return static_cast<uint64_t>(static_cast<unsigned char>(p[k])); };
        w = at(0) | at(r / 2) << 8 | at(r - 1) << 16;
      }
      h = (h ^ w) * kOdd;
      return static_cast<size_t>(h ^ (h >> 32));
    }
  };

  // The index: open addressing over twice the capacity, each place holding
  // the earliest slot of a name (0: free) and the name's hash beside it, so
  // that a probe compares a name only where the hashes agree.
  static constexpr size_t kPlaces = size_t{1} << 15;
  static_assert(kPlaces >= 2 * kCapacity);
  struct Place {
    uint32_t hash;
    int32_t slot;
  };
  // The place of `name`, or the free place where it would go.
  size_t PlaceOf(std::string_view name, uint32_t hash) const {
    for (size_t i = hash & (kPlaces - 1);; i = (i + 1) & (kPlaces - 1)) {
      const Place& p = index_[i];
      if (p.slot == 0 || (p.hash == hash && SameName(slots_[static_cast<size_t>(p.slot)].name, name))) return i;
    }
  }

  std::vector<LabelEntry> slots_;
  int16_t labelCount_ = 1;
  std::vector<Place> index_;
};

}  // namespace orvane
