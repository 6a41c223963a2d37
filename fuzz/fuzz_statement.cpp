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
#include "output/formats.h"

namespace {

constexpr size_t kMaxLines = 16;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void RunBothPasses(const std::vector<std::string_view>& lines, bool hex) {
  // One assembler for the whole session, started afresh for every input the
  // way a run starts it: building the 16384-slot symbol table for every input
  // would cost more than assembling it.
  static orvane::Assembler as;
  as.BeginRun(orvane::RunOptions{hex ? &orvane::kIntelHexFormat : &orvane::kCpmFormat});
  std::vector<int32_t> count(lines.size()), address(lines.size());
  as.BeginPass(1);
  for (size_t i = 0; i < lines.size(); ++i) {
    as.Step(lines[i]);
    const orvane::Statement& s = as.Result();
    address[i] = s.address;
    count[i] = s.byteCount;
    Check(s.byteCount >= 0 && s.problems.empty());
  }
  as.BeginPass(2);
  bool clean = true;
  for (size_t i = 0; i < lines.size(); ++i) {
    as.Step(lines[i]);
    const orvane::Statement& s = as.Result();
    Check(s.byteCount == count[i]);
    const bool quiet = !s.hasErrors;
    if (s.toObject) {
      // Never more bytes than the statement occupies: otherwise the CP/M
      // image would run ahead of the addresses the labels got.
      Check(s.bytes.size() <= static_cast<size_t>(s.byteCount));
      if (quiet) Check(s.bytes.size() == static_cast<size_t>(s.byteCount));
    }
    clean = clean && quiet;
    if (clean) Check(s.address == address[i]);
  }
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
