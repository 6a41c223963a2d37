// Feeds a few source lines through Assemble in pass 1 and pass 2, the way the
// run does, and checks what the run and the object output rely on:
//  - a statement occupies the same number of bytes in both passes;
//  - object code sent to the object file is upper-case hex, whole bytes, at
//    most as many as the statement occupies, and exactly as many when the
//    statement reports nothing;
//  - while no statement has reported anything, pass 2 sees every statement at
//    the address pass 1 gave it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "encoder/assembler.h"
#include "output/sink.h"

namespace {

constexpr size_t kMaxLines = 16;

class FixedFormat : public orvane::FormatSelection {
 public:
  explicit FixedFormat(bool hex) : hex_(hex) {}
  bool IntelHexSelected() override { return hex_; }
  bool CpmSelected() override { return !hex_; }

 private:
  bool hex_;
};

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool IsHexText(std::string_view s) {
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

void RunBothPasses(const std::vector<std::string_view>& lines, bool hex) {
  // One assembler per format for the whole session, reset like a run resets
  // it: building the 16384-slot symbol table for every input would cost more
  // than assembling it.
  static FixedFormat cpmFormat(false), hexFormat(true);
  static orvane::Assembler cpmAssembler(&cpmFormat), hexAssembler(&hexFormat);
  orvane::Assembler& as = hex ? hexAssembler : cpmAssembler;
  orvane::StringSink hexFile;
  as.Diag.Clear();
  as.ObjCode.clear();
  as.NoObject = false;
  as.Hex.Reset();
  as.Hex.SetSink(&hexFile);
  const int32_t origin = hex ? 0 : 256;

  std::vector<int32_t> count(lines.size()), address(lines.size());
  as.Symbols.Reset();
  as.SetPass2(false);
  as.PC = origin;
  for (size_t i = 0; i < lines.size(); ++i) {
    as.LineNo = static_cast<int64_t>(i + 1);
    as.Assemble(lines[i]);
    address[i] = as.PC;
    count[i] = as.ByteCount;
    Check(as.ByteCount >= 0);
    as.PC = static_cast<int32_t>(static_cast<uint32_t>(as.PC) + static_cast<uint32_t>(as.ByteCount));
  }

  as.SetPass2(true);
  as.PC = origin;
  bool clean = true;
  for (size_t i = 0; i < lines.size(); ++i) {
    as.Fields.Clear();
    as.NoObject = false;
    as.Diag.Clear();
    as.LineNo = static_cast<int64_t>(i + 1);
    as.Assemble(lines[i]);
    Check(as.ByteCount == count[i]);
    const bool quiet = as.Diag.Messages.empty() && as.Diag.ErrText.empty();
    if (!as.NoObject) {
      // Whole bytes, never more than the statement occupies: otherwise the
      // CP/M image would run ahead of the addresses the labels got.
      Check(as.ObjCode.size() % 2 == 0 && IsHexText(as.ObjCode));
      Check(as.ObjCode.size() <= 2 * static_cast<size_t>(as.ByteCount));
      if (quiet) Check(as.ObjCode.size() == 2 * static_cast<size_t>(as.ByteCount));
    }
    clean = clean && quiet;
    if (clean) Check(as.PC == address[i]);
    as.PC = static_cast<int32_t>(static_cast<uint32_t>(as.PC) + static_cast<uint32_t>(as.ByteCount));
  }
  as.Hex.SetSink(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> lines;
  while (!text.empty() && lines.size() < kMaxLines) {
    const size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  RunBothPasses(lines, false);
  RunBothPasses(lines, true);
  return 0;
}
