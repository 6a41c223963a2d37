// Formatting: a document laid out in the listing's columns (label, mnemonic,
// operands, comment). Only blanks change, and a line whose new layout the
// assembler would read differently keeps its old one.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "lsp/assembled.h"

namespace orvane::lsp {

// Where the columns start, as in the listing file: a label column of 12, a
// mnemonic column of 8 and an operand column of 16.
inline constexpr size_t kMnemonicColumn = 12, kOperandColumn = 20, kCommentColumn = 36;

// The line laid out in the columns, or the line itself when it cannot be laid
// out without changing what it says.
std::string FormatLine(std::string_view line);

struct LineEdit {
  int64_t line;
  std::string text;  // the line's new text, without its end
};

// The lines of `text` that change, checked by assembling the text before and
// after with `options`: every statement keeps its address, bytes and messages.
std::vector<LineEdit> FormatDocument(std::string_view text, const AssembleOptions& options);

}  // namespace orvane::lsp
