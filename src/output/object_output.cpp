#include "output/object_output.h"

#include "front/numbers.h"

namespace orvane {

void ObjectOutput::ObjectSave(int32_t HexAddr, std::string_view Codestr) {
  bytesSent_ += (Codestr.size() + 1) / 2;
  if (intelHex_) {
    hex_.IntelHexAdd(HexAddr, Codestr);
  } else {
    CPMAdd(HexAddr, Codestr);
  }
}

void ObjectOutput::CPMAdd(int32_t /*HexAddr*/, std::string_view Codestr) {
  char buf[256];
  size_t n = 0;
  for (size_t i = 0; i < Codestr.size(); i += 2) {
    buf[n++] = static_cast<char>(HexPairValue(Codestr, i));
    if (n == sizeof buf) {
      file_.Write(std::string_view(buf, n));
      n = 0;
    }
  }
  if (n) file_.Write(std::string_view(buf, n));
}

}  // namespace orvane
