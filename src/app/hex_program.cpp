#include "app/hex_program.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "encoder/timing.h"

namespace orvane {

void HexProgram::Add(const Statement& s) {
  if (s.isEnd && start_ < 0) start_ = s.endHasOperand ? (s.startAddress & 0xFFFF) : 0;
  if (!s.toObject || s.bytes.empty() || s.address < 0 || s.address > 0xFFFF) return;
  const auto address = static_cast<uint16_t>(s.address);
  if (lines_->count(address)) return;
  Line l;
  l.line = static_cast<int>(s.line);
  std::string_view text = s.source;
  if (s.fields && s.fields->CommentAt.size() <= text.size()) text.remove_suffix(s.fields->CommentAt.size());
  const size_t first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t");
  if (first != std::string_view::npos) l.text = std::string(text.substr(first, last - first + 1));
  l.size = std::min(s.bytes.size(), l.code.size());
  std::copy_n(s.bytes.begin(), l.size, l.code.begin());
  const Timing t = StatementTiming(s);
  l.instruction = t.Known();
  l.conditional = t.kind == Timing::Kind::kBranch;
  lines_->emplace(address, std::move(l));
}

runner::SourceLookup HexProgram::Lookup(std::string file) const {
  return [lines = lines_, file = std::move(file)](uint16_t address, runner::SourceLocation& where) {
    const auto it = lines->find(address);
    if (it == lines->end()) return false;
    where = {file, it->second.line, it->second.text};
    return true;
  };
}

profile::ProgramInfo HexProgram::Info(const std::string& source,
                                      const std::vector<AssembledProgram::Symbol>& symbols) const {
  profile::ProgramInfo info;
  info.command = "orvane-asm --run --hex " + source;
  char* real = realpath(source.c_str(), nullptr);
  info.source = real ? real : source;
  std::free(real);
  auto names = std::make_shared<std::map<uint16_t, std::string>>();
  std::map<int, uint16_t> byLine;
  for (const auto& [address, l] : *lines_) {
    byLine.emplace(l.line, address);
    if (l.instruction) info.instructions.push_back({address, l.line, l.conditional});
  }
  // A label names the address of the statement it stands on.
  for (const AssembledProgram::Symbol& sym : symbols)
    if (const auto at = byLine.find(sym.line); at != byLine.end() && at->second == static_cast<uint16_t>(sym.value))
      names->emplace(at->second, sym.name);
  info.line = [lines = lines_](uint16_t a) {
    const auto it = lines->find(a);
    return it == lines->end() ? 0 : it->second.line;
  };
  info.name = [names](uint16_t a) {
    const auto it = names->find(a);
    return it == names->end() ? std::string() : it->second;
  };
  info.routines.push_back(start());
  for (const profile::ProgramInfo::Instruction& in : info.instructions) {
    const Line& l = lines_->at(in.address);
    const uint8_t op = l.code[0];
    if ((op == 0xCD || (op & 0xC7) == 0xC4) && l.size == 3)
      info.routines.push_back(static_cast<uint16_t>(l.code[1] | l.code[2] << 8));
    else if ((op & 0xC7) == 0xC7)
      info.routines.push_back(op & 0x38);
  }
  return info;
}

}  // namespace orvane
