// The two-pass run: pass 1 sizes every statement and defines the labels,
// pass 2 encodes again with every label known, sends the object bytes to the
// object file and writes the listing.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/file_ops.h"
#include "app/window_ops.h"
#include "encoder/assembler.h"

namespace orvane {

struct RunResult {
  bool completed = false;          // false when the window asked the run to stop
  int64_t lines = 0;               // source lines per pass
  int64_t statementsWithErrors = 0;
  int64_t messages = 0;            // errors
  int64_t warnings = 0;
  uint64_t objectBytes = 0;        // object bytes sent to the object file
  // The lowest and the highest address an object byte was written to, or -1
  // when none was.
  int64_t lowAddress = -1, highAddress = -1;
  std::string listingPath, objectPath;
};

// "25 bytes at 0100H-0118H", "1 byte at 0100H" or "no bytes".
std::string BytesWritten(const RunResult& run);
// "1 error", "3 errors": a count and its noun, plural where it belongs.
std::string Counted(int64_t n, std::string_view noun);

// Outputs beyond the listing and the object file; an empty path writes none.
struct ExtraOutputs {
  std::string crossReference;
  std::string symbols;
};

// Runs one assembly with the paths and options the window holds. Throws
// FileError when the source cannot be read or an output cannot be written;
// every output then stays as it was before the run.
RunResult AssembleFile(Assembler& as, WindowOps& window, FileSystem& files, const ExtraOutputs& extra = {});

}  // namespace orvane
