#include "output/timing_file.h"

#include <cstdio>
#include <string>

#include "encoder/timing.h"

namespace orvane {

// "0105  20FB      12/7    jr nz,loop": the address, the first four object
// bytes padded to 8, the T-states padded to 6 (blank without an instruction)
// and the source line as read.
void TimingFileWriter::Entry(const Statement& s) {
  char head[8];
  std::snprintf(head, sizeof head, "%04X  ", static_cast<unsigned>(s.address) & 0xFFFF);
  std::string line = head, bytes;
  if (s.toObject) {
    for (size_t i = 0; i < s.bytes.size() && i < 4; ++i) {
      char b[4];
      std::snprintf(b, sizeof b, "%02X", s.bytes[i]);
      bytes += b;
    }
  }
  bytes.resize(8, ' ');
  std::string t = TimingText(StatementTiming(s));
  t.resize(6, ' ');
  line += bytes + "  " + t + "  ";
  line += s.source;
  out_.WriteLine(line);
}

}  // namespace orvane
