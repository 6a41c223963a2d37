// The installed terminal's output codes: the first byte picks VT52 or
// ADM-3A and the size of the pieces the rest is fed in. Invariants:
//  - the ANSI translation does not depend on how the bytes are cut;
//  - the translation drawn on an ANSI screen gives the screen (characters,
//    reverse video, cursor) and the bells the terminal's own screen gives;
//  - after Restore the ANSI screen shows no attribute left on: text written
//    next is in plain video.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runner/screen.h"
#include "runner/console.h"
#include "runner/terminal.h"

// The host terminal is not part of this harness: the screen modes a
// terminal console hands on for a signal's clean-up go nowhere.
void orvane::runner::SetScreenModes(int) {}

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

using orvane::runner::Screen;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using orvane::runner::AnsiTranslator;
  using orvane::runner::TerminalType;
  if (size < 1) return 0;
  const TerminalType type = data[0] & 1 ? TerminalType::kAdm3a : TerminalType::kVt52;
  const size_t piece = 1 + (data[0] >> 1) % 17;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  AnsiTranslator whole(type), cut(type);
  const std::string ansi = whole.Translate(bytes);
  std::string pieces;
  for (size_t at = 0; at < bytes.size(); at += piece) cut.Translate(bytes.substr(at, piece), pieces);
  Check(pieces == ansi);

  Screen own(type), translated(TerminalType::kAnsi);
  Check(own.Write(bytes) == translated.Write(ansi));
  Check(own.Rows() == translated.Rows() && own.Row() == translated.Row() && own.Column() == translated.Column());
  for (int r = 0; r < Screen::kRows; ++r)
    for (int c = 0; c < Screen::kColumns; ++c) Check(own.Reverse(r, c) == translated.Reverse(r, c));

  // What the end of a run writes, then a character at home: plain video.
  translated.Write(whole.Restore() + "\x1b[HZ");
  Check(!translated.Reverse(0, 0) && translated.Rows()[0][0] == 'Z');
  return 0;
}
