// The warnings about a statement as a whole: operands the mnemonic does not
// use, bytes a CP/M image or a HEX file will not hold where the listing says,
// and bytes after END. (Values that do not fit their field are found where
// they are read, in the operand reader.) Pass 2 only.
#include <cstdlib>

#include "encoder/assembler.h"
#include "front/numbers.h"

namespace orvane {

namespace {

std::string Hex4H(int64_t v) {
  std::string s;
  AppendHex4(s, static_cast<uint32_t>(v));
  return s + "H";
}

}  // namespace

void Assembler::CheckOperandCount(const Keyword& k) {
  const StatementFields& f = fields_;
  // Most statements: no second operand, no first one beyond what is used,
  // and nothing after them but a comment.
  if (f.Operand2Fld.empty() && (k.operands != 0 || f.Operand1Fld.empty()) &&
      (f.CommentFld.empty() || f.CommentFld[0] == ';')) {
    return;
  }
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

// ORG in a CP/M image: the image holds the bytes one after another from 0100H,
// so an ORG anywhere but to where the image has got to moves the listing's
// addresses away from where the bytes will be.
void Assembler::CheckOrgGap() {
  overlapWarned_ = false;
  if (!Pass2() || options_.intelHex) return;
  const int64_t loads = 0x100 + static_cast<int64_t>(emitted_);
  if (PC == loads) return;
  Warn(warn::kCpmOrgGap,
       "a CP/M image has no gaps: what follows loads at " + Hex4H(loads) + ", not " + Hex4H(PC) +
           ", so its addresses are off by " + std::to_string(PC > loads ? PC - loads : loads - PC) +
           (std::abs(PC - loads) == 1 ? " byte" : " bytes"),
       fields_.Operand1Fld);
}

// After each pass-2 statement: bytes written over earlier ones (Intel HEX)
// and bytes after END.
void Assembler::CheckObject() {
  if (isEnd_) endSeen_ = true;
  const size_t bytes = noObject_ ? 0 : objCode_.size() / 2;
  if (bytes == 0) return;
  emitted_ += bytes;
  if (endSeen_ && !afterEndWarned_) {
    afterEndWarned_ = true;
    Warn(warn::kAfterEnd, "bytes after END are still assembled and written to the object file", fields_.OpcodeFld);
  }
  if (!options_.intelHex) return;
  size_t again = 0;
  int64_t first = -1;
  for (size_t i = 0; i < bytes; ++i) {
    const size_t a = (static_cast<size_t>(address_) + i) & 0xFFFF;
    if (written_[a] && again++ == 0) first = static_cast<int64_t>(a);
    written_.set(a);
  }
  // Once until the next ORG: the statements after the first one in an
  // overlapping stretch would only repeat it.
  if (again != 0 && !overlapWarned_) {
    overlapWarned_ = true;
    Warn(warn::kHexOverlap,
         std::to_string(again) + (again == 1 ? " byte" : " bytes") + " from " + Hex4H(first) + (again == 1 ? " was" : " were") +
             " written before; a loader keeps what comes last in the file",
         fields_.OpcodeFld);
  }
}

}  // namespace orvane
