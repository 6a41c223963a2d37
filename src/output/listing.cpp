#include "output/listing.h"

#include <algorithm>
#include <cstddef>

#include "front/numbers.h"
#include "front/text.h"

namespace orvane {

namespace {

constexpr size_t kObjectColumn = 8;
constexpr size_t kOperandColumn = 16;
// Listing text is gathered up to this size before it goes to the file.
constexpr size_t kChunk = 1 << 17;

// Where the columns of an entry's first line start (offsets from 0) and how
// wide the label and mnemonic columns are. The address takes the first four
// characters; the blanks between columns are what the offsets leave free, and
// the operand column runs to the end of the fixed part.
struct FirstLineLayout {
  size_t object, label, labelWidth, opcode, opcodeWidth, operand;
  constexpr size_t Width() const { return operand + kOperandColumn; }
};
// Listing file: address, 2 blanks, object 8, 2 blanks, label 12, mnemonic 8, operands 16.
constexpr FirstLineLayout kFileLayout{6, 16, 12, 28, 8, 36};
// Listing box: address, blank, object 8, blank, label 10, blank, mnemonic 6, operands 16.
constexpr FirstLineLayout kBoxLayout{5, 14, 10, 25, 6, 31};

// Puts `text`, cut to `width` characters, over the blanks of a column that
// starts at `at` in `line`.
void PutColumn(std::string& line, size_t at, std::string_view text, size_t width) {
  std::copy_n(text.data(), std::min(text.size(), width), line.begin() + static_cast<std::ptrdiff_t>(at));
}

// The first line, from the address to the comment and the line end: the fixed
// part is laid as blanks, then each field is put over its column. The operand
// column holds the operands joined by a comma in the short layout and the
// first operand only in the long layout.
void AppendFirstLine(const Statement& s, std::string_view objCode, const FirstLineLayout& layout, std::string& out) {
  const StatementFields& f = *s.fields;
  const size_t start = out.size();
  AppendHex4(out, static_cast<uint32_t>(s.address));
  out.append(layout.Width() - 4, ' ');
  PutColumn(out, start + layout.object, objCode, kObjectColumn);
  PutColumn(out, start + layout.label, f.LabelFld, layout.labelWidth);
  PutColumn(out, start + layout.opcode, f.OpcodeFld, layout.opcodeWidth);
  const size_t operand = start + layout.operand;
  PutColumn(out, operand, f.Operand1Fld, kOperandColumn);
  const size_t used = f.Operand1Fld.size();
  if (objCode.size() <= kObjectColumn && !f.Operand2Fld.empty() && used < kOperandColumn) {
    out[operand + used] = ',';
    PutColumn(out, operand + used + 1, f.Operand2Fld, kOperandColumn - used - 1);
  }
  out.append(f.CommentFld);
  out.append("\r\n");
}

// Error line, then the object digits beyond the first eight, eight a line.
void AppendTail(std::string_view objCode, std::string_view errText, std::string& out, size_t indent, bool pad) {
  if (!errText.empty()) {
    out.append(errText);
    out.append("\r\n");
  }
  for (size_t i = kObjectColumn; i < objCode.size(); i += kObjectColumn) {
    out.append(indent, ' ');
    const std::string_view digits = objCode.substr(i, kObjectColumn);
    AppendPadded(out, digits, pad ? kObjectColumn : digits.size());
    out.append("\r\n");
  }
}

}  // namespace

void AppendObjectText(const Statement& s, const ObjectFormat& format, std::string& out) {
  switch (s.shows) {
    case Shows::kBytes:
      for (uint8_t b : s.bytes) AppendHex2(out, b);
      return;
    case Shows::kValue:
      out.append("= ");
      AppendHex4(out, static_cast<uint32_t>(s.value));
      return;
    case Shows::kEnd:
      format.showEnd(s.endHasOperand, s.startAddress, out);
      return;
  }
}

// The object column and the error line: the statement's errors run together.
void EntryMaker::Prepare(const Statement& s) {
  object_.clear();
  AppendObjectText(s, format_, object_);
  errors_.clear();
  if (!s.hasErrors) return;
  for (const Problem& p : s.problems) {
    if (p.IsError()) errors_.append(p.text);
  }
}

void EntryMaker::AppendFileEntry(const Statement& s, std::string& out) {
  Prepare(s);
  AppendFirstLine(s, object_, kFileLayout, out);
  AppendTail(object_, errors_, out, 6, false);
}

void EntryMaker::AppendBoxEntry(const Statement& s, std::string& out) {
  Prepare(s);
  AppendFirstLine(s, object_, kBoxLayout, out);
  AppendTail(object_, errors_, out, 5, true);
}

ListingWriter::ListingWriter(OutputSink& file, std::string_view sourcePath, const ObjectFormat& format)
    : file_(file), entries_(format) {
  pending_.reserve(kChunk + 4096);
  pending_.append(sourcePath);
  pending_.append("\r\n");
}

void ListingWriter::Entry(const Statement& s) {
  entries_.AppendFileEntry(s, pending_);
  if (pending_.size() >= kChunk) {
    file_.Write(pending_);
    pending_.clear();
  }
}

void ListingWriter::Finish() {
  file_.Write(pending_);
  pending_.clear();
}

}  // namespace orvane
