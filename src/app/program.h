// What an assembly gives the CP/M runner: the image and, for each address
// where a statement's bytes start, that statement's line (see ProgramMap).
#pragma once
#include "debug/program_map.h"

namespace orvane {

using AssembledProgram = debug::ProgramMap;

}  // namespace orvane
