#include "lsp/incremental.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "encoder/assembler.h"
#include "encoder/timing.h"
#include "lsp/collector.h"

namespace orvane::lsp {

namespace {

// The slots of defined symbols a statement uses, once each where the run
// reads an operand twice (END under Intel HEX), as the collector keeps them.
struct Uses {
  std::vector<std::pair<int, Span>> defined;
  std::vector<std::pair<std::string, Span>> undefined;
};

Uses UsesOf(const Statement& s) {
  Uses u;
  for (const SymbolUse& use : s.uses) {
    const Span span = ToSpan(use.span);
    if (use.slot != 0) {
      if (!u.defined.empty() && u.defined.back().first == use.slot && SameSpan(u.defined.back().second, span)) continue;
      u.defined.emplace_back(use.slot, span);
    } else {
      if (!u.undefined.empty() && SameSpan(u.undefined.back().second, span)) continue;
      u.undefined.emplace_back(std::string(use.name), span);
    }
  }
  return u;
}

Incremental::Line Describe(const Statement& s) {
  Incremental::Line l;
  l.advance = s.byteCount;
  l.objectBytes = s.toObject ? static_cast<uint32_t>(s.bytes.size()) : 0;
  const StatementFields& f = *s.fields;
  const std::string_view op = f.OpcodeFld;
  if (op == "EQU" || op == "=") l.flags |= Incremental::kEqu;
  if (op == "ORG") l.flags |= Incremental::kOrg;
  if (op == "END") l.flags |= Incremental::kEnd;
  if (op == "JR" || op == "DJNZ") l.flags |= Incremental::kRelative;
  if (f.Operand1Fld.find('$') != std::string_view::npos || f.Operand2Fld.find('$') != std::string_view::npos) {
    l.flags |= Incremental::kDollar;
  }
  if (s.hasErrors) l.flags |= Incremental::kErrors;
  if (!s.problems.empty()) l.flags |= Incremental::kProblems;
  return l;
}

// The problems a run reports for a statement, in the order it reports them:
// by column, those of one column as found, warnings turned off left out.
std::vector<SourceProblem> Reported(const Statement& s, const AssembleOptions& options) {
  std::vector<const Problem*> order;
  for (const Problem& p : s.problems) order.push_back(&p);
  std::stable_sort(order.begin(), order.end(),
                   [](const Problem* a, const Problem* b) { return a->span.column < b->span.column; });
  std::vector<SourceProblem> out;
  for (const Problem* p : order) {
    if (p->severity == Severity::kWarning && options.disabledWarnings.count(p->name) != 0) continue;
    out.push_back(SourceProblemOf(*p, s));
  }
  return out;
}

// The placement check's answer for one line, known from the whole run.
class Replayed : public PlacementCheck {
 public:
  explicit Replayed(PlacementWarning w) : w_(std::move(w)) {}
  std::optional<PlacementWarning> Bytes(int32_t, size_t) override { return std::exchange(w_, std::nullopt); }

 private:
  std::optional<PlacementWarning> w_;
};

}  // namespace

// The collector of a whole run, which also notes each line's part in it and
// keeps the assembler at the end.
class Incremental::Observer : public Collector {
 public:
  Observer(AssembledDocument& doc, const ObjectFormat& format, Incremental& in)
      : Collector(doc, format), in_(in) {}
  void StatementDone(const Statement& s) override {
    Collector::StatementDone(s);
    in_.Record(s.line - 1, s);
  }
  void Finished(std::unique_ptr<Assembler>& as) override { in_.assembler_ = std::move(as); }

