// Habits from other Z80 assemblers, recognised where they make a statement
// fail or go wrong without a word, so that the message can say what this
// dialect writes instead. Every function here only reads its arguments: it
// matches the exact text of one operand or field (a name that merely looks
// like a habit, such as a symbol X0FF, matches nothing) and returns a note or
// a warning for it, or nothing.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "front/statement.h"
#include "front/symbols.h"

namespace orvane {

// What a note may look at besides the text it is about.
struct HabitContext {
  std::string_view line;     // the prepared (upper-case) line; texts are views into it
  std::string_view source;   // the line as read, as long as `line`
  const StatementFields* fields = nullptr;
  const SymbolTable* symbols = nullptr;  // pass 2: every label is known
  bool (*isKeyword)(std::string_view) = nullptr;  // a mnemonic or directive of this dialect
  int32_t pc = 0;
  bool loadsFromOrigin = false;
  // The line of an earlier error a value rests on: that of a symbol (by its
  // slot), or of PC (slot 0), or 0 when it rests on none. Null: none does.
  std::function<int64_t(int slot)> restsOnError;  // the object file holds the bytes one after another, without gaps
};

// The note for the error `errstr` (one of the msg:: texts) about `at`, a view
// into context.line (an operand, or the mnemonic for "Undefined Opcode"), or
// empty when no habit matches.
std::string HabitNote(std::string_view errstr, std::string_view at, const HabitContext& context);

// A note about a line that starts with a UTF-8 byte-order mark, or empty.
std::string ByteOrderMarkNote(std::string_view line);

// A warning about a statement that assembles, but not what was meant.
struct HabitWarning {
  std::string_view name;  // one of warn::
  std::string text;
};

// DS or DB (`mnemonic`) with the quoted text `written` (as the user typed
// it, quotes included) that has lower-case letters, which the statement
// emits in upper case like the rest of the line.
std::optional<HabitWarning> TextCaseWarning(std::string_view mnemonic, std::string_view written);

// DB or DEFB (`mnemonic`) with a quoted operand `operand` (a view into
// `line`): a text of several characters, of which DB emits the first, or a
// quoted ',' or ';' that the splitter cut off, leaving a quote that emits a
// blank.
std::optional<HabitWarning> DbQuoteWarning(std::string_view mnemonic, std::string_view operand,
                                           std::string_view line);

// An index displacement written after "+" (or "-") that the processor reads
// with the other sign: (IX+200) reaches IX-56. `value` is what the text after
// the sign evaluated to, `minus` whether the sign was "-".
std::optional<HabitWarning> DisplacementWarning(std::string_view operand, bool minus, int32_t value);

}  // namespace orvane
