#include "lsp/features.h"

#include <algorithm>
#include <cstdio>

#include "encoder/keywords.h"
#include "front/numbers.h"
#include "front/operands.h"
#include "front/statement.h"
#include "front/symbols.h"
#include "lsp/mnemonics.h"

namespace orvane::lsp {

namespace {

// A document line split as the assembler splits it. The prepared line is as
// long as the line, so a field's offset is its byte column in the line.
struct SplitLine {
  std::string buffer;
  std::string_view prepared;
  StatementFields f;
  explicit SplitLine(std::string_view line) {
    prepared = PrepLine(line, buffer);
    Parse(prepared, f);
  }
  size_t At(std::string_view field) const {
    return field.empty() ? 0 : static_cast<size_t>(field.data() - prepared.data());
  }
  bool Within(std::string_view field, size_t column) const {
    return !field.empty() && column >= At(field) && column <= At(field) + field.size();
  }
};

std::string Hex4(int32_t v) {
  std::string s;
  AppendHex4(s, static_cast<uint32_t>(v));
  return s;
}

json PositionJson(const Position& p) { return {{"line", p.line}, {"character", p.character}}; }

json LocationJson(const Document& d, const Span& s) { return {{"uri", d.Uri()}, {"range", RangeJson(d, s)}}; }

bool IsDirective(std::string_view opcode) {
  const KeywordForms* k = FindKeywordForms(opcode);
  return k != nullptr && k->directive;
}

bool IsCondition(std::string_view s) {
  const auto& c = ConditionNames();
  return std::find(c.begin(), c.end(), s) != c.end();
}

// Mnemonics whose first operand may be a condition.
bool TakesCondition(std::string_view opcode) {
  return opcode == "JP" || opcode == "JR" || opcode == "CALL" || opcode == "RET";
}

// What the word at a byte column is, for a refused rename.
std::string WordRefusal(const SplitLine& s, size_t column) {
  if (s.Within(s.f.OpcodeFld, column)) {
    return "'" + std::string(s.f.OpcodeFld) + "' is " +
           (FindKeyword(Keywords(), s.f.OpcodeFld) ? "a keyword" : "a mnemonic") + "; only symbols can be renamed";
  }
  for (std::string_view op : {s.f.Operand1Fld, s.f.Operand2Fld}) {
    if (!s.Within(op, column)) continue;
    const std::string_view inner = DropParentheses(op);
    const int32_t code = RegTyp(op);
    if (code >= 0 && (code & ~reg::Paren) < static_cast<int32_t>(RegNames.size())) {
      return "'" + std::string(op) + "' is a register; only symbols can be renamed";
    }
    if (IsCondition(op) && TakesCondition(s.f.OpcodeFld)) {
      return "'" + std::string(op) + "' is a condition; only symbols can be renamed";
    }
    const OperandKind k = Classify(inner, Width::k16);
    if (k.kind != OperandKind::kSymbol) return "'" + std::string(inner) + "' is a number; only symbols can be renamed";
    return "'" + std::string(inner) + "' is not a defined symbol";
  }
  return "no symbol here";
}

}  // namespace

json RangeJson(const Document& d, const Span& s) {
  const std::string_view line = d.Line(s.line);
  return {{"start", PositionJson({s.line, Utf16Column(line, s.column)})},
          {"end", PositionJson({s.line, Utf16Column(line, size_t{s.column} + s.length)})}};
}

// The range orvane-asm underlines: from the column as long as the span (one
// character at least), or the whole statement.
static Span ProblemSpan(std::string_view line, int64_t n, int column, int length) {
  if (column <= 0) {
    size_t b = 0, e = line.size();
    while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
    while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t')) --e;
    return {n, static_cast<uint32_t>(b), static_cast<uint32_t>(e - b)};
  }
  const size_t at = std::min(static_cast<size_t>(column) - 1, line.size());
  const size_t end = std::min(at + static_cast<size_t>(std::max(length, 1)), line.size());
  return {n, static_cast<uint32_t>(at), static_cast<uint32_t>(end - at)};
}

json DiagnosticsJson(const Document& d, const AssembledDocument& a, bool relatedInformation) {
  json list = json::array();
  for (const SourceProblem& p : a.problems) {
    const Span span = ProblemSpan(d.Line(p.line), p.line, p.column, p.length);
    // 1 error, 2 warning, 3 information: a note that stands alone is no warning.
    const int severity = p.information ? 3 : p.warning ? 2 : 1;
    json diag = {{"range", RangeJson(d, span)}, {"severity", severity}, {"source", "orvane-asm"},
                 {"message", p.text}};
    if (p.warning && !p.name.empty()) diag["code"] = p.name;
    if (!p.note.empty()) {
      // The note is the message's second line for every client (some show
      // nothing else), and its related information where the client takes it.
      diag["message"] = p.text + "\n" + p.note;
      if (relatedInformation) {
        diag["relatedInformation"] = json::array({{{"location", LocationJson(d, span)}, {"message", p.note}}});
      }
    }
    list.push_back(std::move(diag));
  }
  return list;
}

std::string SymbolHoverText(const SymbolInfo& s) {
  const size_t uses = s.uses.size();
  return s.name + " = " + Hex4(s.value) + "H (" + std::to_string(s.value) + "), defined on line " +
         std::to_string(s.definition.line + 1) + ", used " + std::to_string(uses) + (uses == 1 ? " time" : " times");
}

std::string StatementHoverText(const AssembledDocument& a, int64_t line) {
  if (line < 0 || line >= static_cast<int64_t>(a.statements.size())) return {};
  const StatementInfo& st = a.statements[static_cast<size_t>(line)];
  std::string text = Hex4(st.address) + ":";
  // EQU's value or END's start: every statement without bytes has one.
  if (st.display) return text + " " + a.displays.at(line);
  for (uint32_t i = 0; i < st.byteCount; ++i) {
    text += ' ';
    AppendHex2(text, a.bytes[st.bytesAt + i]);
  }
  if (st.byteCount == 0) text += " no bytes";
  return text;
}

std::string TimingHoverText(const AssembledDocument& a, int64_t line) {
  if (line < 0 || line >= static_cast<int64_t>(a.statements.size())) return {};
  const Timing& t = a.statements[static_cast<size_t>(line)].timing;
  if (!t.Known()) return {};
  std::string text = TimingText(t) + " T-states";
  if (t.Varies()) text += t.kind == Timing::Kind::kRepeat ? " (repeating/last)" : " (taken/not taken)";
  return text;
}

std::string LabelTimingText(const AssembledDocument& a, const SymbolInfo& s) {
  const int64_t from = s.definition.line;
  if (from < 0 || from >= static_cast<int64_t>(a.statements.size()) || a.statements[size_t(from)].display) return {};
  int64_t to = static_cast<int64_t>(a.statements.size());
  // The next line that defines a label on code ends the stretch (an EQU
  // names a value, not a place).
  for (const SymbolInfo& other : a.symbols) {
    const int64_t l = other.definition.line;
    if (l > from && l < to && !a.statements[static_cast<size_t>(l)].display) to = l;
  }
  uint64_t sum = 0;
  int instructions = 0;
  for (int64_t l = from; l < to; ++l) {
    const Timing& t = a.statements[static_cast<size_t>(l)].timing;
    if (!t.Known()) continue;
    // Straight through: a jump falls through, LDIR and its kin run once.
    sum += t.kind == Timing::Kind::kPlain ? t.tstates : t.tstatesOther;
    ++instructions;
  }
  if (instructions == 0) return {};
  return std::to_string(sum) + " T-states to the next label, straight through (" + std::to_string(instructions) +
         (instructions == 1 ? " instruction)" : " instructions)");
}

json InlayHints(const OpenDocument& o, int64_t first, int64_t last) {
  json hints = json::array();
  const int64_t n = std::min<int64_t>(last, static_cast<int64_t>(o.assembled.statements.size()) - 1);
  for (int64_t l = std::max<int64_t>(first, 0); l <= n && l < o.doc.LineCount(); ++l) {
    const Timing& t = o.assembled.statements[static_cast<size_t>(l)].timing;
    if (!t.Known()) continue;
    const std::string_view line = o.doc.Line(l);
    hints.push_back({{"position", PositionJson({l, Utf16Column(line, line.size())})},
                     {"label", TimingText(t) + " T"},
                     {"paddingLeft", true}});
  }
  return hints;
}

json Hover(const OpenDocument& o, const Position& p) {
  const Document& d = o.doc;
  if (p.line < 0 || p.line >= d.LineCount()) return nullptr;
  const std::string_view line = d.Line(p.line);
  const size_t column = ByteColumn(line, p.character);
  const AssembledDocument::Hit hit = o.assembled.SymbolAt(p.line, static_cast<uint32_t>(column));
  std::string text;
  Span span{p.line, 0, 0};
  if (hit.symbol >= 0) {
    const SymbolInfo& sym = o.assembled.symbols[static_cast<size_t>(hit.symbol)];
    text = SymbolHoverText(sym);
    if (const std::string sum = LabelTimingText(o.assembled, sym); !sum.empty()) text += "\n" + sum;
    span = hit.span;
  } else {
    const SplitLine s(line);
    for (const auto& [name, use] : o.assembled.undefinedUses) {
      if (use.line == p.line && column >= use.column && column <= use.column + use.length) {
        return {{"contents", {{"kind", "plaintext"}, {"value", name + " is not defined; it counts as 0"}}},
                {"range", RangeJson(d, use)}};
      }
    }
    if (s.f.OpcodeFld.empty() || p.line >= static_cast<int64_t>(o.assembled.statements.size())) return nullptr;
    if (s.Within(s.f.OpcodeFld, column)) {
      const KeywordForms* k = FindKeywordForms(s.f.OpcodeFld);
      if (k == nullptr) return nullptr;
      text = std::string(k->forms);
      if (const std::string t = TimingHoverText(o.assembled, p.line); !t.empty()) text += "\n" + t;
      span = {p.line, static_cast<uint32_t>(s.At(s.f.OpcodeFld)), static_cast<uint32_t>(s.f.OpcodeFld.size())};
    } else {
      text = StatementHoverText(o.assembled, p.line);
      if (const std::string t = TimingHoverText(o.assembled, p.line); !t.empty()) text += ", " + t;
      span = ProblemSpan(line, p.line, 0, 0);
    }
  }
  return {{"contents", {{"kind", "plaintext"}, {"value", text}}}, {"range", RangeJson(d, span)}};
}

json Definition(const OpenDocument& o, const Position& p) {
  const std::string_view line = o.doc.Line(p.line);
  const auto hit = o.assembled.SymbolAt(p.line, static_cast<uint32_t>(ByteColumn(line, p.character)));
  if (hit.symbol < 0) return nullptr;
  return LocationJson(o.doc, o.assembled.symbols[static_cast<size_t>(hit.symbol)].definition);
}

json References(const OpenDocument& o, const Position& p, bool includeDeclaration) {
  const std::string_view line = o.doc.Line(p.line);
  const auto hit = o.assembled.SymbolAt(p.line, static_cast<uint32_t>(ByteColumn(line, p.character)));
  if (hit.symbol < 0) return nullptr;
  const SymbolInfo& s = o.assembled.symbols[static_cast<size_t>(hit.symbol)];
  json list = json::array();
  if (includeDeclaration) {
    list.push_back(LocationJson(o.doc, s.definition));
    for (const Span& r : s.redefinitions) list.push_back(LocationJson(o.doc, r));
  }
  for (const Span& u : s.uses) list.push_back(LocationJson(o.doc, u));
  return list;
}

json Highlights(const OpenDocument& o, const Position& p) {
  const std::string_view line = o.doc.Line(p.line);
  const auto hit = o.assembled.SymbolAt(p.line, static_cast<uint32_t>(ByteColumn(line, p.character)));
  if (hit.symbol < 0) return nullptr;
  const SymbolInfo& s = o.assembled.symbols[static_cast<size_t>(hit.symbol)];
  json list = json::array();
  constexpr int kRead = 2, kWrite = 3;
  list.push_back({{"range", RangeJson(o.doc, s.definition)}, {"kind", kWrite}});
  for (const Span& r : s.redefinitions) list.push_back({{"range", RangeJson(o.doc, r)}, {"kind", kWrite}});
  for (const Span& u : s.uses) list.push_back({{"range", RangeJson(o.doc, u)}, {"kind", kRead}});
  return list;
}

std::string NameRefusal(std::string_view name) {
  if (name.empty()) return "a name cannot be empty";
  std::string upper(name);
  for (char& c : upper) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127 || c == ' ' || c == ',' || c == ';' || c == ':' || c == '(' || c == ')' || c == '\'' ||
        c == '"') {
      return "'" + std::string(name) + "' holds a character that ends a name (blank, comma, ';', ':', quote or "
             "parenthesis)";
    }
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper[0] == '$') return "'" + std::string(name) + "' begins with '$', which JR and JP read as an offset";
  if (RegTyp(upper) != reg::Value) return "'" + std::string(name) + "' would be read as a register";
  if (IsCondition(upper)) return "'" + std::string(name) + "' is a condition";
  if (FindKeyword(Keywords(), upper) != nullptr) return "'" + std::string(name) + "' is a keyword";
  if (Classify(upper, Width::k8).kind != OperandKind::kSymbol || Classify(upper, Width::k16).kind != OperandKind::kSymbol) {
    return "'" + std::string(name) + "' would be read as a number";
  }
  return {};
}

