#include "runner/screen.h"

#include <algorithm>

namespace orvane::runner {

namespace {

enum State { kText, kEscape, kIntermediate, kCsi, kRow, kColumn, kAttributeOn, kAttributeOff, kSkip };

constexpr unsigned char kEsc = 0x1B;

// The numbers of an ANSI control sequence's parameters; an empty one is 0.
std::vector<int> Numbers(const std::string& params) {
  std::vector<int> n(1, 0);
  for (char c : params) {
    if (c == ';')
      n.push_back(0);
    else if (c >= '0' && c <= '9')
      n.back() = std::min(n.back() * 10 + (c - '0'), 9999);
  }
  return n;
}

}  // namespace

Screen::Screen(TerminalType type)
    : type_(type), rows_(kRows, std::string(kColumns, ' ')), reverse_(kRows, std::string(kColumns, '\0')) {}

void Screen::SetType(TerminalType type) {
  type_ = type;
  state_ = kText;
  params_.clear();
}

int Screen::Write(std::string_view bytes) {
  bells_ = 0;
  for (char b : bytes) {
    auto c = static_cast<unsigned char>(b);
    if (type_ != TerminalType::kAnsi) c &= 0x7F;  // a terminal of seven bits
    Byte(c);
  }
  return bells_;
}

void Screen::Byte(unsigned char c) {
  switch (state_) {
    case kEscape:
      state_ = kText;
      return Escape(c);
    case kIntermediate:
      if (c >= 0x30 && c < 0x7F) state_ = kText;
      else if (c < 0x20 && c != kEsc) Control(c);
      else if (c == kEsc) state_ = kEscape;
      return;
    case kCsi:
      if (c >= 0x20 && c < 0x40) return void(params_ += static_cast<char>(c));
      if (c >= 0x40 && c < 0x7F) {
        state_ = kText;
        return Csi(c);
      }
      if (c == kEsc) return void(state_ = kEscape);
      if (c < 0x20) Control(c);
      else state_ = kText;
      return;
    case kRow:
      addressRow_ = c;
      state_ = kColumn;
      return;
    case kColumn:
      state_ = kText;
      return MoveTo(addressRow_ - 32, c - 32);
    case kAttributeOn:
    case kAttributeOff: {
      const bool on = state_ == kAttributeOn;
      state_ = kText;
      if (c == '0') attribute_ = on;
      if (c == '6') on ? SaveCursor() : RestoreCursor();
      return;
    }
    case kSkip:
      state_ = kText;
      return;
  }
  if (c == kEsc) return void(state_ = kEscape);
  if (!Control(c)) Print(c);
}

bool Screen::Control(unsigned char c) {
  switch (c) {
    case '\r':
      column_ = 0;
      return true;
    case '\n':
      LineFeed();
      return true;
    case '\b':
      if (column_ > 0) --column_;
      return true;
    case '\t':
      column_ = std::min(kColumns - 1, (column_ / 8 + 1) * 8);
      return true;
    case '\a':
      ++bells_;
      return true;
  }
  if (type_ == TerminalType::kAdm3a) {
    switch (c) {
      case 0x0B:
        MoveTo(row_ - 1, column_);
        return true;
      case 0x0C:
        MoveTo(row_, std::min(column_, kColumns - 1) + 1);
        return true;
      case 0x1A:
        attribute_ = false;
        ClearAll();
        MoveTo(0, 0);
        return true;
      case 0x1E:
        MoveTo(0, 0);
        return true;
      case 0x17:
        EraseDisplay(0);
        return true;
      case 0x18:
        EraseLine(0);
        return true;
    }
  }
  return c < 0x20 || c == 0x7F;
}

void Screen::Escape(unsigned char c) {
  const int column = std::min(column_, kColumns - 1);
  if (type_ == TerminalType::kAnsi) {
    switch (c) {
      case '[':
        params_.clear();
        state_ = kCsi;
        return;
      case '7':
        return SaveCursor();
      case '8':
        return RestoreCursor();
      case 'D':
        return LineFeed();
      case 'M':
        return ReverseIndex();
      case 'E':
        column_ = 0;
        return LineFeed();
      case 'c':
        attribute_ = false;
        ClearAll();
        return MoveTo(0, 0);
    }
    if (c >= 0x20 && c < 0x30) state_ = kIntermediate;
    return;
  }
  if (type_ == TerminalType::kAdm3a) {
    switch (c) {
      case '=':
        state_ = kRow;
        return;
      case 'T':
        return EraseLine(0);
      case 'Y':
        return EraseDisplay(0);
      case 'E':
        return InsertLines(1);
      case 'R':
        return DeleteLines(1);
      case 'B':
        state_ = kAttributeOn;
        return;
      case 'C':
        state_ = kAttributeOff;
        return;
    }
    return;
  }
  switch (c) {
    case 'A': return MoveTo(row_ - 1, column);
    case 'B': return MoveTo(row_ + 1, column);
    case 'C': return MoveTo(row_, column + 1);
    case 'D':
      column_ = std::max(0, column_ - 1);
      return;
    case 'H': return MoveTo(0, 0);
    case 'J': return EraseDisplay(0);
    case 'K': return EraseLine(0);
    case 'I': return ReverseIndex();
    case 'E':
      ClearAll();
      return MoveTo(0, 0);
    case 'b': return EraseDisplay(1);
    case 'l': return EraseLine(2);
    case 'o': return EraseLine(1);
    case 'L': return InsertLines(1);
    case 'M': return DeleteLines(1);
    case 'N': return DeleteCharacters(1);
    case 'j': return SaveCursor();
    case 'k': return RestoreCursor();
    case 'p':
      attribute_ = true;
      return;
    case 'q':
      attribute_ = false;
      return;
    case 'Y':
      state_ = kRow;
      return;
    case 'x':
    case 'y':
      state_ = kSkip;
      return;
  }
}

void Screen::Csi(unsigned char final) {
  if (!params_.empty() && params_[0] >= '<' && params_[0] <= '?') return;  // private: nothing shown here
  if (params_.find_first_of(" !\"#$%&'()*+,-./") != std::string::npos) return;
  const std::vector<int> n = Numbers(params_);
  const int count = std::max(1, n[0]), column = std::min(column_, kColumns - 1);
  switch (final) {
    case 'A': return MoveTo(row_ - count, column);
    case 'B': return MoveTo(row_ + count, column);
    case 'C': return MoveTo(row_, column + count);
    case 'D':
      column_ = std::max(0, column_ - count);
      return;
    case 'H':
    case 'f':
      return MoveTo(std::max(1, n[0]) - 1, std::max(1, n.size() > 1 ? n[1] : 0) - 1);
    case 'J': return EraseDisplay(n[0]);
    case 'K': return EraseLine(n[0]);
    case 'L': return InsertLines(count);
    case 'M': return DeleteLines(count);
    case 'P': return DeleteCharacters(count);
    case 'm':
      for (int p : n) {
        if (p == 0 || p == 27) attribute_ = false;
        if (p == 7) attribute_ = true;
      }
      return;
  }
}

void Screen::Print(unsigned char c) {
  if (column_ == kColumns) {
    column_ = 0;
    LineFeed();
  }
  const auto r = static_cast<size_t>(row_), k = static_cast<size_t>(column_++);
  rows_[r][k] = static_cast<char>(c);
  reverse_[r][k] = attribute_;
}

void Screen::LineFeed() {
  if (row_ + 1 < kRows) {
    ++row_;
    return;
  }
  rows_.erase(rows_.begin());
  reverse_.erase(reverse_.begin());
  rows_.emplace_back(kColumns, ' ');
  reverse_.emplace_back(kColumns, '\0');
}

void Screen::SaveCursor() {
  savedRow_ = row_, savedColumn_ = column_, savedAttribute_ = attribute_;
}

void Screen::RestoreCursor() {
  row_ = savedRow_, column_ = savedColumn_, attribute_ = savedAttribute_;
}

void Screen::ReverseIndex() {
  if (row_ > 0) return void(--row_);
  rows_.pop_back();
  reverse_.pop_back();
  rows_.insert(rows_.begin(), std::string(kColumns, ' '));
  reverse_.insert(reverse_.begin(), std::string(kColumns, '\0'));
}

void Screen::MoveTo(int row, int column) {
  row_ = std::clamp(row, 0, kRows - 1);
  column_ = std::clamp(column, 0, kColumns - 1);
}

void Screen::Blank(int row, int from, int to) {
  if (from >= to) return;
  const auto r = static_cast<size_t>(row), f = static_cast<size_t>(from), n = static_cast<size_t>(to - from);
  rows_[r].replace(f, n, n, ' ');
  reverse_[r].replace(f, n, n, '\0');
}

void Screen::EraseDisplay(int how) {
  if (how == 2) return ClearAll();
  if (how != 0 && how != 1) return;
  EraseLine(how);
  for (int r = 0; r < kRows; ++r)
    if (how == 0 ? r > row_ : r < row_) Blank(r, 0, kColumns);
}

void Screen::EraseLine(int how) {
  const int column = std::min(column_, kColumns - 1);
  if (how == 0) Blank(row_, column, kColumns);
  if (how == 1) Blank(row_, 0, column + 1);
  if (how == 2) Blank(row_, 0, kColumns);
}

void Screen::InsertLines(int n) {
  n = std::min(n, kRows - row_);
  for (int i = 0; i < n; ++i) {
    rows_.pop_back();
    reverse_.pop_back();
    rows_.insert(rows_.begin() + row_, std::string(kColumns, ' '));
    reverse_.insert(reverse_.begin() + row_, std::string(kColumns, '\0'));
  }
  column_ = 0;
}

void Screen::DeleteLines(int n) {
  n = std::min(n, kRows - row_);
  for (int i = 0; i < n; ++i) {
    rows_.erase(rows_.begin() + row_);
    reverse_.erase(reverse_.begin() + row_);
    rows_.emplace_back(kColumns, ' ');
    reverse_.emplace_back(kColumns, '\0');
  }
  column_ = 0;
}

void Screen::DeleteCharacters(int n) {
  const int column = std::min(column_, kColumns - 1);
  n = std::min(n, kColumns - column);
  const auto r = static_cast<size_t>(row_), k = static_cast<size_t>(column), m = static_cast<size_t>(n);
  rows_[r].erase(k, m).append(m, ' ');
  reverse_[r].erase(k, m).append(m, '\0');
}

void Screen::ClearAll() {
  for (int r = 0; r < kRows; ++r) Blank(r, 0, kColumns);
}

std::string Screen::Text() const {
  std::vector<std::string> lines;
  for (const std::string& r : rows_) lines.push_back(r.substr(0, r.find_last_not_of(' ') + 1));
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
  return text;
}

}  // namespace orvane::runner
