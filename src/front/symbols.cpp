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
  return it == index_.end() ? 0 : it->second;
}

void SymbolTable::AddLabel(std::string_view Label, int32_t Address, SourceSpan span) {
  // The comparison is made before the label is stripped.
  if (Label.empty() || index_.find(Label) != index_.end()) return;
  std::string_view name = StripLabel(Label);
  if (name.empty() || Full()) return;  // a ":" alone names nothing

  LabelEntry& e = slots_[static_cast<size_t>(labelCount_)];
  e.name.assign(name);
  e.address = Address;
  e.span = span;
  e.first = index_.try_emplace(std::string(name), labelCount_).second;
  ++labelCount_;
}

}  // namespace orvane
