// An AssembledDocument as text, one item a line: its problems, symbols,
// statements with their bytes, uses of undefined names and what SymbolAt
// finds on every name, for comparing two of them and showing where they
// part.
#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "lsp/assembled.h"

namespace orvane::lsp {

inline std::string SpanText(const Span& s) {
  return std::to_string(s.line) + ":" + std::to_string(s.column) + "+" + std::to_string(s.length);
}

// Everything the server answers from, as text, one item a line, so that a
// difference shows where it is.
inline std::vector<std::string> Dump(const AssembledDocument& a) {
  std::vector<std::string> out;
  for (const SourceProblem& p : a.problems) {
    out.push_back("problem " + std::to_string(p.line) + " " + std::to_string(p.column) + "+" +
                  std::to_string(p.length) + (p.warning ? " W" : "") + (p.information ? " I" : "") + " " + p.name +
                  " | " + p.text + " | " + p.note);
  }
  for (const SymbolInfo& s : a.symbols) {
    std::string t = "symbol " + s.name + " = " + std::to_string(s.value) + " at " + SpanText(s.definition);
    for (const Span& r : s.redefinitions) t += " again " + SpanText(r);
    for (const Span& u : s.uses) t += " use " + SpanText(u);
    out.push_back(t);
  }
  for (size_t i = 0; i < a.statements.size(); ++i) {
    const StatementInfo& st = a.statements[i];
    std::string t = "line " + std::to_string(i) + " @" + std::to_string(st.address);
    if (st.display) {
      t += " shows " + a.displays.at(static_cast<int64_t>(i));
    } else {
      t += " at " + std::to_string(st.bytesAt) + " bytes";
      for (uint32_t k = 0; k < st.byteCount; ++k) t += " " + std::to_string(a.bytes[st.bytesAt + k]);
    }
    t += " t" + std::to_string(static_cast<int>(st.timing.kind)) + "/" + std::to_string(st.timing.tstates) + "/" +
         std::to_string(st.timing.tstatesOther) + "/" + std::to_string(st.timing.mcycles) + "/" +
         std::to_string(st.timing.mcyclesOther);
    out.push_back(t);
  }
  out.push_back("bytes " + std::to_string(a.bytes.size()));
  for (const auto& [name, span] : a.undefinedUses) out.push_back("undefined " + name + " " + SpanText(span));
  // What SymbolAt finds on every use and definition, at its first column
  // and just after it.
  for (const SymbolInfo& s : a.symbols) {
    std::vector<Span> spans = s.uses;
    spans.push_back(s.definition);
    for (const Span& sp : spans) {
      for (const uint32_t c : {sp.column, sp.column + sp.length}) {
        const AssembledDocument::Hit h = a.SymbolAt(sp.line, c);
        out.push_back("at " + std::to_string(sp.line) + ":" + std::to_string(c) + " " + std::to_string(h.symbol) +
                      " " + SpanText(h.span));
      }
    }
  }
  return out;
}

// Where the first difference is, or "" when there is none.
inline std::string FirstDifference(const std::vector<std::string>& got, const std::vector<std::string>& want) {
  for (size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
    const std::string g = i < got.size() ? got[i] : "(nothing)";
    const std::string w = i < want.size() ? want[i] : "(nothing)";
    if (g != w) return "item " + std::to_string(i) + "\n  line by line: " + g + "\n  whole run:    " + w;
  }
  return "";
}

}  // namespace orvane::lsp