 private:
  Incremental& in_;
};

Incremental::Incremental() = default;
Incremental::~Incremental() = default;
Incremental::Incremental(Incremental&&) noexcept = default;
Incremental& Incremental::operator=(Incremental&&) noexcept = default;

void Incremental::Drop() {
  assembler_.reset();
  lines_.clear();
  lines_.shrink_to_fit();
  useStart_.clear();
  useSlots_.clear();
  labels_.clear();
  symbolOfSlot_.clear();
  placements_.clear();
}

void Incremental::Record(int64_t line, const Statement& s) {
  const Line l = Describe(s);
  lines_.push_back(l);
  if (l.flags & kEnd) firstEnd_ = std::min(firstEnd_, line);
  if ((l.flags & kDirective) && (l.flags & kErrors)) directiveErrors_ = true;
  for (const auto& [slot, span] : UsesOf(s).defined) useSlots_.push_back(slot);
  useStart_.push_back(static_cast<uint32_t>(useSlots_.size()));
  const std::string_view label = s.fields->LabelFld;
  if (!label.empty()) {
    labels_.emplace(line, std::pair<std::string, int>(std::string(label), static_cast<int>(label.data() - s.prepared.data())));
  }
}

AssembledDocument Incremental::Full(std::string_view text, const AssembleOptions& options) {
  Drop();
  AssembledDocument doc;
  options_ = options;
  format_ = options.cpm ? &kCpmFormat : &kIntelHexFormat;
  RunRequest request;
  request.path = "document";
  request.text = std::string(text);
  request.format = format_;
  request.recordUses = true;
  request.warnings.disabled = options.disabledWarnings;
  firstEnd_ = INT64_MAX;
  directiveErrors_ = false;
  useStart_.push_back(0);
  NoFiles files;
  Observer observer(doc, *format_, *this);
  Run(request, files, observer);
  doc.Index();
  firstEnd_ = std::min<int64_t>(firstEnd_, static_cast<int64_t>(lines_.size()));
  if (assembler_ == nullptr || lines_.size() != doc.statements.size()) {
    Drop();
    return doc;
  }
  const SymbolTable& table = assembler_->Symbols();
  symbolOfSlot_.assign(static_cast<size_t>(table.Used()) + 1, -1);
  int next = 0;
  for (int slot = 1; slot <= table.Used(); ++slot) {
    if (table.Slot(slot).first) symbolOfSlot_[static_cast<size_t>(slot)] = next++;
  }
  placements_ = Placements(doc);
  return doc;
}

std::vector<Incremental::Placed> Incremental::Placements(const AssembledDocument& doc) const {
  std::vector<Placed> out;
  const std::unique_ptr<PlacementCheck> check = format_->makeCheck();
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& l = lines_[i];
    std::optional<PlacementWarning> w;
    if (l.flags & kOrg) {
      w = check->Org(doc.statements[i].address);
    } else if (l.objectBytes != 0) {
      w = check->Bytes(doc.statements[i].address, l.objectBytes);
    }
    if (w) out.push_back({static_cast<int64_t>(i), w->name, std::move(w->text)});
  }
  return out;
}

