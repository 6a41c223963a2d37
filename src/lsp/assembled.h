// What the language server knows of a document once the assembler has run
// over it: every problem as orvane-asm reports it, every statement's address
// and bytes, and every symbol with where it is defined and used. This is the
// server's only view of the core; assembled.cpp fills it from one run in
// memory that writes nothing.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "encoder/timing.h"

namespace orvane::lsp {

// Lines are counted from 0 here, as the protocol counts them; columns are
// byte offsets into the line as written, from 0.
struct Span {
  int64_t line = 0;
  uint32_t column = 0;
  uint32_t length = 0;
};

struct AssembleOptions {
  bool cpm = false;                                    // a CP/M image (origin 0100H), else Intel HEX
  std::set<std::string, std::less<>> disabledWarnings;  // by name
  bool operator==(const AssembleOptions&) const = default;
};

struct SourceProblem {
  int64_t line = 0;
  int column = 0;  // 1-based byte column as orvane-asm prints it; 0: the whole statement
  int length = 0;  // bytes orvane-asm underlines from the column
  bool warning = false;
  bool information = false;  // a note that stands alone (a byte-order mark)
  std::string name;  // a warning's name
  std::string text;
  std::string note;
};

struct SymbolInfo {
  std::string name;
  int32_t value = 0;
  Span definition;
  std::vector<Span> redefinitions;  // later labels of the same name (the first counts)
  std::vector<Span> uses;           // in source order
};

struct StatementInfo {
  int32_t address = 0;      // as listed: where it stands, or the new origin for ORG
  uint32_t bytesAt = 0;     // into AssembledDocument::bytes
  uint32_t byteCount = 0;   // object bytes, as the listing shows them
  bool display = false;     // EQU, = and END: the listing shows a text instead of bytes
  Timing timing;            // an instruction's T-states (unknown for anything else)
};

class AssembledDocument {
 public:
  std::vector<SourceProblem> problems;  // in source order
  std::vector<SymbolInfo> symbols;      // in definition order
  std::vector<StatementInfo> statements;  // one per source line
  std::vector<uint8_t> bytes;
  std::unordered_map<int64_t, std::string> displays;  // line -> display text
  // Uses of names that are defined nowhere.
  std::vector<std::pair<std::string, Span>> undefinedUses;

  // Index into symbols of a name (as the assembler reads it: upper case), or -1.
  int Find(std::string_view name) const;
  // The symbol defined or used at a byte column of a line, and the span there.
  struct Hit {
    int symbol = -1;
    Span span;
  };
  Hit SymbolAt(int64_t line, uint32_t column) const;

  void Index();
  // The marks of one line again, after the uses on it changed: its
  // definitions stay, and `uses` (symbol index and span, by column) are its
  // uses now.
  void ReindexLine(int64_t line, const std::vector<std::pair<int, Span>>& uses);

 private:
  std::unordered_map<std::string, int> byName_;
  // Every definition and use, by line, for SymbolAt.
  struct Mark {
    Span span;
    int symbol;
  };
  std::vector<Mark> marks_;
};

// Assembles `text` in memory through the core's run request, with no output
// (nothing is read from or written to the disk), as orvane-asm would with the
// same options, and gathers what the server answers from.
AssembledDocument Assemble(std::string_view text, const AssembleOptions& options);

// The lines of a text as the assembler reads them: ended by LF, CR LF or a
// lone CR; a last line without an end is a line, an empty text has none.
std::vector<std::string_view> SourceLines(std::string_view text);

}  // namespace orvane::lsp
