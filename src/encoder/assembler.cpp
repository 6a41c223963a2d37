#include "encoder/assembler.h"

#include <cstring>

#include "encoder/keywords.h"
#include "front/habits.h"
#include "front/numbers.h"

namespace orvane {

const AssemblyTarget kPlainTarget{0, false, 1, [] { return std::make_unique<PlacementCheck>(); }};

Assembler::Assembler() : keywordNumbers_(Keywords()), keywordByNumber_(KeywordsByNumber()) {
  bytes_.reserve(256);
  result_.fields = &fields_;
}

void Assembler::BeginRun(const RunOptions& options) {
  options_ = options;
  symbols_.Reset();
  restsOn_.clear();
  records_.clear();
  recorded_ = 0;
}

void Assembler::BeginPass(int pass) {
  pass_ = pass;
  if (pass == 1) {
    recorded_ = 0;
    // What pass 1's statements report and use, all along.
    result_.problems = {};
    result_.hasErrors = false;
    result_.uses = {};
  }
  pcDiffers_ = false;
  PC = options_.target->origin;
  pcRestsOn_ = 0;
  lineNo_ = 0;
  placement_ = options_.target->makeCheck();
  endSeen_ = afterEndWarned_ = wrapWarned_ = false;
  xref_ = CrossReference{};
}

void Assembler::Step(std::string_view line) {
  // Each pass has its own copy, with the other's work left out.
  if (Pass2()) {
    StepIn<true>(line);
  } else {
    StepIn<false>(line);
  }
}

template <bool kPass2>
[[gnu::always_inline]] inline void Assembler::StepIn(std::string_view line) {
  ++lineNo_;
  // Pass 1 reports nothing and records no uses (see BeginPass).
  if constexpr (kPass2) {
    if (!diag_.problems.empty()) diag_.Clear();
    uses_.clear();
  }
  failed_ = false;
  Statement& r = result_;
  r.line = lineNo_;
  r.source = line;
  r.toObject = true;
  r.shows = Shows::kBytes;
  r.isEnd = false;
  Assemble<kPass2>(line);
  // Bytes kept from pass 1 are handed on where they are kept.
  const std::span<const uint8_t> bytes =
      keptBytes_ != nullptr ? std::span<const uint8_t>(keptBytes_, static_cast<size_t>(byteCount_)) : bytes_;
  r.prepared = line_;
  r.address = PC;
  r.bytes = bytes;
  r.byteCount = byteCount_;
  if constexpr (kPass2) r.uses = uses_;
  if (kPass2 && (r.isEnd || (r.toObject && !bytes.empty()))) {
    // The usual statement, before END and below FFFFH, has only the format's
    // check to pass.
    if (!r.isEnd && !endSeen_ && PC + static_cast<int64_t>(bytes.size()) <= 0x10000) {
      if (std::optional<PlacementWarning> w = placement_->Bytes(PC, bytes.size())) {
        Placement(std::move(w), fields_.OpcodeFld);
      }
    } else {
      CheckObject();
    }
  }
  if constexpr (kPass2) {
    r.problems = diag_.problems;
    r.hasErrors = diag_.hasErrors;
  }
  PC = static_cast<int32_t>(static_cast<uint32_t>(PC) + static_cast<uint32_t>(byteCount_));
}

void Assembler::Restep(int64_t lineNo, int32_t pc, std::string_view line, std::unique_ptr<PlacementCheck> check) {
  pass_ = 2;
  records_.clear();
  recorded_ = 0;
  pcDiffers_ = true;
  PC = pc;
  pcRestsOn_ = 0;
  lineNo_ = lineNo - 1;
  placement_ = check != nullptr ? std::move(check) : std::make_unique<PlacementCheck>();
  endSeen_ = afterEndWarned_ = wrapWarned_ = false;
  if (!xref_.uses.empty() || !xref_.undefined.empty() || !xref_.duplicates.empty()) xref_ = CrossReference{};
  Step(line);
}

int Assembler::ColumnOf(std::string_view text) const {
  // Prepared and source lines are as long as each other, so a position in
  // one is the same column in the other.
  const char* begin = line_.data();
  if (text.empty() || text.data() < begin || text.data() >= begin + line_.size()) return 0;
  return static_cast<int>(text.data() - begin) + 1;
}

SourceSpan Assembler::SpanOf(std::string_view text) const {
  const int column = ColumnOf(text);
  return {lineNo_, column, column == 0 ? 0 : static_cast<int>(text.size())};
}

SourceSpan Assembler::ProblemSpan(std::string_view at) const {
  const int column = ColumnOf(at);
  if (column == 0) return {lineNo_, 0, 0};
  const size_t from = static_cast<size_t>(column) - 1;
  const std::string_view l = line_;
  size_t end = l[from] == '(' ? l.find(')', from) : l.find_first_of(" ,;)", from + 1);
  if (end == std::string_view::npos) {
    end = l.size();
  } else if (l[from] == '(') {
    ++end;
  }
  return {lineNo_, column, static_cast<int>(end - from)};
}

void Assembler::Error(std::string_view errstr, std::string_view at, std::string note) {
  failed_ = true;
  if (!Pass2()) return;
  if (note.empty()) note = HabitNoteFor(errstr, at);
  diag_.Error(errstr, ProblemSpan(at), std::move(note));
}

// A habit from another assembler gets a note that says what to write here.
std::string Assembler::HabitNoteFor(std::string_view errstr, std::string_view at) const {
  const HabitContext context{line_,
                             result_.source,
                             &fields_,
                             &symbols_,
                             [](std::string_view t) { return FindKeyword(Keywords(), t) != nullptr; },
                             PC,
                             options_.target->loadsFromOrigin,
                             [this](int slot) { return RestsOnError(slot); }};
  return HabitNote(errstr, at, context);
}

void Assembler::Warn(std::string_view name, std::string text, std::string_view at) {
  touched_ = true;
  if (Pass2()) diag_.Warn(name, std::move(text), ProblemSpan(at));
}

void Assembler::Error(std::string_view errstr, std::string_view at) {
  failed_ = true;
  if (!Pass2()) return;
  if (at.empty()) at = fields_.OpcodeFld;
  diag_.Error(errstr, ProblemSpan(at), HabitNoteFor(errstr, at));
}

// Uses and their spans are recorded only for a run that asks for them (the
// language server, the cross-reference, the debugger).
void Assembler::Referenced(std::string_view name, int slot) {
  // A symbol found in pass 1 is defined above (or on) this line, with the
  // value pass 2 finds too; so only a run that records uses, or a name not
  // found, makes pass 2 encode the statement again.
  if (slot == 0 || options_.recordUses) touched_ = true;
  if (!Pass2() || !options_.recordUses) return;
  const SourceSpan span = SpanOf(name);
  uses_.push_back({name, slot, span});
  if (slot != 0) {
    xref_.uses.push_back({slot, span});
  } else {
    xref_.undefined.emplace_back(name, span);
  }
}

void Assembler::LabelRestsOn(int64_t line) {
  const int slot = symbols_.Used();
  if (line != 0 && slot != 0 && symbols_.Slot(slot).span.line == lineNo_) restsOn_.emplace(slot, line);
}

int64_t Assembler::RestsOnError(int slot) const {
  if (slot == 0) return pcRestsOn_;
  const auto it = restsOn_.find(slot);
  return it == restsOn_.end() ? 0 : it->second;
}

// The label is handled before the mnemonic, so its messages come first.
void Assembler::CheckLabelPass2() {
  std::string_view name = result_.label;
  if (name.empty()) return;
  const int slot = symbols_.Find(name);
  if (slot == 0) {
    if (symbols_.Full()) Error(msg::kSymbolTableFull, fields_.LabelFld);
    return;
  }
  if (const int64_t first = symbols_.Slot(slot).span.line; first != lineNo_) {
    // The first definition, and for a ';' in the first column what was meant.
    std::string note = name == ";" ? "line " + std::to_string(first) +
                                         " has a ';' in the first column already, which also starts a label, not a "
                                         "comment; indent the comment"
                                   : std::string(name) + " is defined first on line " + std::to_string(first) +
                                         "; a label is defined once";
    Error(msg::kDuplicateLabel, fields_.LabelFld, std::move(note));
    if (options_.recordUses) xref_.duplicates.emplace_back(name, result_.labelSpan);
  }
}

// EQU, = and ORG take their value in pass 1; a symbol defined further down was
// still 0 then, so the value used differs from the one listed.
void Assembler::CheckForwardReference(std::string_view operand, bool sameLineIsForward) {
  if (!Pass2()) return;
  const std::string_view name = DropParentheses(operand);
  if (Classify(name, Width::k16).kind != OperandKind::kSymbol) return;
  const int slot = symbols_.Find(name);
  if (slot == 0) return;  // already reported as undefined
  const int64_t line = symbols_.Slot(slot).span.line;
  if (line > lineNo_ || (sameLineIsForward && line == lineNo_)) Error(msg::kIllegalForwardRef, operand);
}

// Records are kept in chunks, so that a long source never has them moved.
void Assembler::AddRecordChunk() {
  records_.push_back(std::make_unique_for_overwrite<LineRecord[]>(kRecordChunk));
}

// Both are inlined where the line is assembled: every line takes one.
[[gnu::always_inline]] inline void Assembler::Keep(LineRecord& r, uint8_t keyword, bool commentBlank) const {
  const char* const l = line_.data();
  // Every field, an empty one too, is a view into the line.
  const auto put = [l](uint8_t* to, std::string_view field) {
    to[0] = static_cast<uint8_t>(field.data() - l);
    to[1] = static_cast<uint8_t>(field.size());
  };
  r.length = static_cast<uint8_t>(line_.size());
  r.label = static_cast<uint8_t>(fields_.LabelFld.size());
  put(r.opcode, fields_.OpcodeFld);
  put(r.operand1, fields_.Operand1Fld);
  put(r.operand2, fields_.Operand2Fld);
  put(r.comment, fields_.CommentAt);
  r.op1Type = static_cast<int8_t>(Op1Type);
  r.op2Type = static_cast<int8_t>(Op2Type);
  r.keyword = keyword;
  r.flags = LineRecord::kKept | (commentBlank ? LineRecord::kCommentBlank : 0);
}

// The fields as Parse gave them in pass 1 (an empty one where Parse left it),
// and the keyword.
[[gnu::always_inline]] inline const Keyword* Assembler::Restore(const LineRecord& r) {
  // The record was made from a line of this length, so every field lies in it.
  const char* const l = line_.data();
  const auto field = [l](const uint8_t* at) { return std::string_view(l + at[0], at[1]); };
  fields_.LabelFld = std::string_view(l, r.label);
  fields_.OpcodeFld = field(r.opcode);
  fields_.Operand1Fld = field(r.operand1);
  fields_.Operand2Fld = field(r.operand2);
  fields_.CommentAt = field(r.comment);
  // Most lines have no comment: nothing to copy for those.
  if (fields_.CommentAt.empty()) {
    fields_.CommentFld.clear();
  } else {
    fields_.CommentFld.assign(fields_.CommentAt);
    if (r.flags & LineRecord::kCommentBlank) fields_.CommentFld.push_back(' ');
  }
  Op1Type = r.op1Type;
  Op2Type = r.op2Type;
  return keywordByNumber_[r.keyword];
}

// After pass 1's handler: an instruction whose bytes rest on nothing but its
// text and PC gives the same bytes in pass 2, with nothing to report.
[[gnu::always_inline]] inline void Assembler::KeepBytes(LineRecord& r, const Keyword* k) const {
  if (k->encode == &Assembler::EncodeOrg) {
    std::memcpy(r.bytes, &PC, sizeof PC);  // a directive: no bytes kept
    r.flags |= LineRecord::kOrgPc;
    return;
  }
  if (r.keyword <= kDirectiveCount || failed_ || touched_ || bytes_.size() > 4 || byteCount_ != Built()) return;
  // Four at most: the first two and the last two (which may overlap), or
  // the one byte.
  const size_t n = bytes_.size();
  const uint8_t* const from = bytes_.data();
  if (n >= 2) {
    std::memcpy(r.bytes, from, 2);
    std::memcpy(r.bytes + n - 2, from + n - 2, 2);
  } else if (n == 1) {
    r.bytes[0] = from[0];
  }
  r.flags |= static_cast<uint8_t>(LineRecord::kBytes | n << 4);
}

// Inlined in Step, its only caller.
template <bool kPass2>
[[gnu::always_inline]] inline void Assembler::Assemble(std::string_view ASMLine) {
  constexpr bool pass2 = kPass2;
  bytes_.clear();
  keptBytes_ = nullptr;
  byteCount_ = 0;
  line_ = PrepLine(ASMLine, prepared_);
  const Keyword* k;
  LineRecord* record = nullptr;
  if (pass2 && lineNo_ <= recorded_ && RecordOf(lineNo_).flags != 0 &&
      RecordOf(lineNo_).length == line_.size()) {
    record = &RecordOf(lineNo_);
    k = Restore(*record);
  } else {
    // Pass 1 lists nothing: the comment's text is copied in pass 2 only.
    const bool commentBlank = ParseInline(line_, fields_, pass2);
    Op1Type = RegTyp(fields_.Operand1Fld);
    Op2Type = RegTyp(fields_.Operand2Fld);
    const uint8_t keyword = FindKeywordNumber(keywordNumbers_, fields_.OpcodeFld);
    k = keywordByNumber_[keyword];
    if (!pass2) {
      record = NewRecord();
      if (line_.size() <= 255) {
        Keep(*record, keyword, commentBlank);
      } else {
        record->flags = 0;
      }
    }
  }
  if (fields_.LabelFld.empty()) {
    result_.label = {};
    result_.labelSpan = {lineNo_, 0, 0};
  } else {
    result_.label = SymbolTable::StripLabel(fields_.LabelFld);
    result_.labelSpan = SpanOf(result_.label);
  }

  // EQU defines its label itself, after reading its value.
  if (!pass2 && !fields_.LabelFld.empty() && (k == nullptr || k->encode != &Assembler::EncodeEqu)) {
    const int used = symbols_.Used();
    symbols_.AddLabel(fields_.LabelFld, PC, result_.labelSpan);
    if (symbols_.Used() != used && symbols_.Slot(used + 1).first && record->flags != 0) {
      record->flags |= LineRecord::kLabelFirst;
    }
    if (pcRestsOn_ != 0) LabelRestsOn(pcRestsOn_);
  }
  if (pass2) {
    if (lineNo_ == 1) {
      if (std::string note = ByteOrderMarkNote(ASMLine); !note.empty()) diag_.Note(std::move(note), {lineNo_, 1, 0});
    }
    if (!result_.label.empty() && (record == nullptr || !(record->flags & LineRecord::kLabelFirst))) {
      CheckLabelPass2();
    }
    if (!fields_.LabelFld.empty() && fields_.LabelFld[0] == ';') {
      Warn(warn::kLabelSemicolon, "';' in the first column starts a label, not a comment; indent the comment",
           fields_.LabelFld);
    }
    if (k != nullptr) CheckOperandCount(*k);
  }

  if (k == nullptr) {
    if (!fields_.OpcodeFld.empty()) Error(msg::kUndefinedOpcode, fields_.OpcodeFld);
    return;
  }
  if (record != nullptr && pass2 && (record->flags & LineRecord::kBytes) && !pcDiffers_) {
    keptBytes_ = record->bytes;
    byteCount_ = (record->flags >> 4) & 7;
    return;
  }
  touched_ = false;
  (this->*k->encode)(*k);
  if (!pass2) {
    if (record != nullptr && record->flags != 0) KeepBytes(*record, k);
  } else if (k->encode == &Assembler::EncodeOrg) {
    // Bytes kept from pass 1 are right only where PC is what it was then.
    int32_t before;
    if (record == nullptr || !(record->flags & LineRecord::kOrgPc)) {
      pcDiffers_ = true;
    } else if (std::memcpy(&before, record->bytes, sizeof before); before != PC) {
      pcDiffers_ = true;
    }
  }
}

}  // namespace orvane
