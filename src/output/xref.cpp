#include "output/xref.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "front/numbers.h"
#include "front/text.h"

namespace orvane {

namespace {

// The slots that hold a name first (a later slot of the same name lost).
std::vector<int> Symbols(const SymbolTable& symbols) {
  std::vector<int> slots;
  for (int i = 1; i <= symbols.Used(); ++i) {
    if (symbols.Slot(i).first) slots.push_back(i);
  }
  return slots;
}

// Line numbers in order, each once (END reads its operand twice).
template <typename Lines>
void AppendLines(std::string& line, const Lines& lines) {
  int64_t last = -1;
  for (int64_t n : lines) {
    if (n != last) line += ' ' + std::to_string(n);
    last = n;
  }
}

// A name column of at least 16 characters, then the rest.
std::string Row(std::string_view name, std::string_view rest) {
  std::string line(name);
  line += ' ';
  if (line.size() < 17) line.append(17 - line.size(), ' ');
  return line.append(rest);
}

}  // namespace

void WriteCrossReference(const SymbolTable& symbols, const CrossReference& xref, OutputSink& out) {
  // Sorted by name: the names are compared where they lie, each found once.
  std::vector<std::pair<std::string_view, int>> named;
  for (int slot : Symbols(symbols)) named.emplace_back(symbols.Slot(slot).name, slot);
  std::sort(named.begin(), named.end());
  // The lines that use each slot, in order: pass 2 recorded them in line
  // order, so placing them slot by slot keeps that order.
  std::vector<size_t> start(static_cast<size_t>(symbols.Used()) + 2, 0);
  for (const CrossReference::Use& u : xref.uses) ++start[static_cast<size_t>(u.slot) + 1];
  for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
  std::vector<int64_t> lines(xref.uses.size());
  std::vector<size_t> next(start.begin(), start.end() - 1);
  for (const CrossReference::Use& u : xref.uses) lines[next[static_cast<size_t>(u.slot)]++] = u.span.line;
  auto usesOf = [&](int slot) {
    return std::vector<int64_t>(lines.begin() + static_cast<std::ptrdiff_t>(start[static_cast<size_t>(slot)]),
                                lines.begin() + static_cast<std::ptrdiff_t>(start[static_cast<size_t>(slot) + 1]));
  };

  out.WriteLine(Row("SYMBOL", "VALUE  DEFINED  REFERENCED"));
  std::vector<std::string> unused;
  for (const auto& [name, slot] : named) {
    const LabelEntry& e = symbols.Slot(slot);
    std::string rest;
    AppendHex4(rest, static_cast<uint32_t>(e.address));
    rest += "H  ";
    const std::string defined = std::to_string(e.span.line);
    rest.append(defined.size() < 7 ? 7 - defined.size() : 0, ' ').append(defined).append(" ");
    const std::vector<int64_t> lines = usesOf(slot);
    if (lines.empty()) unused.push_back(e.name);
    AppendLines(rest, lines);
    out.WriteLine(Row(e.name, Trim(rest)));
  }
  auto Section = [&](const char* title, const std::vector<std::string>& lines) {
    out.WriteLine("");
    out.WriteLine(title);
    if (lines.empty()) out.WriteLine("(none)");
    for (const std::string& line : lines) out.WriteLine(line);
  };
  std::map<std::string, std::vector<int64_t>> undefined;  // lines in order, as recorded
  for (const auto& [name, span] : xref.undefined) undefined[name].push_back(span.line);
  std::vector<std::string> section;
  for (const auto& [name, lines] : undefined) {
    std::string rest;
    AppendLines(rest, lines);
    section.push_back(Row(name, Trim(rest)));
  }
  Section("Referred to but not defined:", section);
  Section("Defined but never referred to:", unused);
  section.clear();
  for (const auto& [name, span] : xref.duplicates) {
    const int64_t first = symbols.Slot(symbols.Find(name)).span.line;
    section.push_back(Row(name, "line " + std::to_string(span.line) + ", first on line " + std::to_string(first)));
  }
  Section("Defined more than once (the first definition counts):", section);
}

void WriteSymbolFile(const SymbolTable& symbols, OutputSink& out) {
  std::vector<int> slots = Symbols(symbols);
  std::stable_sort(slots.begin(), slots.end(), [&](int a, int b) {
    const LabelEntry &x = symbols.Slot(a), &y = symbols.Slot(b);
    return (x.address & 0xFFFF) != (y.address & 0xFFFF) ? (x.address & 0xFFFF) < (y.address & 0xFFFF) : x.name < y.name;
  });
  for (int slot : slots) {
    const LabelEntry& e = symbols.Slot(slot);
    // A label loses one colon at its end when it is read, so a name that
    // ends in one is written with one more.
    std::string line = e.name + (e.name.back() == ':' ? ": EQU &H" : " EQU &H");
    AppendHex4(line, static_cast<uint32_t>(e.address));
    out.WriteLine(line);
  }
}

}  // namespace orvane