Answer PrepareRename(const OpenDocument& o, const Position& p) {
  const std::string_view line = o.doc.Line(p.line);
  const size_t column = ByteColumn(line, p.character);
  const auto hit = o.assembled.SymbolAt(p.line, static_cast<uint32_t>(column));
  if (hit.symbol < 0) return {nullptr, WordRefusal(SplitLine(line), column)};
  const std::string placeholder(line.substr(hit.span.column, hit.span.length));
  return {{{"range", RangeJson(o.doc, hit.span)}, {"placeholder", placeholder}}, {}};
}

Answer Rename(const OpenDocument& o, const Position& p, std::string_view newName, const AssembleOptions& options) {
  Answer prepared = PrepareRename(o, p);
  if (!prepared.refusal.empty()) return prepared;
  if (std::string why = NameRefusal(newName); !why.empty()) return {nullptr, why};
  const std::string_view line = o.doc.Line(p.line);
  const auto hit = o.assembled.SymbolAt(p.line, static_cast<uint32_t>(ByteColumn(line, p.character)));
  const SymbolInfo& s = o.assembled.symbols[static_cast<size_t>(hit.symbol)];
  std::string upper(newName);
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (upper != s.name && o.assembled.Find(upper) >= 0) return {nullptr, "'" + upper + "' is defined already"};

  std::vector<Span> spans{s.definition};
  spans.insert(spans.end(), s.redefinitions.begin(), s.redefinitions.end());
  spans.insert(spans.end(), s.uses.begin(), s.uses.end());
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
  });
  // The renamed text must assemble to the same statements; a name the
  // splitter reads differently somewhere shows here.
  std::string text = o.doc.Text();
  for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
    text.replace(o.doc.LineStart(it->line) + it->column, it->length, newName);
  }
  const AssembledDocument after = Assemble(text, options);
  bool same = after.bytes == o.assembled.bytes && after.problems.size() == o.assembled.problems.size() &&
              after.statements.size() == o.assembled.statements.size();
  for (size_t i = 0; same && i < after.statements.size(); ++i) {
    same = after.statements[i].address == o.assembled.statements[i].address &&
           after.statements[i].byteCount == o.assembled.statements[i].byteCount;
  }
  if (!same) return {nullptr, "renaming to '" + std::string(newName) + "' would change what the program assembles to"};

  json edits = json::array();
  for (const Span& sp : spans) edits.push_back({{"range", RangeJson(o.doc, sp)}, {"newText", std::string(newName)}});
  return {{{"changes", {{o.doc.Uri(), edits}}}}, {}};
}

