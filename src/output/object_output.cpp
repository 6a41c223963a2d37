#include "output/object_output.h"

#include "front/numbers.h"

namespace orvane {

void ObjectOutput::ObjectSave(int32_t HexAddr, std::string_view Codestr) {
  if (format_.IntelHexSelected()) {
    bytesSent_ += (Codestr.size() + 1) / 2;
    hex_.IntelHexAdd(HexAddr, Codestr);
  } else if (format_.CpmSelected()) {
    bytesSent_ += (Codestr.size() + 1) / 2;
    CPMAdd(HexAddr, Codestr);
  }
}

void ObjectOutput::CPMAdd(int32_t /*HexAddr*/, std::string_view Codestr) {
  if (!image_ || Codestr.empty()) return;
  char buf[256];
  size_t n = 0;
  for (size_t i = 0; i < Codestr.size(); i += 2) {
    buf[n++] = static_cast<char>(HexPairValue(Codestr, i));
    if (n == sizeof buf) {
      image_->Write(std::string_view(buf, n));
      n = 0;
    }
  }
  if (n) image_->Write(std::string_view(buf, n));
}

}  // namespace orvane
