#include "app/terminal.h"

#include <algorithm>

namespace orvane {

void Terminal::LineFeed() {
  if (row_ + 1 < kRows) {
    ++row_;
    return;
  }
  rows_.erase(rows_.begin());
  rows_.emplace_back(kColumns, ' ');
}

int Terminal::Write(std::string_view bytes) {
  int bells = 0;
  for (char c : bytes) {
    switch (c) {
      case '\r':
        column_ = 0;
        break;
      case '\n':
        LineFeed();
        break;
      case '\b':
        if (column_ > 0) --column_;
        break;
      case '\a':
        ++bells;
        break;
      case '\t':
        column_ = std::min(kColumns - 1, (column_ / 8 + 1) * 8);
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) break;
        if (column_ == kColumns) {
          column_ = 0;
          LineFeed();
        }
        rows_[static_cast<size_t>(row_)][static_cast<size_t>(column_++)] = c;
    }
  }
  return bells;
}

std::string Terminal::Text() const {
  std::vector<std::string> lines;
  for (const std::string& r : rows_) lines.push_back(r.substr(0, r.find_last_not_of(' ') + 1));
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
  return text;
}

}  // namespace orvane
