// The listing: a header line with the source path, then one entry per pass-2
// line, for the listing file and, in a narrower layout, for the listing box.
// Up to four object bytes fit on the first line (short layout); more go on
// continuation lines (long layout). Every line ends with CR LF.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "front/statement.h"
#include "output/sink.h"

namespace orvane {

struct ListingInput {
  int32_t pc;
  std::string_view objCode;
  const StatementFields* fields;
  std::string_view errText;
};

// Appends the entry in the file's layout or in the box's.
void AppendFileEntry(const ListingInput& in, std::string& out);
void AppendBoxEntry(const ListingInput& in, std::string& out);

// The listing file, gathered and handed to the file in large pieces.
class ListingWriter {
 public:
  ListingWriter(OutputSink& file, std::string_view sourcePath);
  void Entry(const ListingInput& in);
  void Finish();

 private:
  OutputSink& file_;
  std::string pending_;
};

}  // namespace orvane
