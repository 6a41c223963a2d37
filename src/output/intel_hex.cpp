#include "output/intel_hex.h"

#include <algorithm>

#include "front/numbers.h"

namespace orvane {

namespace {
// The checksum of a record: the two's complement of the sum of its bytes,
// from the length to the last data byte (characters 2 onwards, 1-based).
void AppendChecksum(std::string& rec) {
  uint32_t sum = 0;
  for (size_t i = 1; i + 1 < rec.size(); i += 2) sum += static_cast<uint32_t>(HexPairValue(rec, i));
  AppendHex2(rec, (256 - sum % 256) % 256);
}
}  // namespace

void IntelHexWriter::IntelHexAdd(int32_t HexAddr, std::span<const uint8_t> bytes) {
  uint32_t addr = static_cast<uint32_t>(HexAddr);
  for (uint8_t b : bytes) {
    IntelHexBuild(static_cast<int32_t>(addr), b);
    ++addr;
  }
}

// :10 aaaa 00 and sixteen data bytes: a byte joins the open record when it
// follows the last one and the record is not full. A record never runs from
// FFFFH on to 0000H: the format has no wrap, and loaders differ on it.
void IntelHexWriter::IntelHexBuild(int32_t HexAddr, uint8_t HexByte) {
  if (HexAddr != HexNextAddr || HexRecordCount >= 16 || !HexRecordOpen || (HexAddr & 0xFFFF) == 0) {
    IntelHexFlush();
    HexRecordOpen = true;
    HexRecordCount = 0;
    HexNextAddr = HexAddr;
    HexRecord.assign(":10");
    AppendHex4(HexRecord, static_cast<uint32_t>(HexAddr));
    HexRecord.append("00");
  }
  AppendHex2(HexRecord, HexByte);
  HexNextAddr = static_cast<int32_t>(static_cast<uint32_t>(HexNextAddr) + 1);
  ++HexRecordCount;
}

// A record carries 16 bytes: a short one is filled up with 00. A record
// that reaches FFFFH declares only the bytes up to FFFFH, so that its filling
// does not run past the top of the address space.
void IntelHexWriter::IntelHexFlush() {
  if (!HexRecordOpen) return;
  const uint32_t first = static_cast<uint32_t>(HexNextAddr - HexRecordCount) & 0xFFFF;
  const uint32_t count = std::min<uint32_t>(16, 0x10000 - first);
  if (count < 16) {
    std::string length;
    AppendHex2(length, count);
    HexRecord.replace(1, 2, length);
  }
  HexRecord.resize(9 + 2 * count, '0');
  AppendChecksum(HexRecord);
  sink_.WriteLine(HexRecord);
  HexRecordOpen = false;
}

void IntelHexWriter::End(int32_t start) {
  IntelHexFlush();
  if (haveEnd_) return;
  haveEnd_ = true;
  start_ = start;
}

// :00 aaaa 01, the start address in the address field.
void IntelHexWriter::Finish() {
  IntelHexFlush();
  std::string rec(":00");
  AppendHex4(rec, static_cast<uint32_t>(start_));
  rec.append("01");
  AppendChecksum(rec);
  sink_.WriteLine(rec);
}

}  // namespace orvane
