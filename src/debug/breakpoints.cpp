#include "debug/breakpoints.h"

#include <algorithm>

namespace orvane::debug {

int Breakpoints::Add(uint16_t address, int line, std::string_view condition, int hitCount,
                     const ProgramMap& program, std::string& error) {
  Entry e;
  if (condition.find_first_not_of(" \t") != std::string_view::npos) {
    e.condition = ParseCondition(condition, program, error);
    if (!e.condition) e.bp.error = error += "; the breakpoint does not stop until the condition is mended";
  }
  e.bp.id = nextId_++;
  e.bp.address = address;
  e.bp.line = line;
  e.bp.condition = std::string(condition);
  e.bp.hitCount = hitCount;
  entries_.push_back(std::move(e));
  Rebuild();
  return entries_.back().bp.id;
}

bool Breakpoints::Remove(int id) {
  const auto it = std::find_if(entries_.begin(), entries_.end(), [id](const Entry& b) { return b.bp.id == id; });
  if (it == entries_.end()) return false;
  arrivals_ -= it->arrivals.size();
  entries_.erase(it);
  Rebuild();
  return true;
}

void Breakpoints::Clear() {
  entries_.clear();
  arrivals_ = 0;
  Rebuild();
}

std::vector<Breakpoint> Breakpoints::List() const {
  std::vector<Breakpoint> v;
  for (const Entry& b : entries_) v.push_back(b.bp);
  return v;
}

int Breakpoints::AddData(uint16_t first, uint16_t last, std::string name) {
  if (last < first) std::swap(first, last);
  data_.push_back({nextId_++, first, last, std::move(name)});
  Rebuild();
  return data_.back().id;
}

bool Breakpoints::RemoveData(int id) {
  const auto it = std::find_if(data_.begin(), data_.end(), [id](const DataBreakpoint& b) { return b.id == id; });
  if (it == data_.end()) return false;
  data_.erase(it);
  Rebuild();
  return true;
}

void Breakpoints::ClearData() {
  data_.clear();
  Rebuild();
}

void Breakpoints::Rebuild() {
  std::fill(at_.begin(), at_.end(), 0);
  for (const Entry& b : entries_) at_[b.bp.address] = 1;
  std::fill(watched_.begin(), watched_.end(), 0);
  for (const DataBreakpoint& d : data_)
    for (uint32_t a = d.first; a <= d.last; ++a) watched_[a] = 1;
}

int Breakpoints::Arrive(uint16_t pc, const runner::Cpu& cpu, const runner::Memory& memory, uint64_t pos) {
  for (Entry& b : entries_) {
    if (b.bp.address != pc || !b.bp.error.empty()) continue;
    if (b.condition && !b.condition->Holds(cpu, memory)) continue;
    ++b.bp.hits;
    b.arrivals.push_back(pos);
    ++arrivals_;
    if (b.bp.hitCount <= 1 || b.bp.hits == b.bp.hitCount) return b.bp.id;
  }
  return 0;
}

int Breakpoints::Left(uint16_t pc, const runner::Cpu& cpu, const runner::Memory& memory, uint64_t pos) const {
  for (const Entry& b : entries_) {
    if (b.bp.address != pc || !b.bp.error.empty()) continue;
    if (b.bp.hitCount <= 1) {
      if (!b.condition || b.condition->Holds(cpu, memory)) return b.bp.id;
      continue;
    }
    // Stepping back leaves the arrival at pos counted: the Nth is the last.
    if (b.bp.hits == b.bp.hitCount && !b.arrivals.empty() && b.arrivals.back() == pos) return b.bp.id;
  }
  return 0;
}

void Breakpoints::UndoArrivals(uint64_t pos) {
  for (Entry& b : entries_) {
    while (!b.arrivals.empty() && b.arrivals.back() > pos) {
      b.arrivals.pop_back();
      --b.bp.hits;
      --arrivals_;
    }
  }
}

void Breakpoints::Forget(uint64_t pos) {
  for (Entry& b : entries_) {
    while (!b.arrivals.empty() && b.arrivals.front() < pos) {
      b.arrivals.pop_front();
      --arrivals_;
    }
  }
}

void Breakpoints::ResetHits() {
  for (Entry& b : entries_) {
    b.bp.hits = 0;
    b.arrivals.clear();
  }
  arrivals_ = 0;
}

std::string Breakpoints::WatchName(uint16_t address) const {
  for (const DataBreakpoint& d : data_)
    if (address >= d.first && address <= d.last)
      return !d.name.empty() ? (d.first == d.last || address == d.first ? d.name
                                                                        : d.name + "+" + std::to_string(address - d.first))
                             : Hex4(address);
  return Hex4(address);
}

int Breakpoints::WatchId(uint16_t address) const {
  for (const DataBreakpoint& d : data_)
    if (address >= d.first && address <= d.last) return d.id;
  return 0;
}

}  // namespace orvane::debug
