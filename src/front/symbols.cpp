#include "front/symbols.h"

#include "front/text.h"

namespace orvane {

SymbolTable::SymbolTable() : slots_(kCapacity + 1) { index_.reserve(kCapacity * 2); }

void SymbolTable::Reset() {
  for (int i = 1; i < labelCount_; ++i) slots_[static_cast<size_t>(i)] = LabelEntry{};
  labelCount_ = 1;
  index_.clear();
}

std::string_view SymbolTable::StripLabel(std::string_view Label) {
  std::string_view name = Trim(Label);
  if (!name.empty() && name.back() == ':') name.remove_suffix(1);
  return name;
}

int SymbolTable::Find(std::string_view name) const {
  auto it = index_.find(name);
  return it == index_.end() ? 0 : it->second.first;
}

SymbolTable::AddResult SymbolTable::AddLabel(std::string_view Label, int32_t Address, int64_t line) {
  if (Label.empty()) return AddResult::kIgnored;

  // Every stored slot whose name equals the label exactly, as received, is
  // marked repeated, and nothing is stored.
  auto it = index_.find(Label);
  if (it != index_.end()) {
    for (int32_t i = it->second.first; i != 0; i = slots_[static_cast<size_t>(i)].nextSame) {
      slots_[static_cast<size_t>(i)].repeated = -1;
    }
    return AddResult::kRepeated;
  }

  std::string_view name = StripLabel(Label);
  if (name.empty()) return AddResult::kIgnored;  // a ":" alone names nothing
  if (Full()) return AddResult::kFull;

  const int32_t slot = labelCount_;
  LabelEntry& e = slots_[static_cast<size_t>(slot)];
  e.name.assign(name);
  e.address = Address;
  e.line = line;
  e.nextSame = 0;
  auto [pos, inserted] = index_.try_emplace(std::string(name), Chain{slot, slot});
  if (!inserted) {
    slots_[static_cast<size_t>(pos->second.last)].nextSame = slot;
    pos->second.last = slot;
  }
  ++labelCount_;
  return AddResult::kStored;
}

}  // namespace orvane
