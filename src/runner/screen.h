// A terminal screen that bytes are written to as the chosen terminal takes
// them: 24 rows of 80 cells, each a character and whether it is shown in
// reverse video, and the cursor.
//
// Every terminal: CR goes to the first column, LF to the next row (scrolling
// at the bottom), BS one column back, TAB to the next multiple of eight; BEL
// is counted for the caller to ring; a byte written in the last column waits
// there and wraps to the next row when the next one comes. Other control
// bytes are dropped.
//
//   ansi   ESC [ row ; column H (and f), ESC [ n A B C D, ESC [ n J and K
//          (0 to the end, 1 from the start, 2 all), ESC [ n L, M and P
//          (insert and delete lines, delete characters), ESC [ 7 m and
//          ESC [ 27 m / 0 m (reverse video), ESC 7 and ESC 8 (save and
//          restore the cursor), ESC D and ESC M (index, reverse index);
//          other sequences are read and dropped.
//   vt52, adm3a  the sequences runner/terminal.h lists, with the same effect
//          as their ANSI translation.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "runner/terminal.h"

namespace orvane::runner {

class Screen {
 public:
  static constexpr int kColumns = kScreenColumns, kRows = kScreenRows;

  explicit Screen(TerminalType type = TerminalType::kAnsi);
  // Another terminal from the next byte on; the screen stays as it is.
  void SetType(TerminalType type);
  TerminalType Type() const { return type_; }
  // Returns how many bells the bytes held.
  int Write(std::string_view bytes);
  const std::vector<std::string>& Rows() const { return rows_; }
  bool Reverse(int row, int column) const {
    return reverse_[static_cast<size_t>(row)][static_cast<size_t>(column)] != 0;
  }
  int Row() const { return row_; }
  int Column() const { return column_; }  // kColumns while a wrap is waiting
  // The rows without trailing blanks, joined by LF, without empty rows at the end.
  std::string Text() const;

 private:
  void Byte(unsigned char c);
  bool Control(unsigned char c);  // the terminal's control bytes; false for a byte to show
  void Escape(unsigned char c);
  void Csi(unsigned char final);
  void Print(unsigned char c);
  void LineFeed();
  void ReverseIndex();
  void MoveTo(int row, int column);
  void Blank(int row, int from, int to);  // columns [from, to)
  void EraseDisplay(int how);
  void EraseLine(int how);
  void InsertLines(int n);
  void DeleteLines(int n);
  void DeleteCharacters(int n);
  void ClearAll();
  void SaveCursor();
  void RestoreCursor();

  TerminalType type_;
  std::vector<std::string> rows_, reverse_;
  int row_ = 0, column_ = 0;
  bool attribute_ = false;  // reverse video for the next characters
  int savedRow_ = 0, savedColumn_ = 0;
  bool savedAttribute_ = false;
  int state_ = 0, bells_ = 0;
  std::string params_;  // of an ANSI control sequence
  unsigned char addressRow_ = 0;
};

}  // namespace orvane::runner
