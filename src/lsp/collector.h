// The observer that turns one run of the core into an AssembledDocument,
// and the file system it runs on (which holds no file). Shared by the whole
// run (assembled.cpp) and the runs of single lines after an edit
// (incremental.cpp).
#pragma once
#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/file_ops.h"
#include "driver/run.h"
#include "lsp/assembled.h"
#include "output/formats.h"
#include "output/listing.h"

namespace orvane::lsp {

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

inline Span ToSpan(const SourceSpan& s) {
  return {s.line - 1, static_cast<uint32_t>(std::max(s.column - 1, 0)), static_cast<uint32_t>(std::max(s.length, 0))};
}

inline bool SameSpan(const Span& a, const Span& b) {
  return a.line == b.line && a.column == b.column && a.length == b.length;
}

inline SourceProblem SourceProblemOf(const Problem& p, const Statement& s) {
  return {s.line - 1, p.span.column, p.span.length, p.severity == Severity::kWarning, p.severity == Severity::kNote,
          std::string(p.name), p.text, p.note};
}

class Collector : public RunObserver {
 public:
  Collector(AssembledDocument& doc, const ObjectFormat& format) : doc_(doc), format_(format) {}

  void Reported(const Problem& p, const Statement& s, int64_t) override {
    doc_.problems.push_back(SourceProblemOf(p, s));
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


}  // namespace orvane::lsp