namespace {

// 12 Function for a label on code, 13 Variable on data, 14 Constant for EQU.
int SymbolKind(const Document& d, const SymbolInfo& s) {
  const SplitLine line(d.Line(s.definition.line));
  const std::string_view op = line.f.OpcodeFld;
  if (op == "EQU" || op == "=") return 14;
  if (op == "DB" || op == "DEFB" || op == "DW" || op == "DEFW" || op == "DS" || op == "DEFS") return 13;
  return 12;
}

std::string ValueText(int32_t v) { return Hex4(v) + "H (" + std::to_string(v) + ")"; }

}  // namespace

json DocumentSymbols(const OpenDocument& o) {
  json list = json::array();
  for (const SymbolInfo& s : o.assembled.symbols) {
    const Span whole{s.definition.line, 0, static_cast<uint32_t>(o.doc.Line(s.definition.line).size())};
    list.push_back({{"name", s.name}, {"detail", ValueText(s.value)}, {"kind", SymbolKind(o.doc, s)},
                    {"range", RangeJson(o.doc, whole)}, {"selectionRange", RangeJson(o.doc, s.definition)}});
  }
  return list;
}

json WorkspaceSymbols(const std::vector<const OpenDocument*>& docs, std::string_view query) {
  std::string q(query);
  for (char& c : q) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  json list = json::array();
  constexpr size_t kMost = 1000;
  for (const OpenDocument* o : docs) {
    const std::string uri = o->doc.Uri();
    const std::string container = uri.substr(uri.find_last_of('/') + 1);
    for (const SymbolInfo& s : o->assembled.symbols) {
      if (s.name.find(q) == std::string::npos) continue;
      if (list.size() >= kMost) return list;
      list.push_back({{"name", s.name}, {"kind", SymbolKind(o->doc, s)}, {"containerName", container},
                      {"location", LocationJson(o->doc, s.definition)}});
    }
  }
  return list;
}

