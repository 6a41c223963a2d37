#include "profile/writers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace orvane::profile {

void ProgramInfo::LookUpIn(std::map<uint16_t, int> lines, std::map<uint16_t, std::string> names) {
  auto l = std::make_shared<const std::map<uint16_t, int>>(std::move(lines));
  auto n = std::make_shared<const std::map<uint16_t, std::string>>(std::move(names));
  line = [l](uint16_t a) {
    const auto it = l->find(a);
    return it == l->end() ? 0 : it->second;
  };
  name = [n](uint16_t a) {
    const auto it = n->find(a);
    return it == n->end() ? std::string() : it->second;
  };
}

namespace {

std::string Hex(uint16_t a) {
  char b[8];
  std::snprintf(b, sizeof b, "%04XH", a);
  return b;
}

std::string Position(const ProgramInfo& p, uint16_t a) {
  char b[8];
  std::snprintf(b, sizeof b, "0x%04X", a);
  return std::string(b) + " " + std::to_string(p.line ? p.line(a) : 0);
}

}  // namespace

std::string RoutineName(const ProgramInfo& program, uint16_t address) {
  std::string n = program.name ? program.name(address) : "";
  return n.empty() ? Hex(address) : n;
}

void WriteCallgrind(const Recorder& r, const ProgramInfo& program, std::ostream& out) {
  out << "# callgrind format\nversion: 1\ncreator: orvane\n";
  out << "cmd: " << program.command << "\n";
  out << "positions: instr line\n";
  out << "event: Instructions : Z80 instructions run\n";
  out << "event: Tstates : T-states\n";
  out << "events: Instructions Tstates\n";
  const std::string file = program.source.empty() ? program.command : program.source;
  out << "\nfl=" << file << "\n";
  // Callees by caller, for the calls= lines after each routine's own costs.
  std::map<size_t, std::vector<std::pair<std::pair<uint16_t, size_t>, Recorder::Arc>>> calls;
  for (const auto& [key, arc] : r.arcs()) calls[std::get<0>(key)].push_back({{std::get<1>(key), std::get<2>(key)}, arc});
  const std::vector<uint16_t>& routines = r.routines();
  for (size_t i = 0; i < routines.size(); ++i) {
    out << "\nfn=" << RoutineName(program, routines[i]) << "\n";
    for (const auto& [pc, c] : r.Self(i)) out << Position(program, pc) << " " << c.instructions << " " << c.tstates << "\n";
    for (const auto& [where, arc] : calls[i]) {
      const uint16_t callee = routines[where.second];
      out << "cfn=" << RoutineName(program, callee) << "\n";
      out << "calls=" << arc.calls << " " << Position(program, callee) << "\n";
      out << Position(program, where.first) << " " << arc.inclusive.instructions << " " << arc.inclusive.tstates << "\n";
    }
  }
  out << "\nsummary: " << r.total().instructions << " " << r.total().tstates << "\n";
  out << "totals: " << r.total().instructions << " " << r.total().tstates << "\n";
}

void WriteLcov(const Recorder& r, const ProgramInfo& program, std::ostream& out) {
  out << "TN:\nSF:" << program.source << "\n";
  // Routines: the program's and those the run called, by line.
  std::set<uint16_t> routines(program.routines.begin(), program.routines.end());
  routines.insert(r.routines().begin(), r.routines().end());
  std::map<int, std::pair<std::string, uint16_t>> byLine;
  for (uint16_t a : routines) {
    const int line = program.line ? program.line(a) : 0;
    if (line > 0) byLine.emplace(line, std::pair{RoutineName(program, a), a});
  }
  int hitRoutines = 0;
  for (const auto& [line, fn] : byLine) out << "FN:" << line << "," << fn.first << "\n";
  for (const auto& [line, fn] : byLine) {
    const uint64_t n = r.At(fn.second).instructions;
    hitRoutines += n != 0;
    out << "FNDA:" << n << "," << fn.first << "\n";
  }
  out << "FNF:" << byLine.size() << "\nFNH:" << hitRoutines << "\n";
  // Each conditional instruction is a block of two branches: 0 the jump
  // (call, return, repeat) taken, 1 not taken; "-" where it never ran.
  int branches = 0, branchesHit = 0;
  for (const ProgramInfo::Instruction& in : program.instructions) {
    if (!in.conditional) continue;
    const uint64_t ran = r.At(in.address).instructions, taken = r.Taken(in.address);
    for (int way = 0; way < 2; ++way) {
      const uint64_t n = way == 0 ? taken : ran - taken;
      out << "BRDA:" << in.line << ",0," << way << "," << (ran == 0 ? std::string("-") : std::to_string(n)) << "\n";
      ++branches;
      branchesHit += ran != 0 && n != 0;
    }
  }
  out << "BRF:" << branches << "\nBRH:" << branchesHit << "\n";
  // A line counts the times its statement started; two statements on one
  // line (none in this language) would add.
  std::map<int, uint64_t> lines;
  for (const ProgramInfo::Instruction& in : program.instructions) lines[in.line] += r.At(in.address).instructions;
  int hit = 0;
  for (const auto& [line, n] : lines) {
    out << "DA:" << line << "," << n << "\n";
    hit += n != 0;
  }
  out << "LF:" << lines.size() << "\nLH:" << hit << "\nend_of_record\n";
}

bool RunFiles::Open(const std::string& profile, const std::string& coverage, std::string& error) {
  profilePath_ = profile;
  coveragePath_ = coverage;
  for (auto [path, stream] : {std::pair{&profilePath_, &profile_}, {&coveragePath_, &coverage_}}) {
    if (path->empty()) continue;
    stream->open(*path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!stream->is_open()) {
      error = "cannot write " + *path + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

std::vector<std::string> RunFiles::Write(const Recorder& r, const ProgramInfo& program) {
  std::vector<std::string> failed;
  for (auto [path, stream] : {std::pair{&profilePath_, &profile_}, {&coveragePath_, &coverage_}}) {
    if (path->empty()) continue;
    (path == &profilePath_ ? WriteCallgrind : WriteLcov)(r, program, *stream);
    stream->close();
    if (!*stream) failed.push_back(*path);
  }
  return failed;
}

}  // namespace orvane::profile
