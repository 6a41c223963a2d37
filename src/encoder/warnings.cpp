// The warnings about a statement as a whole: operands the mnemonic does not
// use, bytes the object file will not hold where the listing says (the
// format's own check), and bytes after END. (Values that do not fit their
// field are found where they are read, in the operand reader.) Pass 2 only.
#include "encoder/assembler.h"
#include "front/numbers.h"

namespace orvane {


void Assembler::WarnOperandCount(const Keyword& k) {
  const StatementFields& f = fields_;
  const size_t written = f.Operand2Fld.empty() ? (f.Operand1Fld.empty() ? 0 : 1) : 2;
  // SUB, AND, XOR, OR and CP report a second operand as an error already.
  const bool reported = k.encode == &Assembler::EncodeArith && k.operands == 1;
  if (written > k.operands && !reported) {
    if (k.operands == 0) {
      const std::string ignored =
          std::string(f.Operand1Fld).append(written == 2 ? "," : "").append(written == 2 ? f.Operand2Fld : "");
      Warn(warn::kExtraOperand, std::string(k.text) + " takes no operand; " + ignored + " is ignored",
           f.Operand1Fld.empty() ? f.Operand2Fld : f.Operand1Fld);
    } else {
      const bool db = k.encode == &Assembler::EncodeDb, dw = k.encode == &Assembler::EncodeDw;
      Warn(warn::kExtraOperand,
           "only the first operand is assembled: " + std::string(k.text) + " takes one " +
               (db ? "byte" : dw ? "word" : "operand"),
           f.Operand2Fld);
    }
  } else if (!f.CommentFld.empty() && f.CommentFld[0] != ';') {
    // What follows the operands and is not a comment is filed as one.
    Warn(warn::kExtraOperand, "'" + f.CommentFld + "' after the operands is ignored; a comment starts with ';'",
         f.CommentAt);
  }
}

// An ORG starts a new stretch for the format's placement check and for the
// wrap past FFFFH.
void Assembler::CheckOrg() {
  if (!Pass2()) return;
  wrapWarned_ = false;
  Placement(placement_->Org(PC), fields_.Operand1Fld);
}

// The check follows every ORG and byte; its warning is left out where the
// place rests on an operand that failed (this statement's, or a failed ORG's
// before it), where the error already says what went wrong.
void Assembler::Placement(std::optional<PlacementWarning> w, std::string_view at) {
  if (w && !failed_ && pcRestsOn_ == 0) Warn(w->name, std::move(w->text), at);
}

// After each pass-2 statement: bytes after END, bytes past FFFFH (once for
// each stretch after an ORG), and where the bytes land.
void Assembler::CheckObject() {
  if (result_.isEnd) endSeen_ = true;
  const size_t bytes = result_.toObject ? result_.bytes.size() : 0;
  if (bytes == 0) return;
  if (endSeen_ && !afterEndWarned_) {
    afterEndWarned_ = true;
    Warn(warn::kAfterEnd, "bytes after END are still assembled and written to the object file", fields_.OpcodeFld);
  }
  const int64_t last = static_cast<int64_t>(result_.address) + static_cast<int64_t>(bytes) - 1;
  if (last > 0xFFFF && !wrapWarned_) {
    wrapWarned_ = true;
    std::string text = "the addresses run past FFFFH and start again at 0000H: ";
    text += bytes == 1 ? "this byte lands at " : "these " + std::to_string(bytes) + " bytes land at ";
    AppendHex4(text, static_cast<uint32_t>(result_.address));
    if (bytes != 1) {
      text += "H-";
      AppendHex4(text, static_cast<uint32_t>(last));
    }
    Warn(warn::kAddressWrap, text + "H", fields_.OpcodeFld);
  }
  if (std::optional<PlacementWarning> w = placement_->Bytes(result_.address, bytes)) {
    Placement(std::move(w), fields_.OpcodeFld);
  }
}

}  // namespace orvane
