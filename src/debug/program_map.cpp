#include "debug/program_map.h"

#include <cctype>
#include <string_view>

#include "encoder/timing.h"

namespace orvane::debug {

void ProgramMap::Add(const Statement& s) {
  if (s.isEnd && s.endHasOperand) start_ = static_cast<uint16_t>(s.startAddress);
  if (!s.toObject || s.bytes.empty()) return;
  const size_t at = atAddresses_ ? static_cast<uint16_t>(s.address) : runner::kLoad + image_.size();
  if (at <= 0xFFFF && !lines_->count(static_cast<uint16_t>(at))) {
    // The statement without its comment and the blanks around it.
    std::string_view text = s.source;
    if (s.fields && s.fields->CommentAt.size() <= text.size()) text.remove_suffix(s.fields->CommentAt.size());
    const size_t first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t");
    text = first == std::string_view::npos ? std::string_view() : text.substr(first, last - first + 1);
    const size_t room = 0x10000 - at;
    const auto length = static_cast<uint16_t>(s.bytes.size() < room ? s.bytes.size() : room);
    const auto address = static_cast<uint16_t>(at);
    const Timing timing = StatementTiming(s);
    (*lines_)[address] = {static_cast<int>(s.line), std::string(text), address, length, timing.Known(),
                          timing.kind == Timing::Kind::kBranch};
    byLine_.emplace(static_cast<int>(s.line), address);
  }
  if (atAddresses_) {
    // A statement past FFFFH wraps to 0000H, as the location counter does.
    for (size_t i = 0; i < s.bytes.size(); ++i) {
      const auto a = static_cast<uint16_t>(at + i);
      if (pieces_.empty() || static_cast<uint16_t>(pieces_.back().first + pieces_.back().second.size()) != a ||
          pieces_.back().second.size() >= 0x10000u - pieces_.back().first)
        pieces_.push_back({a, {}});
      pieces_.back().second.push_back(s.bytes[i]);
    }
    return;
  }
  image_.insert(image_.end(), s.bytes.begin(), s.bytes.end());
}

void ProgramMap::SetSymbols(const SymbolTable& table) {
  symbols_.clear();
  for (int i = 1; i <= table.Used(); ++i) {
    const LabelEntry& e = table.Slot(i);
    if (!e.first || e.name.empty()) continue;
    symbols_.push_back({e.name, e.address, static_cast<int>(e.span.line)});
  }
}

const ProgramMap::Symbol* ProgramMap::FindSymbol(std::string_view name) const {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const Symbol& s : symbols_)
    if (s.name == upper) return &s;
  return nullptr;
}

const ProgramMap::Line* ProgramMap::At(uint16_t address) const {
  const auto it = lines_->find(address);
  return it == lines_->end() ? nullptr : &it->second;
}

const ProgramMap::Line* ProgramMap::Containing(uint16_t address) const {
  auto it = lines_->upper_bound(address);
  if (it == lines_->begin()) return nullptr;
  --it;
  return address - it->first < it->second.length ? &it->second : nullptr;
}

int ProgramMap::LineOf(uint16_t address) const {
  const Line* l = Containing(address);
  return l ? l->line : 0;
}

const ProgramMap::Line* ProgramMap::Resolve(int line) const {
  const auto it = byLine_.lower_bound(line);
  return it == byLine_.end() ? nullptr : At(it->second);
}

runner::SourceLookup ProgramMap::Lookup(std::string file) const {
  return [lines = lines_, file = std::move(file)](uint16_t address, runner::SourceLocation& where) {
    const auto it = lines->find(address);
    if (it == lines->end()) return false;
    where = {file, it->second.line, it->second.text};
    return true;
  };
}

}  // namespace orvane::debug
