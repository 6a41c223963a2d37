// What an assembly gives the programs that run it: the image (a CP/M image, or
// the bytes of each address for a board),
// for each address where a statement's bytes start that statement's line and
// text, and the symbols with their values. orvane-asm --run names statements
// in runtime messages with it; the debug session maps lines to addresses and
// back with it.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "encoder/result.h"
#include "front/symbols.h"
#include "runner/machine.h"

namespace orvane::debug {

class ProgramMap {
 public:
  struct Line {
    int line = 0;        // 1-based source line
    std::string text;    // the statement without its comment and the blanks around it
    uint16_t address = 0;
    uint16_t length = 0;  // the bytes it put into the image
    bool instruction = false;  // an instruction, not data (DB, DW, DS ...)
    bool conditional = false;  // a conditional jump, call or return
  };
  struct Symbol {
    std::string name;
    int32_t value = 0;
    int line = 0;  // where it is defined
  };

  // Statements land at their own addresses, each where the location counter
  // put it (an image for a board, loaded at its ORG), not one after another
  // from 0100H as in a CP/M image. Before the first Add.
  void PlaceAtAddresses() { atAddresses_ = true; }
  bool placedAtAddresses() const { return atAddresses_; }
  // Called with every pass-2 statement, in order.
  void Add(const Statement& s);
  // Called with the symbols at the end of pass 2 (each name once, its
  // earliest definition).
  void SetSymbols(const SymbolTable& table);

  const std::vector<uint8_t>& image() const { return image_; }
  // Placed at addresses: the bytes as runs of consecutive addresses, in the
  // order assembled, and the start END gave (0000H without one).
  const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& pieces() const { return pieces_; }
  uint16_t start() const { return start_; }
  const std::vector<Symbol>& symbols() const { return symbols_; }
  // The symbol named exactly so (upper case, as the assembler keeps it;
  // a lower-case name is looked up upper-cased); null when there is none.
  const Symbol* FindSymbol(std::string_view name) const;

  // The statement whose bytes start at address; null for any other address.
  const Line* At(uint16_t address) const;
  // The statement whose bytes hold address (start <= address < start + length).
  const Line* Containing(uint16_t address) const;
  // The source line of the statement holding address; 0 when none does.
  int LineOf(uint16_t address) const;
  // The first statement with code on line or after it: a line without code
  // (a comment, EQU, a blank line) moves to the next line with code. Null
  // when no line from there on has code.
  const Line* Resolve(int line) const;
  // Every statement with code, by address.
  const std::map<uint16_t, Line>& lines() const { return *lines_; }

  // Looks addresses up as FILE:LINE: TEXT for the runner's messages; the
  // lookup keeps what it needs alive, so it may outlive this object.
  runner::SourceLookup Lookup(std::string file) const;

 private:
  std::vector<uint8_t> image_;
  bool atAddresses_ = false;
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> pieces_;
  uint16_t start_ = 0;
  // By the address the bytes land at: 0100H plus where they are in the image.
  std::shared_ptr<std::map<uint16_t, Line>> lines_ = std::make_shared<std::map<uint16_t, Line>>();
  std::map<int, uint16_t> byLine_;  // line -> address of its statement
  std::vector<Symbol> symbols_;
};

}  // namespace orvane::debug
