// The symbol table: 16384 symbols in slots 1..16384, in definition order, the
// earliest definition of a name always winning. A hash index beside the slots
// gives the same answers as scanning them from slot 1, in constant time.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvane {

struct LabelEntry {
  std::string name;
  int32_t address = 0;
  int16_t flag1 = 0;
  int16_t repeated = 0;  // set to -1 when a later definition repeats the name exactly
  int16_t flag3 = 0;
  // Not part of the table proper: the source line of the definition and the
  // next slot holding the same name (0 for none), used for the duplicate
  // checks and for setting the repeat flag on every equal slot.
  int64_t line = 0;
  int32_t nextSame = 0;
};

class SymbolTable {
 public:
  static constexpr int kCapacity = 16384;

  SymbolTable();

  // Empties the table: LabelCount = 1, every slot cleared.
  void Reset();

  // Outcome of AddLabel, for the callers that report on it.
  enum class AddResult { kIgnored, kStored, kRepeated, kFull };

  // Defines `Label` (as the splitter left it, possibly ending in a blank or a
  // colon) with `Address`. The comparison with stored names uses the text as
  // received; the stored name has its blanks and one trailing colon removed.
  AddResult AddLabel(std::string_view Label, int32_t Address, int64_t line = 0);

  // Slot of the earliest symbol named exactly `name`, or 0.
  int Find(std::string_view name) const;
  const LabelEntry& Slot(int i) const { return slots_[static_cast<size_t>(i)]; }

  int16_t LabelCount() const { return labelCount_; }
  bool Full() const { return labelCount_ > kCapacity; }

  // The name a label text defines: blanks trimmed, one trailing colon removed.
  static std::string_view StripLabel(std::string_view Label);

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  struct Eq {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return a == b; }
  };

  std::vector<LabelEntry> slots_;
  int16_t labelCount_ = 1;
  // name -> earliest slot, and the last slot of that name (for chaining).
  struct Chain {
    int32_t first;
    int32_t last;
  };
  std::unordered_map<std::string, Chain, Hash, Eq> index_;
};

}  // namespace orvane
