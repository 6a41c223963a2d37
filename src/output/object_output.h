// Object routing: a statement's object bytes go to the Intel HEX writer or to
// the CP/M image, whichever format the window has selected.
#pragma once
#include <cstdint>
#include <string_view>

#include "output/intel_hex.h"
#include "output/sink.h"

namespace orvane {

class ObjectOutput {
 public:
  ObjectOutput(FormatSelection& format, IntelHexWriter& hex) : format_(format), hex_(hex) {}

  // The CP/M image file (binary); the HEX writer has its own sink.
  void SetImageSink(OutputSink* sink) { image_ = sink; }

  void ObjectSave(int32_t HexAddr, std::string_view Codestr);
  // Writes the bytes one after the other; the address is not used: the image
  // holds the object bytes in source order, loaded from 0x0100.
  void CPMAdd(int32_t HexAddr, std::string_view Codestr);

  // Object bytes handed on so far (both formats).
  uint64_t BytesSent() const { return bytesSent_; }
  void ResetCount() { bytesSent_ = 0; }

 private:
  FormatSelection& format_;
  IntelHexWriter& hex_;
  OutputSink* image_ = nullptr;
  uint64_t bytesSent_ = 0;
};

}  // namespace orvane
