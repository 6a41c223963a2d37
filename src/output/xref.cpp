#include "output/xref.h"

#include <algorithm>
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
    if (symbols.Find(symbols.Slot(i).name) == i) slots.push_back(i);
  }
  return slots;
}

void AppendLines(std::string& line, std::vector<int64_t> lines) {
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  for (int64_t n : lines) line += ' ' + std::to_string(n);
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
  std::vector<int> slots = Symbols(symbols);
  std::sort(slots.begin(), slots.end(),
            [&](int a, int b) { return symbols.Slot(a).name < symbols.Slot(b).name; });
  std::map<int, std::vector<int64_t>> uses;
  std::map<std::string, std::vector<int64_t>> undefined;
  for (const CrossReference::Use& u : xref.uses) {
    if (u.slot != 0) uses[u.slot].push_back(u.line);
    else undefined[u.name].push_back(u.line);
  }

  out.WriteLine(Row("SYMBOL", "VALUE  DEFINED  REFERENCED"));
  for (int slot : slots) {
    const LabelEntry& e = symbols.Slot(slot);
    std::string rest;
    AppendHex4(rest, static_cast<uint32_t>(e.address));
    rest += "H  ";
    const std::string defined = std::to_string(e.line);
    rest.append(defined.size() < 7 ? 7 - defined.size() : 0, ' ').append(defined).append(" ");
    if (auto it = uses.find(slot); it != uses.end()) AppendLines(rest, it->second);
    out.WriteLine(Row(e.name, Trim(rest)));
  }
  std::vector<std::string> section;
  auto Section = [&](const char* title) {
    out.WriteLine("");
    out.WriteLine(title);
    if (section.empty()) out.WriteLine("(none)");
    for (const std::string& line : section) out.WriteLine(line);
    section.clear();
  };
  for (const auto& [name, lines] : undefined) {
    std::string rest;
    AppendLines(rest, lines);
    section.push_back(Row(name, Trim(rest)));
  }
  Section("Referred to but not defined:");
  for (int slot : slots) {
    if (uses.count(slot) == 0) section.push_back(symbols.Slot(slot).name);
  }
  Section("Defined but never referred to:");
  for (const auto& [name, line] : xref.duplicates) {
    const int first = symbols.Slot(symbols.Find(name)).line;
    section.push_back(Row(name, "line " + std::to_string(line) + ", first on line " + std::to_string(first)));
  }
  Section("Defined more than once (the first definition counts):");
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
