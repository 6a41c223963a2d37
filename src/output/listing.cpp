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
void AppendFirstLine(const ListingInput& in, const FirstLineLayout& layout, std::string& out) {
  const StatementFields& f = *in.fields;
  const size_t start = out.size();
  AppendHex4(out, static_cast<uint32_t>(in.pc));
  out.append(layout.Width() - 4, ' ');
  PutColumn(out, start + layout.object, in.objCode, kObjectColumn);
  PutColumn(out, start + layout.label, f.LabelFld, layout.labelWidth);
  PutColumn(out, start + layout.opcode, f.OpcodeFld, layout.opcodeWidth);
  const size_t operand = start + layout.operand;
  PutColumn(out, operand, f.Operand1Fld, kOperandColumn);
  const size_t used = f.Operand1Fld.size();
  if (in.objCode.size() <= kObjectColumn && !f.Operand2Fld.empty() && used < kOperandColumn) {
    out[operand + used] = ',';
    PutColumn(out, operand + used + 1, f.Operand2Fld, kOperandColumn - used - 1);
  }
  out.append(f.CommentFld);
  out.append("\r\n");
}

// Error line, then the object digits beyond the first eight, eight a line.
void AppendTail(const ListingInput& in, std::string& out, size_t indent, bool pad) {
  if (!in.errText.empty()) {
    out.append(in.errText);
    out.append("\r\n");
  }
  for (size_t i = kObjectColumn; i < in.objCode.size(); i += kObjectColumn) {
    out.append(indent, ' ');
    const std::string_view digits = in.objCode.substr(i, kObjectColumn);
    AppendPadded(out, digits, pad ? kObjectColumn : digits.size());
    out.append("\r\n");
  }
}

}  // namespace

void AppendFileEntry(const ListingInput& in, std::string& out) {
  AppendFirstLine(in, kFileLayout, out);
  AppendTail(in, out, 6, false);
}

void AppendBoxEntry(const ListingInput& in, std::string& out) {
  AppendFirstLine(in, kBoxLayout, out);
  AppendTail(in, out, 5, true);
}

ListingWriter::ListingWriter(OutputSink& file, std::string_view sourcePath) : file_(file) {
  pending_.reserve(kChunk + 4096);
  pending_.append(sourcePath);
  pending_.append("\r\n");
}

void ListingWriter::Entry(const ListingInput& in) {
  AppendFileEntry(in, pending_);
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
