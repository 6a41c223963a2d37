// The adapter between the language server and the core: one Assembler run in
// memory over the document's lines, both passes, with the cross-reference on.
#include "lsp/assembled.h"

#include <algorithm>

#include "encoder/assembler.h"
#include "front/numbers.h"
#include "front/statement.h"
#include "front/symbols.h"

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

bool Before(char c) { return c == '(' || c == '+' || c == '-' || c == ' ' || c == ','; }
bool After(char c) { return c == ')' || c == '+' || c == '-' || c == ' '; }

// Where `name` stands as a whole in an operand of a parsed line, from byte
// column `from` on; npos when it does not.
size_t FindName(std::string_view prepared, const StatementFields& f, std::string_view name, size_t from) {
  for (std::string_view op : {f.Operand1Fld, f.Operand2Fld}) {
    if (op.empty()) continue;
    const size_t base = static_cast<size_t>(op.data() - prepared.data());
    for (size_t at = op.find(name); at != std::string_view::npos; at = op.find(name, at + 1)) {
      const size_t end = at + name.size();
      if (base + at < from) continue;
      if ((at == 0 || Before(op[at - 1])) && (end == op.size() || After(op[end]))) return base + at;
    }
  }
  return std::string_view::npos;
}

// The span of a name a statement refers to: where it stands in the operands,
// else the whole operand field.
Span UseSpan(int64_t line, std::string_view prepared, const StatementFields& f, std::string_view name,
             std::vector<Span>& taken) {
  size_t from = 0;
  for (;;) {
    const size_t at = FindName(prepared, f, name, from);
    if (at == std::string_view::npos) break;
    const bool used = std::any_of(taken.begin(), taken.end(), [&](const Span& s) { return s.column == at; });
    if (!used) return {line, static_cast<uint32_t>(at), static_cast<uint32_t>(name.size())};
    from = at + 1;
  }
  // A second reading of the same operand (END reads its start address
  // twice) is the same use.
  for (const Span& s : taken) {
    if (FindName(prepared, f, name, s.column) == s.column) return s;
  }
  std::string_view op = f.Operand1Fld.empty() ? f.OpcodeFld : f.Operand1Fld;
  return {line, static_cast<uint32_t>(op.data() - prepared.data()), static_cast<uint32_t>(op.size())};
}

}  // namespace

AssembledDocument Assemble(std::string_view text, const AssembleOptions& options) {
  // One assembler serves every run: it holds a symbol table of 16384 slots.
  static Assembler as;
  AssembledDocument doc;
  const std::vector<std::string_view> lines = SourceLines(text);
  as.BeginRun(RunOptions{!options.cpm, false, true});
  as.BeginPass(1);
  for (std::string_view line : lines) as.Step(line);

  // Every symbol is defined once pass 1 is over; the slot that holds a name
  // first is the symbol.
  const SymbolTable& table = as.Symbols();
  std::vector<int> symbolOfSlot(static_cast<size_t>(table.Used()) + 1, -1);
  for (int slot = 1; slot <= table.Used(); ++slot) {
    const LabelEntry& e = table.Slot(slot);
    if (!e.first) continue;
    symbolOfSlot[static_cast<size_t>(slot)] = static_cast<int>(doc.symbols.size());
    SymbolInfo s;
    s.name = e.name;
    s.value = e.address;
    s.definition = {e.line - 1, 0, static_cast<uint32_t>(e.name.size())};
    doc.symbols.push_back(std::move(s));
  }

  as.BeginPass(2);
  doc.statements.resize(lines.size());
  std::string buffer;
  StatementFields fields;
  std::vector<Span> taken;
  for (size_t i = 0; i < lines.size(); ++i) {
    const CrossReference& xref = as.Xref();
    const size_t uses = xref.uses.size(), undefined = xref.undefined.size(), duplicates = xref.duplicates.size();
    as.Step(lines[i]);
    const int64_t line = static_cast<int64_t>(i);
    StatementInfo& st = doc.statements[i];
    st.address = as.Address();
    const std::string_view obj = as.ObjCode();
    if (as.NoObject() || as.IsEnd()) {
      st.display = true;
      doc.displays.emplace(line, std::string(obj));
    } else {
      st.bytesAt = static_cast<uint32_t>(doc.bytes.size());
      st.byteCount = static_cast<uint32_t>(obj.size() / 2);
      for (size_t k = 0; k + 1 < obj.size(); k += 2) doc.bytes.push_back(static_cast<uint8_t>(HexPairValue(obj, k)));
    }
    for (const Report& r : as.Diag().Reports) {
      const bool warning = r.severity == Severity::kWarning;
      if (warning && options.disabledWarnings.count(r.name) != 0) continue;
      doc.problems.push_back({line, r.column, warning, std::string(r.name), r.text, r.note});
    }
    if (xref.uses.size() == uses && xref.undefined.size() == undefined && xref.duplicates.size() == duplicates) {
      continue;
    }
    // The names this statement referred to, placed in its operands.
    const std::string_view prepared = PrepLine(lines[i], buffer);
    Parse(prepared, fields);
    taken.clear();
    for (size_t k = uses; k < xref.uses.size(); ++k) {
      const int symbol = symbolOfSlot[static_cast<size_t>(xref.uses[k].slot)];
      if (symbol < 0) continue;
      std::vector<Span>& list = doc.symbols[static_cast<size_t>(symbol)].uses;
      const Span s = UseSpan(line, prepared, fields, doc.symbols[static_cast<size_t>(symbol)].name, taken);
      if (std::none_of(taken.begin(), taken.end(), [&](const Span& t) { return t.column == s.column; })) {
        taken.push_back(s);
        list.push_back(s);
      }
    }
    for (size_t k = undefined; k < xref.undefined.size(); ++k) {
      const std::string& name = xref.undefined[k].first;
      const Span s = UseSpan(line, prepared, fields, name, taken);
      if (std::none_of(taken.begin(), taken.end(), [&](const Span& t) { return t.column == s.column; })) {
        taken.push_back(s);
        doc.undefinedUses.emplace_back(name, s);
      }
    }
    for (size_t k = duplicates; k < xref.duplicates.size(); ++k) {
      const int symbol = symbolOfSlot[static_cast<size_t>(table.Find(xref.duplicates[k].first))];
      if (symbol >= 0) {
        doc.symbols[static_cast<size_t>(symbol)].redefinitions.push_back(
            {line, 0, static_cast<uint32_t>(SymbolTable::StripLabel(fields.LabelFld).size())});
      }
    }
  }
  doc.Index();
  return doc;
}

}  // namespace orvane::lsp
