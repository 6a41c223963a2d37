// orvane-bench-symbols: the cost of one symbol lookup (SymbolTable::Find, that
// of the operand evaluators) with 16 symbols and with 16384, the
// table's capacity. A lookup must not grow with the table: a program with
// thousands of labels would otherwise pay for every symbolic operand.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "front/symbols.h"

namespace {

std::string Name(int i) {
  static const char* const kWords[] = {"LOOP", "NEXT", "SKIP", "DONE", "INIT", "READ", "SEND", "WAIT"};
  return std::string(kWords[i % 8]) + std::to_string(i);
}

// Nanoseconds per lookup of names that are all in a table of `size` symbols.
double NsPerLookup(int size, long lookups) {
  orvane::SymbolTable table;
  std::vector<std::string> names;
  for (int i = 0; i < size; ++i) {
    names.push_back(Name(i));
    table.AddLabel(names.back() + ":", 256 + i);
  }
  // Visit the names in a scattered order, as operands of a program do.
  std::vector<std::string> order;
  uint64_t x = 12345;
  for (int i = 0; i < 4096; ++i) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    order.push_back(names[static_cast<size_t>((x >> 33) % static_cast<uint64_t>(size))]);
  }
  uint64_t check = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < lookups; ++i) check += static_cast<uint64_t>(table.Find(order[static_cast<size_t>(i & 4095)]));
  const auto end = std::chrono::steady_clock::now();
  if (check == 0) std::printf("(no symbol found)\n");
  return std::chrono::duration<double, std::nano>(end - start).count() / static_cast<double>(lookups);
}

}  // namespace

int main() {
  const long kLookups = 20'000'000;
  NsPerLookup(16, kLookups / 10);  // warm up
  const double small = NsPerLookup(16, kLookups);
  const double full = NsPerLookup(orvane::SymbolTable::kCapacity, kLookups);
  std::printf("FindLabel with %5d symbols: %6.1f ns per lookup\n", 16, small);
  std::printf("FindLabel with %5d symbols: %6.1f ns per lookup\n", orvane::SymbolTable::kCapacity, full);
  std::printf("ratio: %.2f\n", full / small);
  return 0;
}
