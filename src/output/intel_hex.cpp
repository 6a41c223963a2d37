#include "output/intel_hex.h"

#include "front/numbers.h"

namespace orvane {

namespace {
// Sum of the pairs at characters 2-3, 4-5, ... (1-based) of `pairs` pairs.
uint32_t Checksum(std::string_view rec, int pairs) {
  uint32_t sum = 0;
  for (int k = 0; k < pairs; ++k) sum += static_cast<uint32_t>(HexPairValue(rec, 1 + 2 * static_cast<size_t>(k)));
  return (256 - sum % 256) % 256;
}
}  // namespace

void IntelHexWriter::Reset() {
  HexRecord.clear();
  HexRecordCount = 0;
  HexRecordOpen = false;
  HexNextAddr = -1;
  pendingEnd_.clear();
  haveEnd_ = false;
}

void IntelHexWriter::IntelHexAdd(int32_t HexAddr, std::string_view Codestr) {
  uint32_t addr = static_cast<uint32_t>(HexAddr);
  for (size_t i = 0; i < Codestr.size(); i += 2) {
    IntelHexBuild(static_cast<int32_t>(addr), Codestr.substr(i, 2));
    ++addr;
  }
}

void IntelHexWriter::IntelHexBuild(int32_t HexAddr, std::string_view HexByte) {
  // A closed record (after END flushed it) is never appended to.
  if (HexAddr != HexNextAddr || HexRecordCount >= 16 || !HexRecordOpen) {
    if (HexRecordOpen) IntelHexFlush();
    HexRecordOpen = true;
    HexRecordCount = 0;
    HexNextAddr = HexAddr;
    HexRecord.assign(":10");
    AppendHex4(HexRecord, static_cast<uint32_t>(HexAddr));
    HexRecord.append("00");
  }
  HexRecord.append(HexByte);
  HexNextAddr = static_cast<int32_t>(static_cast<uint32_t>(HexNextAddr) + 1);
  ++HexRecordCount;
}

void IntelHexWriter::IntelHexFlush() {
  if (!HexRecordOpen) return;
  HexRecord.resize(41, '0');
  AppendHex2(HexRecord, Checksum(HexRecord, 20));
  if (sink_) sink_->WriteLine(HexRecord);
  HexRecord.clear();
  HexRecordOpen = false;
}

std::string IntelHexWriter::CompleteEndRecord(std::string_view endRecord) {
  std::string rec(endRecord);
  AppendHex2(rec, Checksum(rec, 4));
  return rec;
}

void IntelHexWriter::IntelHexClose(std::string_view endRecord) {
  if (haveEnd_) return;
  pendingEnd_ = CompleteEndRecord(endRecord);
  haveEnd_ = true;
}

void IntelHexWriter::Finish() {
  IntelHexFlush();
  if (!haveEnd_) IntelHexClose(":00000001");
  HexRecord = pendingEnd_;
  if (sink_) sink_->WriteLine(pendingEnd_);
}

}  // namespace orvane
