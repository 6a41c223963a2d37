// The adapter between the language server and the core: one run of the
// core's entry over the document's text in memory, with no outputs and with
// symbol uses recorded.
#include "lsp/assembled.h"

#include <algorithm>

#include "lsp/collector.h"

namespace orvane::lsp {

std::vector<std::string_view> SourceLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t b = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c != '\n' && c != '\r') continue;
    lines.push_back(text.substr(b, i - b));
    if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
    b = i + 1;
  }
  if (b < n) lines.push_back(text.substr(b));
  return lines;
}

int AssembledDocument::Find(std::string_view name) const {
  const auto it = byName_.find(std::string(name));
  return it == byName_.end() ? -1 : it->second;
}

void AssembledDocument::Index() {
  byName_.clear();
  marks_.clear();
  for (size_t i = 0; i < symbols.size(); ++i) {
    const SymbolInfo& s = symbols[i];
    byName_.emplace(s.name, static_cast<int>(i));
    marks_.push_back({s.definition, static_cast<int>(i)});
    for (const Span& r : s.redefinitions) marks_.push_back({r, static_cast<int>(i)});
    for (const Span& u : s.uses) marks_.push_back({u, static_cast<int>(i)});
  }
  std::sort(marks_.begin(), marks_.end(), [](const Mark& a, const Mark& b) {
    return a.span.line != b.span.line ? a.span.line < b.span.line : a.span.column < b.span.column;
  });
}

void AssembledDocument::ReindexLine(int64_t line, const std::vector<std::pair<int, Span>>& uses) {
  const auto byLine = [](const Mark& m, int64_t l) { return m.span.line < l; };
  const auto b = std::lower_bound(marks_.begin(), marks_.end(), line, byLine);
  auto e = b;
  std::vector<Mark> now;
  for (; e != marks_.end() && e->span.line == line; ++e) {
    const SymbolInfo& s = symbols[static_cast<size_t>(e->symbol)];
    const auto same = [&](const Span& x) {
      return x.line == e->span.line && x.column == e->span.column && x.length == e->span.length;
    };
    if (same(s.definition) || std::any_of(s.redefinitions.begin(), s.redefinitions.end(), same)) now.push_back(*e);
  }
  for (const auto& [symbol, span] : uses) now.push_back({span, symbol});
  std::stable_sort(now.begin(), now.end(), [](const Mark& x, const Mark& y) { return x.span.column < y.span.column; });
  const size_t at = static_cast<size_t>(b - marks_.begin());
  marks_.erase(b, e);
  marks_.insert(marks_.begin() + static_cast<std::ptrdiff_t>(at), now.begin(), now.end());
}

AssembledDocument::Hit AssembledDocument::SymbolAt(int64_t line, uint32_t column) const {
  auto it = std::lower_bound(marks_.begin(), marks_.end(), line,
                             [](const Mark& m, int64_t l) { return m.span.line < l; });
  for (; it != marks_.end() && it->span.line == line; ++it) {
    // The end of a name counts too: a cursor just after it is on it.
    if (column >= it->span.column && column <= it->span.column + it->span.length) return {it->symbol, it->span};
  }
  return {};
}


AssembledDocument Assemble(std::string_view text, const AssembleOptions& options) {
  AssembledDocument doc;
  RunRequest request;
  request.path = "document";
  request.text = std::string(text);
  request.format = options.cpm ? &kCpmFormat : &kIntelHexFormat;
  request.recordUses = true;
  request.warnings.disabled = options.disabledWarnings;
  NoFiles files;
  Collector collector(doc, *request.format);
  Run(request, files, collector);
  doc.Index();
  return doc;
}

}  // namespace orvane::lsp
