// Object routing: a statement's object bytes go to the Intel HEX writer or to
// the CP/M image, whichever format the run was started with.
#pragma once
#include <cstdint>
#include <string_view>

#include "output/intel_hex.h"
#include "output/sink.h"

namespace orvane {

class ObjectOutput {
 public:
  ObjectOutput(bool intelHex, OutputSink& file) : intelHex_(intelHex), file_(file), hex_(file) {}

  void ObjectSave(int32_t HexAddr, std::string_view Codestr);
  // An END statement and its start address (only Intel HEX records it).
  void End(int32_t start) {
    if (intelHex_) hex_.End(start);
  }
  // At the end of pass 2: Intel HEX writes its last records.
  void Finish() {
    if (intelHex_) hex_.Finish();
  }
  // Object bytes handed on so far.
  uint64_t BytesSent() const { return bytesSent_; }

 private:
  // Writes the bytes one after the other; the address is not used: the image
  // holds the object bytes in source order, loaded from 0x0100.
  void CPMAdd(int32_t HexAddr, std::string_view Codestr);

  bool intelHex_;
  OutputSink& file_;
  IntelHexWriter hex_;
  uint64_t bytesSent_ = 0;
};

}  // namespace orvane
