// What the debugger window shows, as text: the source rows, the registers and
// flags with the values changed since the last stop marked, the memory rows,
// the watched symbols, the T-states and the addresses typed into "Go to".
// No Qt here; the window only puts these texts on the screen.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/result.h"

namespace orvane::debugview {

// One source line as the window lists it.
struct SourceRow {
  int line = 0;
  int address = -1;   // where its bytes start; -1 for a line that sends none
  std::string bytes;  // "CD0500"; a long DS shows its first bytes and "..."
  std::string tstates;  // "7", "12/7" (taken/not taken), "21/16" (repeating/last); blank but for an instruction
  std::string text;   // the line as written, tabs expanded
};
// The row of a pass-2 statement, given how many bytes of the CP/M image the
// statements before it made (the image is loaded at 0100H).
SourceRow MakeSourceRow(const Statement& s, size_t imageSize);
// The same for a program placed at its own addresses (a board's): the row's
// address is the statement's.
SourceRow MakePlacedSourceRow(const Statement& s);
// Bytes shown in the bytes column before "...".
inline constexpr size_t kRowBytes = 8;

// The program's symbols by name, upper case as the assembler keeps them.
using Symbols = std::map<std::string, int32_t, std::less<>>;

struct Registers {
  uint16_t af = 0, bc = 0, de = 0, hl = 0;
  uint16_t af2 = 0, bc2 = 0, de2 = 0, hl2 = 0;  // the alternate set
  uint16_t ix = 0, iy = 0, sp = 0, pc = 0;
  uint8_t i = 0, r = 0;
};

// A value as shown, and whether it changed since the last stop.
struct Shown {
  std::string name, value;
  bool changed = false;
};
// AF BC DE HL AF' BC' DE' HL' IX IY SP PC I R, in hex ("0100", "3F").
std::vector<Shown> RegisterRows(const Registers& now, const Registers& before);
// The flags of F from bit 7 down: SF ZF YF HF XF PVF NF CF, each "1" or "0".
std::vector<Shown> FlagRows(uint8_t f, uint8_t before);
// "S Z - H - P - C" with a dash for each flag that is clear: F at a glance.
std::string FlagsLine(uint8_t f);

// "0102H"
std::string HexAddress(uint16_t address);
// "T-states: 1,234 since the start, 56 since the last stop"
std::string TStatesText(uint64_t total, int64_t sinceStop);

// An address typed by the user: a number as the source writes them (123,
// &H7B, &O173) or as the listing does (7BH, 0100H), a 16-bit register (HL,
// SP, PC, IX, ...) whose value it is, or a symbol. Empty with why set when it
// names none of these.
std::optional<uint16_t> ResolveAddress(std::string_view text, const Registers& registers, const Symbols& symbols,
                                       std::string& why);

// A memory byte as a character: printable ASCII as itself, anything else '.'.
char MemoryChar(uint8_t byte);
// One row of the memory view: "0100  3E 41 ... 00  >A.............."
std::string MemoryRowText(uint16_t address, std::span<const uint8_t> bytes);
// A value typed over one shown in hex, of 8 or 16 bits: up to bits/4 hex
// digits, or a number as ResolveAddress reads them, or a symbol's value, when
// it fits.
std::optional<uint16_t> ParseValue(std::string_view text, int bits, const Symbols& symbols);
// A byte typed over one in the memory view.
std::optional<uint8_t> ParseByte(std::string_view text);

// A watched symbol: its value, and the bytes at that address (kWatchBytes
// of them) in hex and as characters.
inline constexpr int kWatchBytes = 8;
struct WatchRow {
  std::string name, value, bytes;
  bool known = false;
};
WatchRow Watch(std::string_view name, const Symbols& symbols, std::span<const uint8_t> memory);

}  // namespace orvane::debugview
