#include "app/debug_view.h"

#include <algorithm>
#include <cctype>

#include "encoder/timing.h"
#include "front/numbers.h"

namespace orvane::debugview {

namespace {

constexpr uint16_t kLoadAddress = 0x0100;  // where CP/M loads the image

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

std::string Trimmed(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t"), last = s.find_last_not_of(" \t");
  return first == std::string_view::npos ? std::string() : std::string(s.substr(first, last - first + 1));
}

std::string Hex2(uint8_t b) {
  std::string s;
  AppendHex2(s, b);
  return s;
}

std::string Hex4(uint16_t w) {
  std::string s;
  AppendHex4(s, w);
  return s;
}

// "7BH", "0100H": hex digits starting with a decimal digit, then H.
std::optional<int32_t> ListingHex(std::string_view s) {
  if (s.size() < 2 || s.size() > 9 || std::toupper(static_cast<unsigned char>(s.back())) != 'H') return std::nullopt;
  s.remove_suffix(1);
  if (!std::isdigit(static_cast<unsigned char>(s.front()))) return std::nullopt;
  int64_t v = 0;
  for (char c : s) {
    const int d = HexDigitValue(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + d;
  }
  return static_cast<int32_t>(v);
}

const std::pair<const char*, uint16_t Registers::*> kPairs[] = {
    {"AF", &Registers::af},   {"BC", &Registers::bc},   {"DE", &Registers::de},   {"HL", &Registers::hl},
    {"AF'", &Registers::af2}, {"BC'", &Registers::bc2}, {"DE'", &Registers::de2}, {"HL'", &Registers::hl2},
    {"IX", &Registers::ix},   {"IY", &Registers::iy},   {"SP", &Registers::sp},   {"PC", &Registers::pc},
};

}  // namespace

SourceRow MakeSourceRow(const Statement& s, size_t imageSize) {
  SourceRow row;
  row.line = static_cast<int>(s.line);
  if (s.toObject && !s.bytes.empty() && imageSize + kLoadAddress <= 0xFFFF)
    row.address = static_cast<int>(imageSize + kLoadAddress);
  if (s.toObject) {
    for (size_t i = 0; i < s.bytes.size() && i < kRowBytes; ++i) AppendHex2(row.bytes, s.bytes[i]);
    if (s.bytes.size() > kRowBytes) row.bytes += "...";
  }
  row.tstates = TimingText(StatementTiming(s));
  for (char c : s.source) {
    if (c == '\t') {
      row.text.append(8 - row.text.size() % 8, ' ');
    } else if (c != '\r' && c != '\n') {
      row.text += c;
    }
  }
  while (!row.text.empty() && row.text.back() == ' ') row.text.pop_back();
  return row;
}

SourceRow MakePlacedSourceRow(const Statement& s) {
  SourceRow row = MakeSourceRow(s, 0);
  row.address = s.toObject && !s.bytes.empty() && s.address >= 0 && s.address <= 0xFFFF ? s.address : -1;
  return row;
}

std::vector<Shown> RegisterRows(const Registers& now, const Registers& before) {
  std::vector<Shown> rows;
  for (const auto& [name, field] : kPairs) rows.push_back({name, Hex4(now.*field), now.*field != before.*field});
  rows.push_back({"I", Hex2(now.i), now.i != before.i});
  rows.push_back({"R", Hex2(now.r), now.r != before.r});
  return rows;
}

std::vector<Shown> FlagRows(uint8_t f, uint8_t before) {
  // Named so that none reads as a register: H and C are registers.
  static const char* const kNames[] = {"SF", "ZF", "YF", "HF", "XF", "PVF", "NF", "CF"};
  std::vector<Shown> rows;
  for (int bit = 7; bit >= 0; --bit) {
    const bool set = (f >> bit) & 1;
    rows.push_back({kNames[7 - bit], set ? "1" : "0", set != (((before >> bit) & 1) != 0)});
  }
  return rows;
}

std::string FlagsLine(uint8_t f) {
  static const char kNames[] = "SZ-H-PNC";
  std::string line;
  for (int bit = 7; bit >= 0; --bit) {
    if (!line.empty()) line += ' ';
    const bool named = kNames[7 - bit] != '-';
    line += named && ((f >> bit) & 1) ? kNames[7 - bit] : '-';
  }
  return line;
}

std::string HexAddress(uint16_t address) { return Hex4(address) + "H"; }

std::string TStatesText(uint64_t total, int64_t sinceStop) {
  auto grouped = [](uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
      if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
      out += digits[i];
    }
    return out;
  };
  // After a step back the program stands earlier than at the last stop.
  const uint64_t moved = sinceStop < 0 ? 0 - static_cast<uint64_t>(sinceStop) : static_cast<uint64_t>(sinceStop);
  return "T-states: " + grouped(total) + " since the start, " + (sinceStop < 0 ? "-" : "") + grouped(moved) +
         " since the last stop";
}

std::optional<uint16_t> ResolveAddress(std::string_view text, const Registers& registers, const Symbols& symbols,
                                       std::string& why) {
  const std::string t = Upper(Trimmed(text));
  why.clear();
  if (t.empty()) {
    why = "Type an address, a register or a symbol";
    return std::nullopt;
  }
  for (const auto& [name, field] : kPairs) {
    if (t == name) return registers.*field;
  }
  if (const auto it = symbols.find(t); it != symbols.end()) return static_cast<uint16_t>(it->second);
  std::optional<int32_t> n = ListingHex(t);
  if (!n && (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '&')) n = StrictNumber(t);
  if (n) {
    if (*n < 0 || *n > 0xFFFF) {
      why = t + " is not an address (0 to 65535)";
      return std::nullopt;
    }
    return static_cast<uint16_t>(*n);
  }
  why = "No register or symbol " + t;
  return std::nullopt;
}

char MemoryChar(uint8_t byte) { return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.'; }

std::string MemoryRowText(uint16_t address, std::span<const uint8_t> bytes) {
  std::string row = Hex4(address) + " ", chars;
  for (uint8_t b : bytes) {
    row += ' ' + Hex2(b);
    chars += MemoryChar(b);
  }
  return row + "  " + chars;
}

std::optional<uint16_t> ParseValue(std::string_view text, int bits, const Symbols& symbols) {
  const std::string t = Upper(Trimmed(text));
  const int32_t top = (1 << bits) - 1;
  if (!t.empty() && t.size() <= static_cast<size_t>(bits / 4) &&
      std::all_of(t.begin(), t.end(), [](char c) { return HexDigitValue(c) >= 0; })) {
    int32_t v = 0;
    for (char c : t) v = v * 16 + HexDigitValue(c);
    return static_cast<uint16_t>(v);
  }
  std::optional<int32_t> n = ListingHex(t);
  if (!n && !t.empty() && (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '&')) n = StrictNumber(t);
  if (!n) {
    const auto it = symbols.find(t);
    if (it != symbols.end()) n = it->second & 0xFFFF;
  }
  if (!n || *n < 0 || *n > top) return std::nullopt;
  return static_cast<uint16_t>(*n);
}

std::optional<uint8_t> ParseByte(std::string_view text) {
  const auto v = ParseValue(text, 8, {});
  if (!v) return std::nullopt;
  return static_cast<uint8_t>(*v);
}

WatchRow Watch(std::string_view name, const Symbols& symbols, std::span<const uint8_t> memory) {
  WatchRow row;
  row.name = Upper(Trimmed(name));
  const auto it = symbols.find(row.name);
  if (it == symbols.end()) {
    row.value = "not a symbol of the program";
    return row;
  }
  row.known = true;
  const auto address = static_cast<uint16_t>(it->second);
  row.value = HexAddress(address) + " (" + std::to_string(it->second) + ")";
  std::string chars;
  for (int i = 0; i < kWatchBytes; ++i) {
    const size_t at = (address + static_cast<size_t>(i)) & 0xFFFF;
    const uint8_t b = at < memory.size() ? memory[at] : 0;
    if (i > 0) row.bytes += ' ';
    row.bytes += Hex2(b);
    chars += MemoryChar(b);
  }
  row.bytes += "  " + chars;
  return row;
}

}  // namespace orvane::debugview
