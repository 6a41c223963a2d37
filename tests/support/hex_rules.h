// What the Intel HEX writer promises of a file, checked from the file alone
// and against the object bytes a run sent. The golden tests and fuzz_run both
// judge HEX files by these rules; they are written from the README, not from
// the writer's code.
//  - Every line is ":LLAAAATT", LL data bytes and a checksum in upper-case
//    hex, ended by CR LF; the bytes from LL to the checksum sum to 0 modulo
//    256.
//  - A data record (type 00) declares 16 bytes, except that one starting at
//    FFF1H..FFFFH declares only the bytes up to FFFFH: no record runs from
//    FFFFH on to 0000H.
//  - The last line, and only it, is the end record: type 01, no data.
//  - Read in file order, the data records hold the object bytes in the order
//    they were sent, each at its address (modulo 64 KiB). A byte joins the
//    record before it when it follows the last one, the record has room and
//    no END came between; otherwise it starts a record of its own. The
//    positions of a record after its last object byte hold 00.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::hex_rules {

struct Record {
  uint32_t address = 0;
  unsigned type = 0;
  std::vector<uint8_t> data;
};

inline int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The records of a file; the first broken rule of form as "line N: what".
inline std::string Parse(std::string_view file, std::vector<Record>& records) {
  records.clear();
  size_t line = 0;
  for (size_t at = 0; at < file.size();) {
    const std::string where = "line " + std::to_string(++line) + ": ";
    const size_t eol = file.find("\r\n", at);
    if (eol == std::string_view::npos) return where + "no CR LF at its end";
    const std::string_view text = file.substr(at, eol - at);
    at = eol + 2;
    if (text.size() < 11 || text[0] != ':' || text.size() % 2 == 0) return where + "not a record";
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i < text.size(); i += 2) {
      const int high = Digit(text[i]), low = Digit(text[i + 1]);
      if (high < 0 || low < 0) return where + "not upper-case hex digits";
      bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    if (bytes[0] + 5u != bytes.size()) return where + "the length byte disagrees with the record";
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    if (sum % 256 != 0) return where + "bad checksum";
    Record r{static_cast<uint32_t>(bytes[1] * 256 + bytes[2]), bytes[3],
             std::vector<uint8_t>(bytes.begin() + 4, bytes.end() - 1)};
    if (!records.empty() && records.back().type == 1) return where + "a record after the end record";
    if (r.type == 1 && !r.data.empty()) return where + "an end record with data";
    if (r.type != 0 && r.type != 1) return where + "a record type other than 00 and 01";
    if (r.type == 0 && r.data.size() != std::min<uint32_t>(16, 0x10000 - r.address))
      return where + "a data record of " + std::to_string(r.data.size()) + " bytes from " + std::to_string(r.address);
    records.push_back(std::move(r));
  }
  if (records.empty() || records.back().type != 1) return "no end record last";
  return "";
}

// The object bytes of a run as it sent them, for Holds.
struct Sent {
  struct Piece {
    uint32_t address;
    std::vector<uint8_t> bytes;
    bool afterEnd;  // an END came between this piece and the one before
  };
  std::vector<Piece> pieces;
  bool endSeen = false;
  void Bytes(int64_t address, const uint8_t* data, size_t size) {
    if (size == 0) return;
    pieces.push_back({static_cast<uint32_t>(address) & 0xFFFF, std::vector<uint8_t>(data, data + size), endSeen});
    endSeen = false;
  }
  void End() { endSeen = true; }
};

// Whether the data records of a well-formed file hold exactly what was sent.
inline std::string Holds(const std::vector<Record>& records, const Sent& sent) {
  size_t r = 0, used = 0;  // the record being read and the bytes of it used
  uint32_t next = 0;       // the address that would join it
  bool open = false;       // whether a record has been started
  auto fillerOnly = [&] {
    for (size_t i = used; open && i < records[r].data.size(); ++i)
      if (records[r].data[i] != 0) return false;
    return true;
  };
  size_t n = 0;
  for (const Sent::Piece& p : sent.pieces) {
    uint32_t address = p.address;
    for (size_t i = 0; i < p.bytes.size(); ++i, address = (address + 1) & 0xFFFF, ++n) {
      const std::string what = "object byte " + std::to_string(n) + " at " + std::to_string(address) + ": ";
      const bool joins = open && address == next && used < records[r].data.size() && !(i == 0 && p.afterEnd);
      if (!joins) {
        if (!fillerOnly()) return what + "the record before it goes on with bytes other than 00";
        r = open ? r + 1 : 0;
        if (r >= records.size() || records[r].type != 0) return what + "no record for it";
        if (records[r].address != address) return what + "the record starts at " + std::to_string(records[r].address);
        open = true;
        used = 0;
      }
      if (records[r].data[used] != p.bytes[i]) return what + "the record holds another value";
      ++used;
      next = (address + 1) & 0xFFFF;
    }
  }
  if (!fillerOnly()) return "the last data record goes on with bytes other than 00";
  if ((open ? r + 1 : 0) + 1 != records.size()) return "data records beyond the object bytes";
  return "";
}

}  // namespace orvane::hex_rules
