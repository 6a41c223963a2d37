// An open document: its text, its version, where each line starts, and the
// conversions between the protocol's positions (line, UTF-16 code unit) and
// byte offsets. Positions beyond a line's end or the document's end are taken
// as that end, as the protocol asks.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::lsp {

struct Position {
  int64_t line = 0;
  int64_t character = 0;  // UTF-16 code units
  bool operator==(const Position&) const = default;
};

// Byte column of the UTF-16 offset `units` in `line`, clamped to its end. A
// position inside a character (within a surrogate pair) counts as its start.
// A byte that is not valid UTF-8 counts as one unit.
size_t ByteColumn(std::string_view line, int64_t units);
// UTF-16 offset of the byte column `column` in `line` (clamped).
int64_t Utf16Column(std::string_view line, size_t column);

class Document {
 public:
  Document() : Document({}, 0, {}) {}
  Document(std::string uri, int64_t version, std::string text);

  const std::string& Uri() const { return uri_; }
  int64_t Version() const { return version_; }
  void SetVersion(int64_t v) { version_ = v; }
  const std::string& Text() const { return text_; }

  // Lines as the protocol counts them: ended by LF, CR LF or a lone CR, and
  // one line more after the last line end.
  int64_t LineCount() const { return static_cast<int64_t>(starts_.size()); }
  // Line `n` without its end (empty beyond the last line).
  std::string_view Line(int64_t n) const;
  size_t LineStart(int64_t n) const;

  // Byte offset of a position, clamped to the document.
  size_t Offset(const Position& p) const;
  Position PositionAt(size_t offset) const;
  // The position of byte column `column` on line `line`.
  Position At(int64_t line, size_t column) const { return {line, Utf16Column(Line(line), column)}; }

  // Replaces the text between two positions (whole text when `whole`).
  void Replace(const Position& from, const Position& to, std::string_view text);
  void ReplaceAll(std::string text);

 private:
  void IndexFrom(int64_t line);

  std::string uri_;
  int64_t version_;
  std::string text_;
  std::vector<size_t> starts_;  // byte offset where each line starts
};

}  // namespace orvane::lsp
