// One listing entry per pass-2 line, for the listing file and, in a narrower
// layout, for the listing box. Up to four object bytes fit on the first line
// (short layout); more go on continuation lines (long layout).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "front/statement.h"

namespace orvane {

struct ListingInput {
  int32_t pc;
  std::string_view objCode;
  const StatementFields* fields;
  std::string_view errText;
};

// Appends the entry, CR LF line ends included.
void AppendFileEntry(const ListingInput& in, std::string& out);
void AppendBoxEntry(const ListingInput& in, std::string& out);

}  // namespace orvane
