#include "front/symbols.h"

#include <algorithm>

#include "front/text.h"

namespace orvane {

SymbolTable::SymbolTable() : slots_(kCapacity + 1), index_(kPlaces, Place{0, 0}) {}

void SymbolTable::Reset() {
  for (int i = 1; i < labelCount_; ++i) slots_[static_cast<size_t>(i)] = LabelEntry{};
  labelCount_ = 1;
  std::fill(index_.begin(), index_.end(), Place{0, 0});
}

std::string_view SymbolTable::StripLabel(std::string_view Label) {
  std::string_view name = Trim(Label);
  if (!name.empty() && name.back() == ':') name.remove_suffix(1);
  return name;
}

int SymbolTable::Find(std::string_view name) const {
  return index_[PlaceOf(name, static_cast<uint32_t>(Hash{}(name)))].slot;
}

void SymbolTable::AddLabel(std::string_view Label, int32_t Address, SourceSpan span) {
  // The comparison is made before the label is stripped.
  if (Label.empty() || Find(Label) != 0) return;
  std::string_view name = StripLabel(Label);
  if (name.empty() || Full()) return;  // a ":" alone names nothing

  LabelEntry& e = slots_[static_cast<size_t>(labelCount_)];
  e.name.assign(name);
  e.address = Address;
  e.span = span;
  const uint32_t hash = static_cast<uint32_t>(Hash{}(name));
  Place& place = index_[PlaceOf(name, hash)];
  e.first = place.slot == 0;
  if (e.first) place = {hash, labelCount_};
  ++labelCount_;
}

}  // namespace orvane