bool Incremental::Edit(const Document& d, int64_t line0, AssembledDocument& doc) {
  if (assembler_ == nullptr) return false;
  const int64_t n = static_cast<int64_t>(lines_.size());
  // The document must still have the lines the run read: the same count,
  // and the edit not on the last line (an empty one after the last line end
  // is no line of the assembler's, and emptying an unended last line would
  // take it away).
  const int64_t last = d.LineCount() - 1;
  if (last + (d.Line(last).empty() ? 0 : 1) != n) return false;
  if (line0 < 0 || line0 >= last || line0 >= firstEnd_) return false;
  if (directiveErrors_ || assembler_->ValuesRestOnErrors() || assembler_->Symbols().Full()) return false;
  const Line old = lines_[static_cast<size_t>(line0)];
  if (old.flags & kDirective) return false;

  const int32_t pc = doc.statements[static_cast<size_t>(line0)].address;
  assembler_->Restep(line0 + 1, pc, d.Line(line0));
  const Line now = Describe(assembler_->Result());
  if (now.flags & kDirective) return false;
  {
    // The same label, or none: the symbols stay the same names in the same
    // slots.
    const std::string_view label = assembler_->Result().fields->LabelFld;
    const auto it = labels_.find(line0);
    if ((it != labels_.end()) != !label.empty()) return false;
    if (it != labels_.end() &&
        (it->second.first != label ||
         it->second.second != static_cast<int>(label.data() - assembler_->Result().prepared.data()))) {
      return false;
    }
  }
  const int32_t delta = now.advance - old.advance;

  // The lines to assemble again besides the edited one, and the stretch
  // that moves: up to the next ORG.
  std::vector<int64_t> again;
  int64_t end = n;
  int lo = 1, hi = 1;  // the slots of the labels that move
  const SymbolTable& table = assembler_->Symbols();
  if (delta != 0) {
    for (int64_t i = line0 + 1; i < n; ++i) {
      const uint8_t f = lines_[static_cast<size_t>(i)].flags;
      if (f & kOrg) {
        if (f & kDollar) return false;
        end = i;
        break;
      }
      if ((f & kDirective) && (f & kDollar)) return false;
      if (f & (kRelative | kDollar | kProblems)) {
        if (f & kDirective) return false;
        again.push_back(i);
      }
    }
    // Slots are in the order of their lines.
    const int used = table.Used();
    const auto firstFrom = [&](int64_t oneBasedLine) {
      int a = 1, b = used + 1;
      while (a < b) {
        const int m = a + (b - a) / 2;
        if (table.Slot(m).span.line < oneBasedLine) a = m + 1; else b = m;
      }
      return a;
    };
    lo = firstFrom(line0 + 2);
    hi = firstFrom(end + 2);  // an ORG's own label holds the PC before it
    for (int64_t i = 0; i < n; ++i) {
      const Line& l = lines_[static_cast<size_t>(i)];
      if (l.flags & kErrors) {
        if (l.flags & kDirective) return false;
        again.push_back(i);
        continue;
      }
      if (lo == hi) continue;
      for (uint32_t k = useStart_[static_cast<size_t>(i)]; k < useStart_[static_cast<size_t>(i) + 1]; ++k) {
        if (useSlots_[k] >= lo && useSlots_[k] < hi) {
          if (l.flags & kDirective) return false;
          again.push_back(i);
          break;
        }
      }
    }
    std::sort(again.begin(), again.end());
    again.erase(std::unique(again.begin(), again.end()), again.end());
    again.erase(std::remove(again.begin(), again.end(), line0), again.end());
    if (!again.empty() && again.back() >= firstEnd_) return false;
  }

  // Nothing may run past FFFFH where lines are assembled again or move.
  const auto fits = [](int64_t address, uint32_t bytes) {
    return address >= 0 && address <= 0xFFFF && address + std::max<int64_t>(bytes, 1) - 1 <= 0xFFFF;
  };
  if (!fits(pc, now.objectBytes) || !fits(pc, old.objectBytes)) return false;
  for (int64_t i = line0 + 1; i < end && delta != 0; ++i) {
    const int64_t a = doc.statements[static_cast<size_t>(i)].address;
    if (!fits(a, lines_[static_cast<size_t>(i)].objectBytes) ||
        !fits(a + delta, lines_[static_cast<size_t>(i)].objectBytes)) {
      return false;
    }
  }
  for (const int64_t i : again) {
    if (!fits(doc.statements[static_cast<size_t>(i)].address + (i > line0 && i < end ? delta : 0),
              lines_[static_cast<size_t>(i)].objectBytes)) {
      return false;
    }
  }

  // From here on the document changes; a refusal leaves it to a whole run.
  lines_[static_cast<size_t>(line0)] = now;
  if (delta != 0) {
    for (int64_t i = line0 + 1; i < end; ++i) doc.statements[static_cast<size_t>(i)].address += delta;
    SymbolTable& symbols = assembler_->MutableSymbols();
    for (int slot = lo; slot < hi; ++slot) {
      // An EQU's label keeps its value; the others stand for PC.
      if (lines_[static_cast<size_t>(symbols.Slot(slot).span.line - 1)].flags & kEqu) continue;
      symbols.SetAddress(slot, symbols.Slot(slot).address + delta);
      if (const int s = symbolOfSlot_[static_cast<size_t>(slot)]; s >= 0) doc.symbols[static_cast<size_t>(s)].value += delta;
    }
  }
  if (delta != 0 || now.objectBytes != old.objectBytes) {
    if (Placements(doc) != placements_) return false;
  }
  // A line assembled again gets the placement warning the whole run gave it
  // (the same, as checked above), from a check that knows only that.
  const auto check = [&](int64_t i) -> std::unique_ptr<PlacementCheck> {
    const auto it = std::lower_bound(placements_.begin(), placements_.end(), i,
                                     [](const Placed& p, int64_t l) { return p.line < l; });
    if (it == placements_.end() || it->line != i) return nullptr;
    return std::make_unique<Replayed>(PlacementWarning{it->name, it->text});
  };

  // The problems of the lines assembled again, by line, to merge.
  std::vector<std::pair<int64_t, std::vector<SourceProblem>>> fresh;
  const auto apply = [&](int64_t i, uint8_t oldFlags, bool edited) {
    const Statement& s = assembler_->Result();
    if (s.shows != Shows::kBytes) return false;
    StatementInfo& st = doc.statements[static_cast<size_t>(i)];
    const uint32_t count = static_cast<uint32_t>(s.bytes.size());
    if (count != st.byteCount) {
      if (!edited) return false;
      const auto at = doc.bytes.begin() + st.bytesAt;
      doc.bytes.erase(at, at + st.byteCount);
      doc.bytes.insert(doc.bytes.begin() + st.bytesAt, count, 0);
      const int64_t grow = static_cast<int64_t>(count) - static_cast<int64_t>(st.byteCount);
      for (size_t j = static_cast<size_t>(i) + 1; j < doc.statements.size(); ++j) {
        StatementInfo& later = doc.statements[j];
        if (!later.display) later.bytesAt = static_cast<uint32_t>(later.bytesAt + grow);
      }
      st.byteCount = count;
    }
    std::copy(s.bytes.begin(), s.bytes.end(), doc.bytes.begin() + st.bytesAt);
    st.address = s.address;
    st.timing = StatementTiming(s);
    Line& l = lines_[static_cast<size_t>(i)];
    const Line described = Describe(s);
    if (!edited && (described.advance != l.advance || described.objectBytes != l.objectBytes ||
                    (described.flags & ~(kErrors | kProblems)) != (l.flags & ~(kErrors | kProblems)))) {
      return false;
    }
    l = described;
    std::vector<SourceProblem> problems = Reported(s, options_);
    if ((oldFlags & kProblems) || !problems.empty()) fresh.emplace_back(i, std::move(problems));

    Uses uses = UsesOf(s);
    const uint32_t from = useStart_[static_cast<size_t>(i)], to = useStart_[static_cast<size_t>(i) + 1];
    if (!edited) {
      if (to - from != uses.defined.size()) return false;
      for (size_t k = 0; k < uses.defined.size(); ++k) {
        if (useSlots_[from + k] != uses.defined[k].first) return false;
      }
      return true;
    }
    // The edited line's uses: in the symbols, the names defined nowhere, the
    // slots per line and the marks.
    const auto byLine = [](const Span& a, int64_t b) { return a.line < b; };
    for (uint32_t k = from; k < to; ++k) {
      const int sym = symbolOfSlot_[static_cast<size_t>(useSlots_[k])];
      if (sym < 0) continue;
      std::vector<Span>& v = doc.symbols[static_cast<size_t>(sym)].uses;
      const auto b = std::lower_bound(v.begin(), v.end(), i, byLine);
      auto e = b;
      while (e != v.end() && e->line == i) ++e;
      v.erase(b, e);
    }
    std::vector<std::pair<int, Span>> marks;
    std::vector<int32_t> slots;
    for (const auto& [slot, span] : uses.defined) {
      slots.push_back(slot);
      const int sym = symbolOfSlot_[static_cast<size_t>(slot)];
      if (sym < 0) continue;
      std::vector<Span>& v = doc.symbols[static_cast<size_t>(sym)].uses;
      const auto at = std::lower_bound(v.begin(), v.end(), i + 1, byLine);
      v.insert(at, span);
      marks.emplace_back(sym, span);
    }
    {
      auto& u = doc.undefinedUses;
      const auto b = std::lower_bound(u.begin(), u.end(), i, [](const auto& a, int64_t l) { return a.second.line < l; });
      auto e = b;
      while (e != u.end() && e->second.line == i) ++e;
      const auto at = u.erase(b, e);
      u.insert(at, std::make_move_iterator(uses.undefined.begin()), std::make_move_iterator(uses.undefined.end()));
    }
    const int64_t grow = static_cast<int64_t>(slots.size()) - static_cast<int64_t>(to - from);
    useSlots_.erase(useSlots_.begin() + from, useSlots_.begin() + to);
    useSlots_.insert(useSlots_.begin() + from, slots.begin(), slots.end());
    if (grow != 0) {
      for (size_t j = static_cast<size_t>(i) + 1; j < useStart_.size(); ++j) {
        useStart_[j] = static_cast<uint32_t>(useStart_[j] + grow);
      }
    }
    doc.ReindexLine(i, marks);
    return true;
  };

  // The edited line, against the labels as they now stand.
  assembler_->Restep(line0 + 1, pc, d.Line(line0), check(line0));
  if (!apply(line0, old.flags, true)) return false;
  for (const int64_t i : again) {
    const uint8_t flags = lines_[static_cast<size_t>(i)].flags;
    assembler_->Restep(i + 1, doc.statements[static_cast<size_t>(i)].address, d.Line(i), check(i));
    if (!apply(i, flags, false)) return false;
  }
  if (!fresh.empty()) {
    std::sort(fresh.begin(), fresh.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<SourceProblem> out;
    out.reserve(doc.problems.size() + 8);
    size_t k = 0;
    for (SourceProblem& p : doc.problems) {
      for (; k < fresh.size() && fresh[k].first < p.line; ++k) {
        std::move(fresh[k].second.begin(), fresh[k].second.end(), std::back_inserter(out));
      }
      if (k < fresh.size() && fresh[k].first == p.line) continue;
      out.push_back(std::move(p));
    }
    for (; k < fresh.size(); ++k) std::move(fresh[k].second.begin(), fresh[k].second.end(), std::back_inserter(out));
    doc.problems = std::move(out);
  }
  return true;
}

}  // namespace orvane::lsp
