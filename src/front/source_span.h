// Where a piece of a statement stands in the source.
#pragma once
#include <cstdint>

namespace orvane {

// A stretch of one source line: its line (from 1), its first column (from 1,
// counted in bytes of the line as read) and its length in bytes. Column 0
// stands for the statement as a whole. A file joins these once sources can
// include others; today every span is in the one source of its run.
struct SourceSpan {
  int64_t line = 0;
  int column = 0;
  int length = 0;
  friend bool operator==(const SourceSpan&, const SourceSpan&) = default;
};

}  // namespace orvane
