// Intel HEX writer: 16-byte data records (type 00), filled up with 00 bytes,
// and one end-of-file record (type 01). All of the record syntax is here.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "output/sink.h"

namespace orvane {

// One writer per run, so nothing of an earlier run's records can show.
class IntelHexWriter {
 public:
  explicit IntelHexWriter(OutputSink& sink) : sink_(sink) {}

  // Object bytes, the first at HexAddr.
  void IntelHexAdd(int32_t HexAddr, std::span<const uint8_t> bytes);
  // An END statement: the open record is written now, so bytes after END
  // start a record of their own; the first END gives the start address.
  void End(int32_t start);
  // At the end of pass 2: the open data record, then the end record with the
  // first END's start address, or 0000 for a program without END.
  void Finish();

 private:
  void IntelHexBuild(int32_t HexAddr, uint8_t HexByte);
  void IntelHexFlush();

  OutputSink& sink_;
  std::string HexRecord;
  int32_t HexNextAddr = -1;
  bool HexRecordOpen = false;
  int16_t HexRecordCount = 0;
  bool haveEnd_ = false;
  int32_t start_ = 0;
};

}  // namespace orvane
