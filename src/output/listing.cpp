#include "output/listing.h"

#include "front/numbers.h"
#include "front/text.h"

namespace orvane {

namespace {

constexpr size_t kObjectColumn = 8;
constexpr size_t kOperandColumn = 16;
// Listing text is gathered up to this size before it goes to the file.
constexpr size_t kChunk = 1 << 17;

// The first line's columns after the four address digits: the blanks before
// the object column, the blanks after it, the label's width and the blanks
// after it, the mnemonic's width; the operand column follows directly.
struct FirstLineLayout {
  size_t afterAddress, afterObject, label, afterLabel, opcode;
};
// Listing file: address, 2 blanks, object 8, 2 blanks, label 12, mnemonic 8, operands 16.
constexpr FirstLineLayout kFileLayout{2, 2, 12, 0, 8};
// Listing box: address, blank, object 8, blank, label 10, blank, mnemonic 6, operands 16.
constexpr FirstLineLayout kBoxLayout{1, 1, 10, 1, 6};

// The first line, from the address to the comment and the line end. The
// operand column holds the operands joined by a comma in the short layout and
// the first operand only in the long layout.
void AppendFirstLine(const ListingInput& in, const FirstLineLayout& layout, std::string& out) {
  const StatementFields& f = *in.fields;
  AppendHex4(out, static_cast<uint32_t>(in.pc));
  out.append(layout.afterAddress, ' ');
  AppendPadded(out, in.objCode, kObjectColumn);
  out.append(layout.afterObject, ' ');
  AppendPadded(out, f.LabelFld, layout.label);
  out.append(layout.afterLabel, ' ');
  AppendPadded(out, f.OpcodeFld, layout.opcode);
  const bool longLayout = in.objCode.size() > kObjectColumn;
  if (longLayout || f.Operand2Fld.empty() || f.Operand1Fld.size() >= kOperandColumn) {
    AppendPadded(out, f.Operand1Fld, kOperandColumn);
  } else {
    AppendPadded(out, f.Operand1Fld, f.Operand1Fld.size());
    out.push_back(',');
    AppendPadded(out, f.Operand2Fld, kOperandColumn - f.Operand1Fld.size() - 1);
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
