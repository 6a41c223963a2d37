// The console window's screen: 24 rows of 80 columns that bytes are written
// to as a terminal takes them. CR goes to the first column, LF to the next
// row (scrolling at the bottom), BS one column back, TAB to the next multiple
// of eight; a byte written in the last column wraps to the next row; BEL is
// counted for the caller to ring; other control bytes are dropped.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

class Terminal {
 public:
  static constexpr int kColumns = 80, kRows = 24;

  Terminal() : rows_(kRows, std::string(kColumns, ' ')) {}
  // Returns how many bells the bytes held.
  int Write(std::string_view bytes);
  const std::vector<std::string>& Rows() const { return rows_; }
  int Row() const { return row_; }
  int Column() const { return column_; }
  // The rows without trailing blanks, joined by LF, without empty rows at the end.
  std::string Text() const;

 private:
  void LineFeed();
  std::vector<std::string> rows_;
  int row_ = 0, column_ = 0;
};

}  // namespace orvane
