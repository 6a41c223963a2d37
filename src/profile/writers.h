// A run's counts written for the tools people read them with: callgrind's
// format (kcachegrind, callgrind_annotate) and lcov's tracefile (genhtml,
// lcov --summary, lcov -a to merge runs).
#pragma once
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "profile/recorder.h"

namespace orvane::profile {

// What is known of the program that ran.
struct ProgramInfo {
  std::string command;  // the program as it was run
  // The source file; empty when only the image is known, and the profile
  // is by address.
  std::string source;
  // The source line of the statement that starts at an address (0: none).
  std::function<int(uint16_t)> line;
  // The label at an address ("" when none).
  std::function<std::string(uint16_t)> name;
  // Every instruction of the program, for coverage: where it starts, its
  // line, and whether it is a conditional jump, call or return.
  struct Instruction {
    uint16_t address = 0;
    int line = 0;
    bool conditional = false;
  };
  std::vector<Instruction> instructions;
  // The routines the program has (its entry, every CALL and RST target),
  // listed in the coverage even when never called.
  std::vector<uint16_t> routines;
  // Sets line and name to look addresses up in these tables.
  void LookUpIn(std::map<uint16_t, int> lines, std::map<uint16_t, std::string> names);
};

// A routine's name: its label, else its address as "0108H".
std::string RoutineName(const ProgramInfo& program, uint16_t address);

// Callgrind's format: positions "instr line", events Instructions and
// Tstates, one fn= per routine with what it ran itself, and calls= with the
// inclusive cost of each call site. The recorder must be finished.
void WriteCallgrind(const Recorder& r, const ProgramInfo& program, std::ostream& out);

// lcov's tracefile: DA per instruction line, FN/FNDA per routine, BRDA for
// each conditional instruction's two ways. Needs a source.
void WriteLcov(const Recorder& r, const ProgramInfo& program, std::ostream& out);

// The profile and the coverage files a run asked for (an empty path: not
// asked for): opened before the run, so that a path that cannot be written
// fails before it, and written when it has ended.
class RunFiles {
 public:
  // False with error "cannot write PATH: why".
  bool Open(const std::string& profile, const std::string& coverage, std::string& error);
  // Writes each file asked for; returns the paths that could not be written.
  std::vector<std::string> Write(const Recorder& r, const ProgramInfo& program);

 private:
  std::string profilePath_, coveragePath_;
  std::ofstream profile_, coverage_;
};

}  // namespace orvane::profile