json Completion(const OpenDocument& o, const Position& p) {
  const std::string_view line = o.doc.Line(p.line);
  const size_t column = ByteColumn(line, p.character);
  const std::string_view before = line.substr(0, column);
  json items = json::array();
  // The first column holds a label: nothing to offer.
  size_t i = 0;
  if (before.empty()) return items;
  if (before[0] != ' ' && before[0] != '\t') {
    i = before.find_first_of(" \t:");
    if (i == std::string_view::npos) return items;
    ++i;
  }
  if (before.find(';', i) != std::string_view::npos) return items;  // a comment
  while (i < before.size() && (before[i] == ' ' || before[i] == '\t')) ++i;
  const bool opcodeColumn = before.find_first_of(" \t", i) == std::string_view::npos;
  if (opcodeColumn) {
    for (const KeywordForms& k : AllKeywords()) {
      items.push_back({{"label", std::string(k.keyword)}, {"kind", 14}, {"detail", std::string(k.forms)}});
    }
    return {{"isIncomplete", false}, {"items", items}};
  }
  for (std::string_view r : RegisterNames()) items.push_back({{"label", std::string(r)}, {"kind", 6}, {"detail", "register"}});
  for (std::string_view c : ConditionNames()) {
    items.push_back({{"label", std::string(c)}, {"kind", 20}, {"detail", "condition"}});
  }
  for (const SymbolInfo& s : o.assembled.symbols) {
    items.push_back({{"label", s.name}, {"kind", SymbolKind(o.doc, s) == 14 ? 21 : 18}, {"detail", ValueText(s.value)}});
  }
  return {{"isIncomplete", false}, {"items", items}};
}

