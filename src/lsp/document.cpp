#include "lsp/document.h"

#include <algorithm>

namespace orvane::lsp {

namespace {

// Length in bytes of the UTF-8 sequence at `i` and the UTF-16 units it
// stands for; an invalid or cut sequence is one byte, one unit.
struct Char {
  size_t bytes;
  int units;
};
Char CharAt(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return {1, 1};
  for (size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return {1, 1};
  }
  return {n, n == 4 ? 2 : 1};
}

}  // namespace

size_t ByteColumn(std::string_view line, int64_t units) {
  size_t i = 0;
  int64_t u = 0;
  while (i < line.size()) {
    const Char c = CharAt(line, i);
    if (u + c.units > units) break;
    u += c.units;
    i += c.bytes;
  }
  return i;
}

int64_t Utf16Column(std::string_view line, size_t column) {
  column = std::min(column, line.size());
  size_t i = 0;
  int64_t u = 0;
  while (i < column) {
    const Char c = CharAt(line, i);
    u += c.units;
    i += c.bytes;
  }
  return u;
}

Document::Document(std::string uri, int64_t version, std::string text)
    : uri_(std::move(uri)), version_(version), text_(std::move(text)) {
  IndexFrom(0);
}

void Document::IndexFrom(int64_t line) {
  starts_.resize(static_cast<size_t>(line) + 1);
  if (line == 0) starts_[0] = 0;
  const size_t n = text_.size();
  const char* t = text_.data();
  for (size_t i = starts_.back(); i < n; ++i) {
    if (t[i] == '\n') {
      starts_.push_back(i + 1);
    } else if (t[i] == '\r') {
      if (i + 1 < n && t[i + 1] == '\n') ++i;
      starts_.push_back(i + 1);
    }
  }
}

size_t Document::LineStart(int64_t n) const {
  if (n < 0) return 0;
  if (n >= LineCount()) return text_.size();
  return starts_[static_cast<size_t>(n)];
}

std::string_view Document::Line(int64_t n) const {
  if (n < 0 || n >= LineCount()) return {};
  const size_t b = starts_[static_cast<size_t>(n)];
  size_t e = n + 1 < LineCount() ? starts_[static_cast<size_t>(n) + 1] : text_.size();
  if (e > b && text_[e - 1] == '\n') --e;
  if (e > b && text_[e - 1] == '\r') --e;
  return std::string_view(text_).substr(b, e - b);
}

size_t Document::Offset(const Position& p) const {
  if (p.line < 0) return 0;
  if (p.line >= LineCount()) return text_.size();
  const std::string_view line = Line(p.line);
  return LineStart(p.line) + ByteColumn(line, std::max<int64_t>(p.character, 0));
}

Position Document::PositionAt(size_t offset) const {
  offset = std::min(offset, text_.size());
  const auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const int64_t line = static_cast<int64_t>(it - starts_.begin()) - 1;
  return At(line, offset - starts_[static_cast<size_t>(line)]);
}

void Document::Replace(const Position& from, const Position& to, std::string_view text) {
  size_t b = Offset(from), e = Offset(to);
  if (e < b) std::swap(b, e);
  // Typing within a line (no line end taken away or put in, and no CR left
  // just before an LF): the later lines only move.
  const auto noEnds = [](std::string_view s) { return s.find_first_of("\r\n") == std::string_view::npos; };
  if (noEnds(text) && noEnds(std::string_view(text_).substr(b, e - b)) &&
      !(text.empty() && b > 0 && text_[b - 1] == '\r' && e < text_.size() && text_[e] == '\n')) {
    text_.replace(b, e - b, text);
    const auto later = std::upper_bound(starts_.begin(), starts_.end(), b);
    const size_t removed = e - b, added = text.size();
    for (auto it = later; it != starts_.end(); ++it) *it = *it - removed + added;
    return;
  }
  text_.replace(b, e - b, text);
  // Lines before the edit keep their starts; a CR just before it may now
  // pair with an LF, so indexing starts one line earlier.
  const auto it = std::upper_bound(starts_.begin(), starts_.end(), b);
  int64_t line = static_cast<int64_t>(it - starts_.begin()) - 1;
  IndexFrom(std::max<int64_t>(line - 1, 0));
}

void Document::ReplaceAll(std::string text) {
  text_ = std::move(text);
  IndexFrom(0);
}

}  // namespace orvane::lsp
