#include "app/listing.h"

#include "front/numbers.h"
#include "front/text.h"

namespace orvane {

namespace {

constexpr size_t kObjectColumn = 8;

// Short layout: the operands joined by a comma; long layout: the first only.
void AppendOperandColumn(const ListingInput& in, std::string& out) {
  const StatementFields& f = *in.fields;
  if (in.objCode.size() > kObjectColumn) {
    AppendPadded(out, f.Operand1Fld, 16);
    return;
  }
  std::string op = f.Operand1Fld;
  if (!f.Operand2Fld.empty()) {
    op.push_back(',');
    op.append(f.Operand2Fld);
  }
  AppendPadded(out, op, 16);
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
  const StatementFields& f = *in.fields;
  AppendHex4(out, static_cast<uint32_t>(in.pc));
  out.append("  ");
  AppendPadded(out, in.objCode, kObjectColumn);
  out.append("  ");
  AppendPadded(out, f.LabelFld, 12);
  AppendPadded(out, f.OpcodeFld, 8);
  AppendOperandColumn(in, out);
  out.append(f.CommentFld);
  out.append("\r\n");
  AppendTail(in, out, "      ", false);
}

void AppendBoxEntry(const ListingInput& in, std::string& out) {
  const StatementFields& f = *in.fields;
  AppendHex4(out, static_cast<uint32_t>(in.pc));
  out.push_back(' ');
  AppendPadded(out, in.objCode, kObjectColumn);
  out.push_back(' ');
  AppendPadded(out, f.LabelFld, 10);
  out.push_back(' ');
  AppendPadded(out, f.OpcodeFld, 6);
  AppendOperandColumn(in, out);
  out.append(f.CommentFld);
  out.append("\r\n");
  AppendTail(in, out, "     ", true);
}

}  // namespace orvane