namespace {

enum Token { kLabel, kMnemonic, kDirective, kRegister, kNumber, kString, kComment, kCondition };
constexpr const char* kTokenNames[] = {"variable", "keyword", "macro", "parameter", "number", "string", "comment",
                                       "enumMember"};

struct Tokens {
  const Document& d;
  std::vector<uint32_t> data;
  int64_t lastLine = 0;
  int64_t lastStart = 0;
  void Add(int64_t line, std::string_view text, size_t from, size_t length, Token type, uint32_t modifiers = 0) {
    if (length == 0) return;
    const int64_t start = Utf16Column(text, from);
    const int64_t end = Utf16Column(text, from + length);
    data.push_back(static_cast<uint32_t>(line - lastLine));
    data.push_back(static_cast<uint32_t>(line == lastLine ? start - lastStart : start));
    data.push_back(static_cast<uint32_t>(end - start));
    data.push_back(static_cast<uint32_t>(type));
    data.push_back(modifiers);
    lastLine = line;
    lastStart = start;
  }
};

// Splits one operand into its tokens: a register (inside parentheses too, and
// the IX/IY of an indexed operand), a number, a quoted text or a name.
void OperandTokens(Tokens& t, int64_t n, std::string_view line, size_t at, std::string_view op, bool condition) {
  if (op.empty()) return;
  if (condition && IsCondition(op)) return t.Add(n, line, at, op.size(), kCondition);
  if (op[0] == '\'' || op[0] == '"') return t.Add(n, line, at, op.size(), kString);
  size_t b = 0, e = op.size();
  if (op[0] == '(') {
    ++b;
    if (op.back() == ')') --e;
  }
  while (b < e && op[b] == ' ') ++b;
  while (e > b && op[e - 1] == ' ') --e;
  std::string_view inner = op.substr(b, e - b);
  if (inner.size() > 2 && inner[0] == 'I' && (inner[1] == 'X' || inner[1] == 'Y')) {
    t.Add(n, line, at + b, 2, kRegister);
    size_t d = 2;
    while (d < inner.size() && (inner[d] == ' ' || inner[d] == '+' || inner[d] == '-')) ++d;
    if (d < inner.size()) {
      const std::string_view disp = inner.substr(d);
      t.Add(n, line, at + b + d, disp.size(), Classify(disp, Width::k8).kind == OperandKind::kSymbol ? kLabel : kNumber);
    }
    return;
  }
  const int32_t code = RegTyp(op);
  if (code >= 0) return t.Add(n, line, at + b, inner.size(), kRegister);
  if (!inner.empty() && inner[0] == '$') return t.Add(n, line, at + b, inner.size(), kNumber);
  const OperandKind k = Classify(inner, Width::k16);
  t.Add(n, line, at + b, inner.size(), k.kind == OperandKind::kSymbol ? kLabel : kNumber);
}

}  // namespace

