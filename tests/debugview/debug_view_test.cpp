// Tables for the debugger window's texts: addresses typed into "Go to", the
// registers and flags with their changes marked, memory rows, bytes typed over
// memory, watched symbols and the source rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/debug_view.h"

namespace dv = orvane::debugview;

namespace {

dv::Registers SomeRegisters() {
  dv::Registers r;
  r.af = 0x1234, r.bc = 0x0005, r.de = 0xBEEF, r.hl = 0x0180, r.af2 = 0xFF00, r.bc2 = 0x1111;
  r.de2 = 0x2222, r.hl2 = 0x3333, r.ix = 0x4000, r.iy = 0x5000, r.sp = 0xFDFE, r.pc = 0x0103, r.i = 0, r.r = 0x7F;
  return r;
}

struct AddressRow {
  const char* text;
  int address;  // -1: refused
  const char* why;
};

const AddressRow kAddresses[] = {
    {"0100H", 0x0100, ""},           // as the listing writes it
    {"7bh", 0x7B, ""},
    {"&H7B", 0x7B, ""},              // the source's hex
    {"&o17", 15, ""},                // and octal
    {"258", 258, ""},                // decimal
    {"  65535 ", 0xFFFF, ""},
    {"hl", 0x0180, ""},              // a register pair's value
    {"SP", 0xFDFE, ""},
    {"PC", 0x0103, ""},
    {"IX", 0x4000, ""},
    {"hl'", 0x3333, ""},             // the alternate set
    {"count", 0x0150, ""},           // a symbol, in any case
    {"BUFSIZE", 0x0080, ""},         // an EQU
    {"BEEFH", 0x0BEE, ""},           // a symbol that looks like listing hex
    {"ABH", -1, "No register or symbol ABH"},  // listing hex starts with a digit
    {"65536", -1, "65536 is not an address (0 to 65535)"},
    {"&H10000", -1, "&H10000 is not an address (0 to 65535)"},
    {"-1", -1, "No register or symbol -1"},
    {"12X", -1, "No register or symbol 12X"},
    {"A", -1, "No register or symbol A"},  // an 8-bit register is no address
    {"", -1, "Type an address, a register or a symbol"},
};

TEST(DebugView, ResolveAddress) {
  const dv::Symbols symbols{{"COUNT", 0x150}, {"BUFSIZE", 128}, {"BEEFH", 0x0BEE}};
  for (const AddressRow& r : kAddresses) {
    std::string why;
    const auto a = dv::ResolveAddress(r.text, SomeRegisters(), symbols, why);
    EXPECT_EQ(a ? int{*a} : -1, r.address) << r.text;
    EXPECT_EQ(why, r.why) << r.text;
  }
}

TEST(DebugView, RegistersChangedSinceTheLastStop) {
  const dv::Registers before = SomeRegisters();
  dv::Registers now = before;
  EXPECT_EQ(dv::RegisterRows(now, before).size(), 14u);
  for (const dv::Shown& s : dv::RegisterRows(now, before)) EXPECT_FALSE(s.changed) << s.name;
  now.bc = 0x0004, now.pc = 0x0104, now.r = 0x00;  // DEC C... and the refresh counter wraps
  std::string changed, shown;
  for (const dv::Shown& s : dv::RegisterRows(now, before)) {
    shown += s.name + "=" + s.value + " ";
    if (s.changed) changed += s.name + " ";
  }
  EXPECT_EQ(changed, "BC PC R ");
  EXPECT_EQ(shown, "AF=1234 BC=0004 DE=BEEF HL=0180 AF'=FF00 BC'=1111 DE'=2222 HL'=3333 IX=4000 IY=5000 SP=FDFE "
                   "PC=0104 I=00 R=00 ");
  // EXX: both sets change places.
  now = before;
  std::swap(now.bc, now.bc2), std::swap(now.de, now.de2), std::swap(now.hl, now.hl2);
  changed.clear();
  for (const dv::Shown& s : dv::RegisterRows(now, before))
    if (s.changed) changed += s.name + " ";
  EXPECT_EQ(changed, "BC DE HL BC' DE' HL' ");
}

struct FlagRow {
  uint8_t f, before;
  const char* values;   // S Z Y H X P/V N C
  const char* changed;  // the flags marked
  const char* line;
};

const FlagRow kFlags[] = {
    {0x00, 0x00, "00000000", "", "- - - - - - - -"},
    {0xFF, 0x00, "11111111", "S Z Y H X P/V N C ", "S Z - H - P N C"},
    {0x44, 0x40, "01000100", "P/V ", "- Z - - - P - -"},  // only parity changed
    {0x01, 0x41, "00000001", "Z ", "- - - - - - - C"},    // Z cleared, C kept
    {0x28, 0x00, "00101000", "Y X ", "- - - - - - - -"},  // the two undocumented bits
    {0x93, 0x93, "10010011", "", "S - - H - - N C"},
};

TEST(DebugView, Flags) {
  for (const FlagRow& r : kFlags) {
    std::string values, changed;
    for (const dv::Shown& s : dv::FlagRows(r.f, r.before)) {
      values += s.value;
      if (s.changed) changed += s.name + " ";
    }
    EXPECT_EQ(values, r.values) << int{r.f};
    EXPECT_EQ(changed, r.changed) << int{r.f};
    EXPECT_EQ(dv::FlagsLine(r.f), r.line) << int{r.f};
  }
}

struct ByteRow {
  const char* text;
  int value;  // -1: refused
};

const ByteRow kBytes[] = {
    {"3E", 0x3E}, {"3e", 0x3E}, {"f", 0x0F}, {" 7 ", 7},
    {"12", 0x12},     // two digits in the hex view are hex
    {"255", 255},     // three are decimal
    {"0FFH", 255},    {"&HFF", 255}, {"&O377", 255},
    {"256", -1},      {"100H", -1}, {"", -1}, {"G", -1}, {"3E 41", -1}, {"-1", -1},
};

TEST(DebugView, ByteTypedOverMemory) {
  for (const ByteRow& r : kBytes) {
    const auto b = dv::ParseByte(r.text);
    EXPECT_EQ(b ? int{*b} : -1, r.value) << r.text;
  }
}

struct ValueRow {
  const char* text;
  int bits;
  int value;  // -1: refused
};

const ValueRow kValues[] = {
    {"1234", 16, 0x1234},  // four digits in a 16-bit register are hex
    {"ffff", 16, 0xFFFF}, {"7", 16, 7},
    {"65535", 16, 0xFFFF},  // five are decimal
    {"65536", 16, -1},     {"10000H", 16, -1},
    {"&H8000", 16, 0x8000}, {"0FFFFH", 16, 0xFFFF},
    {"count", 16, 0x0150},  // a symbol's value
    {"bufsize", 8, 0x80},   {"count", 8, -1},  // too big for I or R
    {"nothing", 16, -1},   {"", 16, -1},
    {"100", 8, 100},       {"1FF", 8, -1},
};

TEST(DebugView, ValueTypedOverARegister) {
  const dv::Symbols symbols{{"COUNT", 0x150}, {"BUFSIZE", 128}};
  for (const ValueRow& r : kValues) {
    const auto v = dv::ParseValue(r.text, r.bits, symbols);
    EXPECT_EQ(v ? int{*v} : -1, r.value) << r.text << " " << r.bits;
  }
}

TEST(DebugView, MemoryRow) {
  const std::vector<uint8_t> bytes{'H', 'i', '!', 0x00, 0x7F, 0x20, 0x80, 0xFF, 0x0D, 0x0A, '$', '~', 0x1F, 'z', '0', 0x3E};
  EXPECT_EQ(dv::MemoryRowText(0x0100, bytes),
            "0100  48 69 21 00 7F 20 80 FF 0D 0A 24 7E 1F 7A 30 3E  Hi!.. ....$~.z0>");
  EXPECT_EQ(dv::MemoryRowText(0xFFF0, std::span(bytes).first(2)), "FFF0  48 69  Hi");
}

TEST(DebugView, WatchedSymbols) {
  std::vector<uint8_t> memory(0x10000);
  const std::string text = "COUNT:\x01\x02";
  std::copy(text.begin(), text.end(), memory.begin() + 0x0150);
  memory[0xFFFF] = 0x41;
  const dv::Symbols symbols{{"COUNT", 0x150}, {"TOP", 0xFFFF}, {"MINUS", -2}};
  auto row = [&](const char* name) {
    const dv::WatchRow w = dv::Watch(name, symbols, memory);
    return w.name + "|" + w.value + "|" + w.bytes + "|" + (w.known ? "known" : "unknown");
  };
  EXPECT_EQ(row("count"), "COUNT|0150H (336)|43 4F 55 4E 54 3A 01 02  COUNT:..|known");
  EXPECT_EQ(row("TOP"), "TOP|FFFFH (65535)|41 00 00 00 00 00 00 00  A.......|known");  // wraps to 0000H
  EXPECT_EQ(row("MINUS"), "MINUS|FFFEH (-2)|00 41 00 00 00 00 00 00  .A......|known");
  EXPECT_EQ(row(" nothing "), "NOTHING|not a symbol of the program||unknown");
}

TEST(DebugView, TStates) {
  EXPECT_EQ(dv::TStatesText(0, 0), "T-states: 0 since the start, 0 since the last stop");
  EXPECT_EQ(dv::TStatesText(12929375, 1000), "T-states: 12,929,375 since the start, 1,000 since the last stop");
  EXPECT_EQ(dv::TStatesText(999, 100), "T-states: 999 since the start, 100 since the last stop");
}

struct SourceCase {
  const char* source;
  std::vector<uint8_t> bytes;
  bool toObject;
  size_t imageSize;
  const char* row;  // line|address|bytes|text
};

TEST(DebugView, SourceRows) {
  const std::vector<uint8_t> ds(20, 0x41);
  const SourceCase cases[] = {
      {"\tCALL\t5\t; print", {0xCD, 0x05, 0x00}, true, 3, "7|259|CD0500|        CALL    5       ; print"},
      {"START:  LD A,1\r", {0x3E, 0x01}, true, 0, "7|256|3E01|START:  LD A,1"},
      {"; a comment   ", {}, false, 9, "7|-1||; a comment"},
      {"COUNT   EQU 5", {}, false, 9, "7|-1||COUNT   EQU 5"},
      {"MSG:  DS 'AAAAAAAAAAAAAAAAAAAA'", ds, true, 16, "7|272|4141414141414141...|MSG:  DS 'AAAAAAAAAAAAAAAAAAAA'"},
      {"  NOP", {0x00}, true, 0xFF00, "7|-1|00|  NOP"},  // past the top of memory: no address
  };
  for (const SourceCase& c : cases) {
    orvane::Statement s;
    s.line = 7;
    s.source = c.source;
    s.bytes = c.bytes;
    s.toObject = c.toObject;
    const dv::SourceRow r = dv::MakeSourceRow(s, c.imageSize);
    EXPECT_EQ(std::to_string(r.line) + "|" + std::to_string(r.address) + "|" + r.bytes + "|" + r.text, c.row) << c.source;
  }
}

}  // namespace
