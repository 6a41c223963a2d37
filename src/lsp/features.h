// The answers to language requests, each worked out from an open document and
// what the assembler made of it. Pure functions: no state, no output.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "lsp/assembled.h"
#include "lsp/document.h"
#include "jsonrpc/transport.h"

namespace orvane::lsp {

using json = jsonrpc::json;

// A document with the assembly of its current text.
struct OpenDocument {
  Document doc;
  AssembledDocument assembled;
};

// An answer, or the reason for refusing the request (sent as RequestFailed).
struct Answer {
  json result;
  std::string refusal;
};

json RangeJson(const Document& d, const Span& s);
json DiagnosticsJson(const Document& d, const AssembledDocument& a, bool relatedInformation);
json Hover(const OpenDocument& o, const Position& p);
json Definition(const OpenDocument& o, const Position& p);
json References(const OpenDocument& o, const Position& p, bool includeDeclaration);
json Highlights(const OpenDocument& o, const Position& p);
Answer PrepareRename(const OpenDocument& o, const Position& p);
Answer Rename(const OpenDocument& o, const Position& p, std::string_view newName, const AssembleOptions& options);
json DocumentSymbols(const OpenDocument& o);
// Symbols of every open document whose name holds `query` (any case).
json WorkspaceSymbols(const std::vector<const OpenDocument*>& docs, std::string_view query);
json Completion(const OpenDocument& o, const Position& p);
json SemanticTokensLegend();
json SemanticTokens(const OpenDocument& o);
// The T-states of each instruction on the lines from `first` to `last`, at
// the end of its line.
json InlayHints(const OpenDocument& o, int64_t first, int64_t last);

// Why `name` cannot name a symbol (a register, a condition, a keyword, a
// number, or text the line splitter would cut), or empty when it can.
std::string NameRefusal(std::string_view name);

// The text of the hover on a symbol ("START = 0100H (256), defined on line
// 13, used 2 times") and on a statement ("0109: DD 7E 05").
std::string SymbolHoverText(const SymbolInfo& s);
std::string StatementHoverText(const AssembledDocument& a, int64_t line);
// "19 T-states", "12/7 T-states (taken/not taken)", "21/16 T-states
// (repeating/last)"; "" when the line has no instruction.
std::string TimingHoverText(const AssembledDocument& a, int64_t line);
// For a label on code: "42 T-states to the next label, straight through (5
// instructions)", conditional jumps not taken and block instructions run
// once; "" when no instruction follows it before the next label.
std::string LabelTimingText(const AssembledDocument& a, const SymbolInfo& s);

}  // namespace orvane::lsp
