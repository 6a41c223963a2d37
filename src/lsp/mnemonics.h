// The words of the source language the editor is told about: each mnemonic's
// and directive's forms in one line (for hover and completion), the register
// names and the condition names.
#pragma once
#include <string_view>
#include <vector>

namespace orvane::lsp {

struct KeywordForms {
  std::string_view keyword;
  bool directive;
  // The forms, " · " between them. r is B, C, D, E, H, L or A; n a byte, nn a
  // word, d an index displacement, e a relative target, cc a condition, b a
  // bit number, rr one of BC, DE, HL, SP (pushes take AF for SP), IX/IY
  // either index register.
  std::string_view forms;
};

const std::vector<KeywordForms>& AllKeywords();
// The forms of a keyword written in upper case, or nullptr.
const KeywordForms* FindKeywordForms(std::string_view keyword);

// Operand words: the register names (as the assembler's table has them, with
// (HL) and AF') and the condition names.
const std::vector<std::string_view>& RegisterNames();
const std::vector<std::string_view>& ConditionNames();

}  // namespace orvane::lsp
