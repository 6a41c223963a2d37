// The adapter between the language server and the core: one run of the
// core's entry over the document's text in memory, with no outputs and with
// symbol uses recorded.
#include "lsp/assembled.h"

#include <algorithm>

#include "driver/file_ops.h"
#include "driver/run.h"
#include "output/formats.h"
#include "output/listing.h"

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

AssembledDocument::Hit AssembledDocument::SymbolAt(int64_t line, uint32_t column) const {
  auto it = std::lower_bound(marks_.begin(), marks_.end(), line,
                             [](const Mark& m, int64_t l) { return m.span.line < l; });
  for (; it != marks_.end() && it->span.line == line; ++it) {
    // The end of a name counts too: a cursor just after it is on it.
    if (column >= it->span.column && column <= it->span.column + it->span.length) return {it->symbol, it->span};
  }
  return {};
}

namespace {

// The language server reads and writes no file: a run that asked for one
// would fail here rather than touch the disk.
class NoFiles : public FileSystem {
 public:
  std::unique_ptr<LineSource> OpenRead(const std::string& path) override {
    throw FileError(path, "the language server reads no file");
  }
  std::unique_ptr<CommitSink> Create(const std::string& path) override {
    throw FileError(path, "the language server writes no file");
  }
  bool NamesSource(const std::string&, const std::string&) override { return false; }
  bool SameOutput(const std::string&, const std::string&) override { return false; }
};

Span ToSpan(const SourceSpan& s) {
  return {s.line - 1, static_cast<uint32_t>(std::max(s.column - 1, 0)), static_cast<uint32_t>(std::max(s.length, 0))};
}

bool SameSpan(const Span& a, const Span& b) {
  return a.line == b.line && a.column == b.column && a.length == b.length;
}

class Collector : public RunObserver {
 public:
  Collector(AssembledDocument& doc, const ObjectFormat& format) : doc_(doc), format_(format) {}

  void Reported(const Problem& p, const Statement& s, int64_t) override {
    doc_.problems.push_back({s.line - 1, p.span.column, p.span.length, p.severity == Severity::kWarning,
                             p.severity == Severity::kNote, std::string(p.name), p.text, p.note});
  }

  void StatementDone(const Statement& s) override {
    StatementInfo st;
    st.address = s.address;
    if (s.shows != Shows::kBytes) {
      st.display = true;
      std::string text;
      AppendObjectText(s, format_, text);
      doc_.displays.emplace(s.line - 1, std::move(text));
    } else {
      st.bytesAt = static_cast<uint32_t>(doc_.bytes.size());
      st.byteCount = static_cast<uint32_t>(s.bytes.size());
      doc_.bytes.insert(doc_.bytes.end(), s.bytes.begin(), s.bytes.end());
    }
    st.timing = StatementTiming(s);
    doc_.statements.push_back(st);
    // END reads its start address twice under Intel HEX: one use.
    for (const SymbolUse& u : s.uses) {
      const Span span = ToSpan(u.span);
      if (u.slot != 0) {
        if (!uses_.empty() && uses_.back().first == u.slot && SameSpan(uses_.back().second, span)) continue;
        uses_.emplace_back(u.slot, span);
      } else {
        if (!doc_.undefinedUses.empty() && SameSpan(doc_.undefinedUses.back().second, span)) continue;
        doc_.undefinedUses.emplace_back(std::string(u.name), span);
      }
    }
  }

  void Symbols(const SymbolTable& table, const CrossReference& xref) override {
    std::vector<int> symbolOfSlot(static_cast<size_t>(table.Used()) + 1, -1);
    for (int slot = 1; slot <= table.Used(); ++slot) {
      const LabelEntry& e = table.Slot(slot);
      if (!e.first) continue;
      symbolOfSlot[static_cast<size_t>(slot)] = static_cast<int>(doc_.symbols.size());
      SymbolInfo s;
      s.name = e.name;
      s.value = e.address;
      s.definition = ToSpan(e.span);
      doc_.symbols.push_back(std::move(s));
    }
    for (const auto& [slot, span] : uses_) {
      const int symbol = symbolOfSlot[static_cast<size_t>(slot)];
      if (symbol >= 0) doc_.symbols[static_cast<size_t>(symbol)].uses.push_back(span);
    }
    for (const auto& [name, span] : xref.duplicates) {
      const int slot = table.Find(name);
      const int symbol = slot > 0 ? symbolOfSlot[static_cast<size_t>(slot)] : -1;
      if (symbol >= 0) doc_.symbols[static_cast<size_t>(symbol)].redefinitions.push_back(ToSpan(span));
    }
  }

 private:
  AssembledDocument& doc_;
  const ObjectFormat& format_;
  std::vector<std::pair<int, Span>> uses_;
};

}  // namespace

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
