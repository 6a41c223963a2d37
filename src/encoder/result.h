// What the assembler makes of one statement, for every consumer: the run,
// the listing and object writers, and the programs built on the run.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "front/diagnostics.h"
#include "front/source_span.h"
#include "front/statement.h"

namespace orvane {

// A symbol a statement asks for: the name as written, its slot (0 when it is
// not defined) and where the name stands.
struct SymbolUse {
  std::string_view name;
  int slot;
  SourceSpan span;
};

// What the listing's object column shows for a statement.
enum class Shows : uint8_t {
  kBytes,  // the object bytes (also what an error left of them)
  kValue,  // EQU and =: the value
  kEnd,    // END: as the object format shows it
};

// What one statement came to. Views into the assembler, valid until its next
// Step.
struct Statement {
  int64_t line = 0;
  // Where it stands, or for ORG the new origin.
  int32_t address = 0;
  // Object bytes: at most four for an instruction, any number for DS; after
  // an error, what the statement had built so far.
  std::span<const uint8_t> bytes;
  // The bytes it occupies, which PC moves on by; not always bytes.size().
  int32_t byteCount = 0;
  // The bytes go to the object file (EQU, =, ORG and END send none).
  bool toObject = false;
  Shows shows = Shows::kBytes;
  int32_t value = 0;  // Shows::kValue
  // END, whether it has an operand, and the start address it gives.
  bool isEnd = false;
  bool endHasOperand = false;
  int32_t startAddress = 0;
  std::string_view source;  // the line as read
  // The line upper-cased, as long as the source; the fields are views into it.
  std::string_view prepared;
  const StatementFields* fields = nullptr;
  std::span<const Problem> problems;  // errors, warnings and notes, in order
  bool hasErrors = false;
  // The symbol the line's label defines (empty when none) and where it stands.
  std::string_view label;
  SourceSpan labelSpan;
  // The symbols its operands ask for (when the run records uses).
  std::span<const SymbolUse> uses;

  // Where a field (a view into `prepared`) stands in the line.
  SourceSpan SpanOf(std::string_view field) const {
    if (field.empty() || field.data() < prepared.data() || field.data() >= prepared.data() + prepared.size()) {
      return {line, 0, 0};
    }
    return {line, static_cast<int>(field.data() - prepared.data()) + 1, static_cast<int>(field.size())};
  }
};

}  // namespace orvane
