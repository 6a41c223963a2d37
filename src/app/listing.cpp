#include "app/listing.h"

#include <algorithm>
#include <cstring>

#include "front/numbers.h"
#include "front/text.h"

namespace orvane {

namespace {

constexpr size_t kObjectColumn = 8;
constexpr size_t kOperandColumn = 16;

// Where the columns of an entry's first line stand (offsets from 0). The
// address takes the first four characters; the blanks between columns are
// what the offsets leave free.
struct FirstLineLayout {
  size_t object;
  size_t label, labelWidth;
  size_t opcode, opcodeWidth;
  size_t operand;  // the operand column runs to the end of the fixed part
  constexpr size_t Width() const { return operand + kOperandColumn; }
};
// Listing file: address, 2 blanks, object, 2 blanks, label 12, mnemonic 8, operands 16.
constexpr FirstLineLayout kFileLayout{6, 16, 12, 28, 8, 36};
// Listing box: address, blank, object, blank, label 10, blank, mnemonic 6, operands 16.
constexpr FirstLineLayout kBoxLayout{5, 14, 10, 25, 6, 31};

// Copies `text` into a column of blanks, cut to `width` characters.
// An empty field may be a view without data, which memcpy must not be given.
void PutColumn(char* column, std::string_view text, size_t width) {
  const size_t n = std::min(text.size(), width);
  if (n != 0) std::memcpy(column, text.data(), n);
}

// The first line, from the address to the comment and the line end. The
// operand column holds the operands joined by a comma in the short layout and
// the first operand only in the long layout.
void AppendFirstLine(const ListingInput& in, const FirstLineLayout& layout, std::string& out) {
  const StatementFields& f = *in.fields;
  char line[64];
  static_assert(kFileLayout.Width() <= sizeof line && kBoxLayout.Width() <= sizeof line);
  std::memset(line, ' ', sizeof line);  // a fixed size: a few stores, no call
  for (int k = 0; k < 4; ++k) line[k] = kHexDigits[(static_cast<uint32_t>(in.pc) >> (12 - 4 * k)) & 15];
  PutColumn(line + layout.object, in.objCode, kObjectColumn);
  PutColumn(line + layout.label, f.LabelFld, layout.labelWidth);
  PutColumn(line + layout.opcode, f.OpcodeFld, layout.opcodeWidth);
  char* operand = line + layout.operand;
  PutColumn(operand, f.Operand1Fld, kOperandColumn);
  const bool longLayout = in.objCode.size() > kObjectColumn;
  if (!longLayout && !f.Operand2Fld.empty() && f.Operand1Fld.size() < kOperandColumn) {
    const size_t used = f.Operand1Fld.size();
    operand[used] = ',';
    PutColumn(operand + used + 1, f.Operand2Fld, kOperandColumn - used - 1);
  }
  out.append(line, layout.Width());
  out.append(f.CommentFld);
  out.append("\r\n");
}

// Error line, then the object digits beyond the first eight, eight a line.
void AppendTail(const ListingInput& in, std::string& out, std::string_view indent, bool pad) {
  if (!in.errText.empty()) {
    out.append(in.errText);
    out.append("\r\n");
  }
  for (size_t i = kObjectColumn; i < in.objCode.size(); i += kObjectColumn) {
    out.append(indent);
    std::string_view digits = in.objCode.substr(i, kObjectColumn);
    if (pad) {
      AppendPadded(out, digits, kObjectColumn);
    } else {
      out.append(digits);
    }
    out.append("\r\n");
  }
}

}  // namespace

void AppendFileEntry(const ListingInput& in, std::string& out) {
  AppendFirstLine(in, kFileLayout, out);
  AppendTail(in, out, "      ", false);
}

void AppendBoxEntry(const ListingInput& in, std::string& out) {
  AppendFirstLine(in, kBoxLayout, out);
  AppendTail(in, out, "     ", true);
}

}  // namespace orvane
