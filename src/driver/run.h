// The two-pass run, the one entry to the core for every program: pass 1 sizes
// every statement and defines the labels, pass 2 encodes again with every
// label known and hands each statement to the outputs the request names and
// to the observer.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "driver/file_ops.h"
#include "encoder/result.h"
#include "front/cross_reference.h"
#include "front/diagnostics.h"
#include "front/symbols.h"
#include "output/formats.h"

namespace orvane {

class Assembler;

// Which warnings a run reports. Errors are always reported.
struct WarningSettings {
  std::set<std::string, std::less<>> disabled;  // by name
  bool none = false;                            // -w: no warning at all
  bool Reported(std::string_view name) const { return !none && disabled.count(name) == 0; }
};

struct RunRequest {
  // The source: a path, read from the disk; or, when `text` is set, that text
  // in memory, with `path` the name the listing and the messages give it.
  std::string path;
  std::optional<std::string> text;
  // The outputs; an empty path writes none. A run without outputs writes
  // nothing at all.
  std::string listing, object, crossReference, symbols;
  std::string timing;  // each line's T-states
  const ObjectFormat* format = &kIntelHexFormat;
  bool listingBox = false;  // the observer gets the listing box's text
  // Record every symbol use with its span, in each Statement's uses and for
  // the observer's cross-reference (always done when a cross-reference file is
  // asked for); a run without it records none, at no cost.
  bool recordUses = false;
  WarningSettings warnings;
};

// What a run tells its caller while it goes on. Every method has a default
// that ignores it.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The outputs were checked and the run starts reading the source.
  virtual void Started() {}
  // Text to append to the listing box (only with RunRequest::listingBox).
  virtual void ListingBox(std::string_view /*text*/) {}
  // A pass-2 statement, with its problems (warnings the request does not
  // report left out of the counts, not out of the statement).
  virtual void StatementDone(const Statement& /*s*/) {}
  // Each reported problem of a pass-2 statement, in order. `boxLine` is the
  // listing-box line its entry starts at (from 0), or -1 without the box.
  virtual void Reported(const Problem& /*p*/, const Statement& /*s*/, int64_t /*boxLine*/) {}
  // At the end of pass 2: the symbols and, when uses were recorded, the
  // cross-reference.
  virtual void Symbols(const SymbolTable& /*symbols*/, const CrossReference& /*xref*/) {}
  // Asked after every pass-2 statement: true stops the run; nothing is then
  // written.
  virtual bool StopRequested() { return false; }
  // Something done to the disk beside an output that its user should hear
  // of (an earlier run's leftover temporary removed), as a sentence.
  virtual void FileNote(std::string_view /*text*/) {}
  // At the end of a completed run: the assembler, with its symbol table as
  // pass 1 left it, for an observer that assembles single lines again
  // later (Assembler::Restep). Left alone, it goes with the run.
  virtual void Finished(std::unique_ptr<Assembler>& /*assembler*/) {}
};

struct RunResult {
  bool completed = false;          // false when the observer stopped the run
  int64_t lines = 0;               // source lines per pass
  int64_t statementsWithErrors = 0;
  int64_t messages = 0;            // errors
  int64_t warnings = 0;            // warnings reported
  uint64_t objectBytes = 0;        // object bytes sent to the object file
  // Where the object bytes load: the lowest and the highest address as the
  // location counter ran (past FFFFH when it wrapped), or -1 when no byte was
  // written. For an image loaded from its origin, the image's range.
  int64_t lowAddress = -1, highAddress = -1;
  std::string listingPath, objectPath;
};

// "25 bytes at 0100H-0118H", "1 byte at 0100H", "4 bytes at FFFEH-0001H
// (wrapping past FFFFH)" or "no bytes".
std::string BytesWritten(const RunResult& run);
// "1 error", "3 errors": a count and its noun, plural where it belongs.
std::string Counted(int64_t n, std::string_view noun);

// Runs one assembly. Throws FileError when the source cannot be read or an
// output cannot be written; every output then stays as it was before the run.
RunResult Run(const RunRequest& request, FileSystem& files, RunObserver& observer);

}  // namespace orvane
