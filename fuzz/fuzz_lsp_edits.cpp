// Edits a program line by line as the language server does and checks, after
// every edit, that what it keeps equals a whole run over the new text.
//
// The input is a program, then (after its first NUL byte) an edit script of
// four bytes an edit: the line, the column, how many characters to take away
// (0 to 3) and what to put in (one of the pieces below, or that byte itself as
// a character). An input without a NUL is all program, edited by a script
// drawn from its own bytes. At most 24 edits are made.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/assembled_dump.h"
#include "lsp/document.h"
#include "lsp/incremental.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

const char* const kPieces[] = {"X",   " ",    "1",     ",",      "(",      ")",     "$",     ":",      ";",
                               "'",   "\t",   "A",     "HL",     "+1",     "-2",    "0FFH",  "(IX+",   "NOP",
                               "JR",  "EQU",  "ORG",   "DS",     "END",    "LD A,B", "DB 1,", "DW $",  "JP $+3",
                               "LD HL,", "CALL ", "DJNZ ", "INC ", "Z,",   "LABEL:", "DB 'AB'", "LD A,(HL)", "ORG 0"};
constexpr size_t kPieceCount = sizeof kPieces / sizeof kPieces[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4000) return 0;  // two whole runs after each edit are the cost
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string program(input.substr(0, nul));
  std::string script;
  if (nul != std::string_view::npos) {
    script = std::string(input.substr(nul + 1));
  } else {
    // A script from the program's bytes: every seventh byte starts an edit.
    for (size_t i = 0; i + 4 <= program.size() && script.size() < 4 * 12; i += 7) script.append(program, i, 4);
  }
  for (const bool cpm : {false, true}) {
    orvane::lsp::AssembleOptions options;
    options.cpm = cpm;
    orvane::lsp::Document d("file:///f.z80", 1, program);
    orvane::lsp::Incremental inc;
    orvane::lsp::AssembledDocument doc = inc.Full(d.Text(), options);
    for (size_t i = 0; i + 4 <= script.size() && i < 4 * 24; i += 4) {
      const auto byte = [&](size_t k) { return static_cast<uint8_t>(script[i + k]); };
      const int64_t last = d.LineCount() - 1;
      const int64_t lines = last + (d.Line(last).empty() ? 0 : 1);
      if (lines == 0) break;
      const int64_t line = byte(0) % lines;
      const std::string_view l = d.Line(line);
      const int64_t from = byte(1) % (static_cast<int64_t>(l.size()) + 1);
      const int64_t to = std::min<int64_t>(static_cast<int64_t>(l.size()), from + byte(2) % 4);
      const std::string text = byte(3) < kPieceCount ? kPieces[byte(3)] : std::string(1, static_cast<char>(byte(3)));
      d.Replace({line, orvane::lsp::Utf16Column(l, static_cast<size_t>(from))},
                {line, orvane::lsp::Utf16Column(l, static_cast<size_t>(to))}, text);
      // An edit that puts a line end in is no edit within a line: the server
      // assembles the whole text then.
      if (text.find_first_of("\r\n") != std::string::npos || !inc.Ready() || !inc.Edit(d, line, doc)) {
        inc.Drop();
        doc = inc.Full(d.Text(), options);
      }
      Check(orvane::lsp::FirstDifference(orvane::lsp::Dump(doc), orvane::lsp::Dump(orvane::lsp::Assemble(d.Text(), options))).empty());
    }
  }
  return 0;
}