json SemanticTokensLegend() {
  json types = json::array();
  for (const char* name : kTokenNames) types.push_back(name);
  return {{"tokenTypes", types}, {"tokenModifiers", json::array({"declaration"})}};
}

json SemanticTokens(const OpenDocument& o) {
  Tokens t{o.doc, {}};
  const int64_t lines = o.doc.LineCount();
  for (int64_t n = 0; n < lines; ++n) {
    const std::string_view line = o.doc.Line(n);
    if (line.empty()) continue;
    const SplitLine s(line);
    const StatementFields& f = s.f;
    if (!f.LabelFld.empty()) t.Add(n, line, 0, SymbolTable::StripLabel(f.LabelFld).size(), kLabel, 1);
    if (!f.OpcodeFld.empty() && FindKeywordForms(f.OpcodeFld) != nullptr) {
      t.Add(n, line, s.At(f.OpcodeFld), f.OpcodeFld.size(), IsDirective(f.OpcodeFld) ? kDirective : kMnemonic);
    }
    const bool condition = TakesCondition(f.OpcodeFld) && (!f.Operand2Fld.empty() || f.OpcodeFld == "RET");
    const bool text = f.OpcodeFld == "DS" || f.OpcodeFld == "DEFS";
    if (text && !f.Operand1Fld.empty()) {
      // DS takes its first operand whole, quotes and all.
      t.Add(n, line, s.At(f.Operand1Fld), f.Operand1Fld.size(), kString);
    } else {
      OperandTokens(t, n, line, s.At(f.Operand1Fld), f.Operand1Fld, condition);
    }
    if (!f.Operand2Fld.empty()) OperandTokens(t, n, line, s.At(f.Operand2Fld), f.Operand2Fld, false);
    if (!f.CommentAt.empty()) {
      const size_t at = s.At(f.CommentAt);
      size_t end = line.size();
      while (end > at && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
      if (f.CommentAt[0] == ';') t.Add(n, line, at, end - at, kComment);
    }
  }
  return {{"data", t.data}};
}

}  // namespace orvane::lsp
