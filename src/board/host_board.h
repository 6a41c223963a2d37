// A board run on this process's console, as orvane-run --board and
// orvane-asm --run --hex do it.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "runner/host_run.h"

namespace orvane::board {

// The default board when none is named.
constexpr const char* kDefaultBoard = "sbc-acia";

struct BoardRun {
  std::string board;     // --board NAME|FILE ("" none given)
  bool hasLoad = false;  // --load ADDR
  uint16_t load = 0;
  bool fast = false;     // --fast
};

// Takes --board, --load or --fast at args[i] ("--board X" or "--board=X")
// into run, moving i past its value. False when args[i] is none of them;
// error is set when it is one but wrong.
bool TakeBoardOption(const std::vector<std::string>& args, size_t& i, BoardRun& run, std::string& error);

// One line per built-in board: "NAME: ROM 0000H-1FFFH, ..., 68B50 ACIA at 80H".
void ListBoards(std::ostream& out);

// Runs a program file's bytes (Intel HEX when hex, else a raw image at
// --load's address) on the board. Messages go to err after "NAME: ".
// Returns the exit status.
int RunBoardOnHost(const std::vector<uint8_t>& file, bool hex, const BoardRun& board, const runner::HostRun& run,
                   const std::string& name, std::ostream& err);

// orvane-run with --board, --load or --fast given: args[i] on are the image
// (or nothing after --board list). Returns the exit status.
int BoardMain(const std::vector<std::string>& args, size_t i, const BoardRun& board, const runner::HostRun& run,
              const std::string& name, std::ostream& out, std::ostream& err, std::string_view usage);

}  // namespace orvane::board
