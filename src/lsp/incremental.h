// Keeping a document's assembly up to date line by line. A whole run leaves
// the assembler (its symbol table as pass 1 made it) and what each line took
// part in: how far it moved PC, which symbols it used, whether it is a
// directive, a relative jump or uses '$'. An edit of one line is then
// assembled again alone, and with it only the lines whose result can change:
// when the line's size changed, the lines after it up to the next ORG move,
// their labels with them, and the lines that use those labels, the relative
// jumps and '$' among the moved lines, and the lines with messages are
// assembled again at their new places. Where the effect of an edit reaches
// further than that (EQU, ORG or END, a label, END, addresses past FFFFH, a
// placement warning that moves, a value resting on an error), the edit is
// refused and the caller assembles the whole text again; either way the
// result is the one a whole run would give.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "lsp/assembled.h"
#include "lsp/document.h"

namespace orvane {
class Assembler;
struct ObjectFormat;
struct Statement;
}  // namespace orvane

namespace orvane::lsp {

class Incremental {
 public:
  Incremental();
  ~Incremental();
  Incremental(Incremental&&) noexcept;
  Incremental& operator=(Incremental&&) noexcept;

  // A whole run over `text`, as Assemble gives it, keeping what Edit needs.
  AssembledDocument Full(std::string_view text, const AssembleOptions& options);
  // Line `line` (from 0) of `d` was changed, every other line being as the
  // last run read it (the same number of lines). Brings `doc` up to date and
  // answers true; or answers false, and `doc` and this are then only fit to
  // be replaced by a whole run.
  bool Edit(const Document& d, int64_t line, AssembledDocument& doc);
  // Whether a whole run was made since the last refused edit.
  bool Ready() const { return assembler_ != nullptr; }
  void Drop();

  // What each line took part in, as a whole run sees it (for the tests).
  struct Line {
    int32_t advance = 0;       // how far PC moves on
    uint32_t objectBytes = 0;  // bytes to the object file, for the placement check
    uint8_t flags = 0;
  };
  enum : uint8_t {
    kEqu = 1,       // EQU or =: its label takes the operand's value
    kOrg = 2,       // ORG: PC from the operand
    kEnd = 8,       // END
    kRelative = 16, // JR or DJNZ: bytes rest on PC
    kDollar = 32,   // '$' in an operand
    kErrors = 64,   // an error
    kProblems = 128 // any message
  };
  static constexpr uint8_t kDirective = kEqu | kOrg | kEnd;

 private:
  class Observer;
  void Record(int64_t line, const Statement& s);
  // The placement check run over every line, as pass 2 runs it: the lines
  // it warns on, and its text.
  struct Placed {
    int64_t line;
    std::string_view name;  // one of the warnings' names, which live as long as the program
    std::string text;
    bool operator==(const Placed&) const = default;
  };
  std::vector<Placed> Placements(const AssembledDocument& doc) const;

  std::unique_ptr<Assembler> assembler_;
  const ObjectFormat* format_ = nullptr;
  AssembleOptions options_;
  std::vector<Line> lines_;
  std::vector<uint32_t> useStart_;  // per line, into useSlots_; one more at the end
  std::vector<int32_t> useSlots_;   // the slots of defined symbols each line uses, in order
  std::unordered_map<int64_t, std::pair<std::string, int>> labels_;  // line -> label field and its column
  std::vector<int> symbolOfSlot_;   // slot -> index into AssembledDocument::symbols, or -1
  std::vector<Placed> placements_;
  bool directiveErrors_ = false;    // an EQU, ORG or END with an error (PC or values may rest on it)
  int64_t firstEnd_ = 0;            // the first END's line (from 0), or the line count
};

}  // namespace orvane::lsp
