// Intel HEX writer: 16-byte data records (type 00), filled up with 00 bytes,
// and one end-of-file record (type 01).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "output/sink.h"

namespace orvane {

class IntelHexWriter {
 public:
  std::string HexRecord;
  int32_t HexNextAddr = -1;
  bool HexRecordOpen = false;
  int16_t HexRecordCount = 0;

  void SetSink(OutputSink* sink) { sink_ = sink; }
  // Starting state, at window load and at the start of every run.
  void Reset();

  void IntelHexAdd(int32_t HexAddr, std::string_view Codestr);
  void IntelHexBuild(int32_t HexAddr, std::string_view HexByte);
  void IntelHexFlush();
  // Called by END with ":00", four address digits, "01". Only the first END
  // of a run sets the end record; it is written by Finish(), so that object
  // bytes of statements after END still come before it.
  void IntelHexClose(std::string_view endRecord);
  // At the end of pass 2: the open data record, then the end record (the
  // first END's, or :00000001FF for a program without END).
  void Finish();

  // The end record as it will be written (text with its checksum).
  static std::string CompleteEndRecord(std::string_view endRecord);

 private:
  OutputSink* sink_ = nullptr;
  std::string pendingEnd_;
  bool haveEnd_ = false;
};

}  // namespace orvane
