// Intel HEX and raw images into the board's memory.
#include <cctype>
#include <cstdio>

#include "board/board.h"

namespace orvane::board {

namespace {

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

}  // namespace

bool Board::LoadHex(const std::string& text, std::string& error) {
  size_t pos = 0;
  bool ended = false;
  for (int n = 1; pos < text.size() && !ended; ++n) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    const auto fail = [&](const std::string& why) {
      error = "line " + std::to_string(n) + ": " + why;
      return false;
    };
    if (line.empty()) continue;
    if (line[0] != ':') return fail("an Intel HEX record starts with ':'");
    if (line.size() < 11 || line.size() % 2 == 0) return fail("a record has an odd number of hex digits after ':'");
    std::vector<uint8_t> b;
    for (size_t i = 1; i < line.size(); i += 2) {
      const int hi = Nibble(line[i]), lo = Nibble(line[i + 1]);
      if (hi < 0 || lo < 0) {
        std::string what = "'";
        what += line.substr(i, 2);
        what += "' is not a hex byte";
        return fail(what);
      }
      b.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    if (b.size() != size_t{b[0]} + 5)
      return fail("the record says " + std::to_string(b[0]) + " data bytes but has " + std::to_string(b.size() - 5));
    uint8_t sum = 0;
    for (uint8_t x : b) sum = static_cast<uint8_t>(sum + x);
    if (sum != 0) return fail("checksum error (the bytes add up to " + std::to_string(sum) + ", not 0)");
    const uint16_t address = static_cast<uint16_t>(b[1] << 8 | b[2]);
    switch (b[3]) {
      case 0x00: {
        if (address + uint32_t{b[0]} > 0x10000) return fail("the data runs past FFFFH");
        for (int i = 0; i < b[0]; ++i) {
          const auto a = static_cast<uint16_t>(address + i);
          if (page(a) == Kind::kNone)
            return fail("the data at " + Hex4(a) + " falls where board " + profile_.name + " has no memory (" +
                        profile_.Describe() + ")");
          mem_.bytes[a] = b[4 + static_cast<size_t>(i)];
        }
        break;
      }
      case 0x01:
        start_ = address;
        ended = true;
        break;
      case 0x02:
      case 0x04:
        return fail(std::string("record type 0") + char('0' + b[3]) + " (extended " +
                    (b[3] == 2 ? "segment" : "linear") +
                    " address) is not taken: the board has 64 KiB of addresses and no banking");
      default:
        return fail("record type " + std::to_string(b[3]) + " is not taken (only 00 data and 01 end of file)");
    }
  }
  if (!ended) return error = "the file has no end record (:00000001FF); it may be cut short", false;
  Reset(start_);
  return true;
}

bool Board::LoadBinary(const std::vector<uint8_t>& bytes, uint16_t address, std::string& error) {
  if (bytes.empty()) return error = "the image is empty", false;
  if (address + bytes.size() > 0x10000)
    return error = "the image is " + std::to_string(bytes.size()) + " bytes; at " + Hex4(address) + " at most " +
                   std::to_string(0x10000 - address) + " fit below 10000H",
           false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto a = static_cast<uint16_t>(address + i);
    if (page(a) == Kind::kNone)
      return error = "the image's byte at " + Hex4(a) + " falls where board " + profile_.name +
                     " has no memory (" + profile_.Describe() + ")",
             false;
    mem_.bytes[a] = bytes[i];
  }
  start_ = 0;
  Reset(start_);
  return true;
}

}  // namespace orvane::board
