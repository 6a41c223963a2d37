// The listing: a header line with the source path, then one entry per pass-2
// line, for the listing file and, in a narrower layout, for the listing box.
// Up to four object bytes fit on the first line (short layout); more go on
// continuation lines (long layout). Every line ends with CR LF.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "encoder/result.h"
#include "output/formats.h"
#include "output/sink.h"

namespace orvane {

// The listing file's extension, dot included.
inline constexpr std::string_view kListingExtension = ".LST";

// The object column's text: the bytes in hex, two digits a byte; the value
// of EQU and = as "= 1234"; END as the object format shows it.
void AppendObjectText(const Statement& s, const ObjectFormat& format, std::string& out);

// Makes a statement's entry, in the file's layout or in the box's.
class EntryMaker {
 public:
  explicit EntryMaker(const ObjectFormat& format) : format_(format) {}
  void AppendFileEntry(const Statement& s, std::string& out);
  void AppendBoxEntry(const Statement& s, std::string& out);

 private:
  void Prepare(const Statement& s);
  const ObjectFormat& format_;
  std::string object_, errors_;  // the entry's object column and error line
};

// The listing file, gathered and handed to the file in large pieces.
class ListingWriter {
 public:
  ListingWriter(OutputSink& file, std::string_view sourcePath, const ObjectFormat& format);
  void Entry(const Statement& s);
  void Finish();

 private:
  // The usual entry (up to four bytes, no error line, a short comment) laid
  // straight into the pending text; false leaves it to EntryMaker.
  bool PutShortEntry(const Statement& s);
  void Append(std::string_view text);
  void Flush();

  OutputSink& file_;
  EntryMaker entries_;
  std::string scratch_;
  // Listing text not yet handed to the file: kChunk bytes and room for one
  // short entry beyond.
  std::unique_ptr<char[]> pending_;
  size_t used_ = 0;
};

}  // namespace orvane
