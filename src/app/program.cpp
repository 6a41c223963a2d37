#include "app/program.h"

#include <string_view>

namespace orvane {

void AssembledProgram::Add(const Statement& s) {
  if (!s.toObject || s.bytes.empty()) return;
  const size_t at = runner::kLoad + image_.size();
  if (at <= 0xFFFF && !lines_->count(static_cast<uint16_t>(at))) {
    // The statement without its comment and the blanks around it.
    std::string_view text = s.source;
    if (s.fields && s.fields->CommentAt.size() <= text.size()) text.remove_suffix(s.fields->CommentAt.size());
    const size_t first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t");
    text = first == std::string_view::npos ? std::string_view() : text.substr(first, last - first + 1);
    (*lines_)[static_cast<uint16_t>(at)] = {static_cast<int>(s.line), std::string(text)};
  }
  image_.insert(image_.end(), s.bytes.begin(), s.bytes.end());
}

runner::SourceLookup AssembledProgram::Lookup(std::string file) const {
  return [lines = lines_, file = std::move(file)](uint16_t address, runner::SourceLocation& where) {
    const auto it = lines->find(address);
    if (it == lines->end()) return false;
    where = {file, it->second.line, it->second.text};
    return true;
  };
}

}  // namespace orvane
