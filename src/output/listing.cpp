#include "output/listing.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

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

// The widest first line's fixed part.
constexpr size_t kMaxFixed = kFileLayout.Width();
static_assert(kBoxLayout.Width() <= kMaxFixed);

// The two hex digits of every byte value, for the address and object columns.
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
  std::array<std::array<char, 2>, 256> t{};
  for (size_t v = 0; v < 256; ++v) t[v] = {kHexDigits[v >> 4], kHexDigits[v & 15]};
  return t;
}();

// Puts `text`, cut to `width` characters (16 at most), over the blanks at
// `to`. Every column is that narrow, so two copies of a fixed size that may
// overlap cover any length without a call, and read nothing beyond `text`.
void PutColumn(char* to, std::string_view text, size_t width) {
  const size_t n = std::min(text.size(), width);
  const char* from = text.data();
  if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n >= 2) {
    std::memcpy(to, from, 2);
    std::memcpy(to + n - 2, from + n - 2, 2);
  } else if (n == 1) {
    to[0] = from[0];
  }
}

// The first line, from the address to the comment and the line end: the fixed
// part is laid as blanks, then each field is put over its column. The operand
// column holds the operands joined by a comma in the short layout and the
// first operand only in the long layout.
void AppendFirstLine(const Statement& s, std::string_view objCode, const FirstLineLayout& layout, std::string& out) {
  const StatementFields& f = *s.fields;
  char fixed[kMaxFixed];
  std::memset(fixed, ' ', sizeof fixed);
  const uint32_t a = static_cast<uint32_t>(s.address);
  for (size_t i = 0; i < 4; ++i) fixed[i] = kHexDigits[(a >> (12 - 4 * i)) & 15];
  PutColumn(fixed + layout.object, objCode, kObjectColumn);
  PutColumn(fixed + layout.label, f.LabelFld, layout.labelWidth);
  PutColumn(fixed + layout.opcode, f.OpcodeFld, layout.opcodeWidth);
  char* const operand = fixed + layout.operand;
  PutColumn(operand, f.Operand1Fld, kOperandColumn);
  const size_t used = f.Operand1Fld.size();
  if (objCode.size() <= kObjectColumn && !f.Operand2Fld.empty() && used < kOperandColumn) {
    operand[used] = ',';
    PutColumn(operand + used + 1, f.Operand2Fld, kOperandColumn - used - 1);
  }
  out.append(fixed, layout.Width());
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
      for (const uint8_t b : s.bytes) {
        out.push_back(kHexDigits[b >> 4]);
        out.push_back(kHexDigits[b & 15]);
      }
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

// The longest comment a short entry lays itself, and so the room it needs.
constexpr size_t kShortComment = 200;
constexpr size_t kShortEntry = kFileLayout.Width() + kShortComment + 2;

ListingWriter::ListingWriter(OutputSink& file, std::string_view sourcePath, const ObjectFormat& format)
    : file_(file), entries_(format), pending_(std::make_unique_for_overwrite<char[]>(kChunk + kShortEntry)) {
  Append(sourcePath);
  Append("\r\n");
}

void ListingWriter::Flush() {
  file_.Write(std::string_view(pending_.get(), used_));
  used_ = 0;
}

void ListingWriter::Append(std::string_view text) {
  if (used_ + text.size() > kChunk + kShortEntry) {
    Flush();
    if (text.size() > kChunk) {
      file_.Write(text);
      return;
    }
  }
  if (!text.empty()) std::memcpy(pending_.get() + used_, text.data(), text.size());
  used_ += text.size();
}

// The same first line as AppendFirstLine in the file's layout, for an entry
// that has nothing else.
bool ListingWriter::PutShortEntry(const Statement& s) {
  const StatementFields& f = *s.fields;
  if (s.shows != Shows::kBytes || s.bytes.size() > 4 || s.hasErrors || f.CommentFld.size() > kShortComment) {
    return false;
  }
  char* const line = pending_.get() + used_;
  static constexpr char kBlanks[kMaxFixed + 1] = "                                                    ";
  static_assert(sizeof kBlanks == kMaxFixed + 1 && kBlanks[kMaxFixed - 1] == ' ');
  std::memcpy(line, kBlanks, kMaxFixed);
  const uint32_t a = static_cast<uint32_t>(s.address);
  std::memcpy(line, kHexPairs[(a >> 8) & 255].data(), 2);
  std::memcpy(line + 2, kHexPairs[a & 255].data(), 2);
  char* object = line + kFileLayout.object;
  for (const uint8_t b : s.bytes) {
    std::memcpy(object, kHexPairs[b].data(), 2);
    object += 2;
  }
  PutColumn(line + kFileLayout.label, f.LabelFld, kFileLayout.labelWidth);
  PutColumn(line + kFileLayout.opcode, f.OpcodeFld, kFileLayout.opcodeWidth);
  char* const operand = line + kFileLayout.operand;
  PutColumn(operand, f.Operand1Fld, kOperandColumn);
  const size_t used = f.Operand1Fld.size();
  if (!f.Operand2Fld.empty() && used < kOperandColumn) {
    operand[used] = ',';
    PutColumn(operand + used + 1, f.Operand2Fld, kOperandColumn - used - 1);
  }
  char* end = line + kFileLayout.Width();
  if (!f.CommentFld.empty()) {
    std::memcpy(end, f.CommentFld.data(), f.CommentFld.size());
    end += f.CommentFld.size();
  }
  end[0] = '\r';
  end[1] = '\n';
  used_ = static_cast<size_t>(end + 2 - pending_.get());
  return true;
}

void ListingWriter::Entry(const Statement& s) {
  if (!PutShortEntry(s)) {
    scratch_.clear();
    entries_.AppendFileEntry(s, scratch_);
    Append(scratch_);
  }
  if (used_ >= kChunk) Flush();
}

void ListingWriter::Finish() { Flush(); }

}  // namespace orvane
