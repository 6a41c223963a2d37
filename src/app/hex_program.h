// What an assembly as Intel HEX gives the programs that run it on a board:
// each statement by the address its bytes go to (ORG's addresses, not a
// CP/M image's), with its line and text, and the start address END gives.
// The board's messages name source lines with it, and a profile or coverage
// of the run is per line with it.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "encoder/result.h"
#include "profile/writers.h"
#include "runner/machine.h"

namespace orvane {

class HexProgram {
 public:
  struct Line {
    int line = 0;
    std::string text;  // without its comment and the blanks around it
    std::array<uint8_t, 3> code{};  // its first bytes
    size_t size = 0;                // how many of them there are
    bool instruction = false, conditional = false;
  };

  // Called with every pass-2 statement, in order; the first statement whose
  // bytes start at an address keeps it.
  void Add(const Statement& s);
  // Where the program starts: END's address, else the reset address 0000H.
  uint16_t start() const { return start_ < 0 ? 0 : static_cast<uint16_t>(start_); }
  const std::map<uint16_t, Line>& lines() const { return *lines_; }

  // Looks addresses up as FILE:LINE: TEXT; the lookup keeps what it needs
  // alive.
  runner::SourceLookup Lookup(std::string file) const;
  // The program for a profile and coverage: source, lines, labels (from
  // symbols), instructions and routines (the start, CALL and RST targets).
  profile::ProgramInfo Info(const std::string& source, const std::vector<AssembledProgram::Symbol>& symbols) const;

 private:
  std::shared_ptr<std::map<uint16_t, Line>> lines_ = std::make_shared<std::map<uint16_t, Line>>();
  int32_t start_ = -1;
};

}  // namespace orvane
