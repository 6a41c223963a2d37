// What a statement reports, and where every message text is defined.
//
// Errors are the statement messages of the listing: exact texts, run together
// on the entry's error line in the order they were reported. Warnings are separate: each has
// a name, the column it points at and a text of its own, and they never reach
// the error line, the listing file or the listing box.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "front/source_span.h"

namespace orvane {

namespace msg {
// The statement messages, spelled as the listing shows them.
inline constexpr std::string_view kUndefinedSymbol = "Undefined Symbol Referenced";
inline constexpr std::string_view kBadQuotes = "Bad opening and closing quotes";
inline constexpr std::string_view kBadSource = "Bad Source Operand";
inline constexpr std::string_view kBadSourceSp = "Bad source Operand";
inline constexpr std::string_view kBadDestination = "Bad Destination Operand";
inline constexpr std::string_view kBadOperand = "Bad Operand";
inline constexpr std::string_view kExtraOperand = "Extra Operand";
inline constexpr std::string_view kInvalidConditional = "Invalid Conditional";
inline constexpr std::string_view kBadConditional = "Bad Conditional";
inline constexpr std::string_view kBadConditionalJp = "Bad COnditional";
inline constexpr std::string_view kBadMode = "Bad Mode Selection";
inline constexpr std::string_view kBadRegister = "Bad Register";
inline constexpr std::string_view kBadBitNumber = "Bad Bit Number";
inline constexpr std::string_view kUndefinedOpcode = "Undefined Opcode";
// Beyond those: faults the statement would otherwise hide.
inline constexpr std::string_view kInvalidNumber = "Invalid Number";
inline constexpr std::string_view kRelativeRange = "Relative Jump Out Of Range";
inline constexpr std::string_view kSymbolTableFull = "Symbol Table Full";
inline constexpr std::string_view kDuplicateLabel = "Duplicate Label";
inline constexpr std::string_view kIllegalForwardRef = "Illegal Forward Reference";
}  // namespace msg

// A note stands alone: it says something about a line that is neither an
// error nor a warning, and counts as neither.
enum class Severity { kError, kWarning, kNote };

// The warnings, by the name -W and -Wno- take. None of them changes what is
// assembled, and none reaches the listing.
namespace warn {
inline constexpr std::string_view kExtraOperand = "extra-operand";
inline constexpr std::string_view kTruncation = "truncation";
inline constexpr std::string_view kLabelSemicolon = "label-semicolon";
inline constexpr std::string_view kCpmOrgGap = "cpm-org-gap";
inline constexpr std::string_view kHexOverlap = "hex-overlap";
inline constexpr std::string_view kAfterEnd = "after-end";
inline constexpr std::string_view kAddressWrap = "address-wrap";
inline constexpr std::string_view kDbText = "db-text";
inline constexpr std::string_view kDbSeparator = "db-separator";
inline constexpr std::string_view kDisplacementSign = "displacement-sign";
inline constexpr std::string_view kTextCase = "text-case";
inline constexpr std::string_view kAll[] = {kExtraOperand, kTruncation,  kLabelSemicolon,   kCpmOrgGap,
                                            kHexOverlap,   kAfterEnd,    kAddressWrap,      kDbText,
                                            kDbSeparator,  kDisplacementSign, kTextCase};
}  // namespace warn

// One message of a statement: an error (its text one of msg::, no name) or a
// warning (its name one of warn::), where in the source it points, and a
// note that says what the text alone would not. The one type every consumer
// of messages gets: the listing's error line, the command line, the window.
struct Problem {
  Severity severity = Severity::kError;
  std::string_view name;
  std::string text;
  std::string note;
  SourceSpan span;
  bool IsError() const { return severity == Severity::kError; }
};

// The messages of the current statement, in the order they were reported.
class Diagnostics {
 public:
  std::vector<Problem> problems;
  bool hasErrors = false;

  // `errstr` is one of the msg:: texts.
  void Error(std::string_view errstr, SourceSpan span, std::string note) {
    problems.push_back({Severity::kError, {}, std::string(errstr), std::move(note), span});
    hasErrors = true;
  }
  void Warn(std::string_view name, std::string text, SourceSpan span) {
    problems.push_back({Severity::kWarning, name, std::move(text), {}, span});
  }
  void Note(std::string text, SourceSpan span) { problems.push_back({Severity::kNote, {}, std::move(text), {}, span}); }
  void Clear() {
    problems.clear();
    hasErrors = false;
  }
};

// Where operand evaluation reports to. The assembler implements it: it
// decides whether the current pass reports at all, and it is the one place
// that sees every symbol a statement looks up. `at` is the operand text a
// message is about, a view into the statement's line.
class Reporter {
 public:
  virtual void Error(std::string_view errstr, std::string_view at, std::string note) = 0;
  virtual void Warn(std::string_view name, std::string text, std::string_view at) = 0;
  // A symbol's value was asked for; `slot` is 0 when it is not defined.
  virtual void Referenced(std::string_view name, int slot) = 0;

 protected:
  ~Reporter() = default;
};

}  // namespace orvane
