// What a statement reports, and where every message text is defined.
//
// Errors are the statement messages of the listing: exact texts, run together
// in ErrText in the order they were reported. Warnings are separate: each has
// a name, the column it points at and a text of its own, and they never reach
// ErrText, the listing file or the listing box.
#pragma once
#include <string>
#include <string_view>
#include <vector>

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

enum class Severity { kError, kWarning };

// A warning: its name (as -W takes it), the 1-based column of the source line
// it points at (0: the whole line) and its text.
struct Warning {
  std::string_view name;
  int column = 0;
  std::string text;
};

// The messages of the current statement.
class Diagnostics {
 public:
  std::string ErrText;                     // every error, run together
  std::vector<std::string_view> Messages;  // the same errors one by one
  std::vector<Warning> Warnings;

  void Error(std::string_view errstr) {
    ErrText.append(errstr);
    Messages.push_back(errstr);
  }
  void Warn(Warning w) { Warnings.push_back(std::move(w)); }
  void Clear() {
    ErrText.clear();
    Messages.clear();
    Warnings.clear();
  }
};

// Where operand evaluation reports to. The assembler implements it: it
// decides whether the current pass reports at all, and it is the one place
// that sees every symbol a statement looks up.
class Reporter {
 public:
  virtual void Error(std::string_view errstr) = 0;
  // A symbol's value was asked for; `slot` is 0 when it is not defined.
  virtual void Referenced(std::string_view name, int slot) = 0;

 protected:
  ~Reporter() = default;
};

}  // namespace orvane
