// orvane-bench-lsp: drives orvane-lsp as an editor would over one program and
// prints one line of figures.
//
//   orvane-bench-lsp SERVER PROGRAM NAME EDITS QUERIES
//
// Opens PROGRAM, then types: EDITS one-character changes, each an "X"
// inserted after a mnemonic or that X deleted again, every change sent as the
// client sends it and timed until the diagnostics for its version arrive.
// Then QUERIES hovers and QUERIES definitions on symbols the program uses,
// each timed until its answer. Last, the server's resident memory (now and
// at its peak) from /proc.
//
// Output: NAME LINES OPEN_MS EDITS EDIT_P50 EDIT_P95 EDIT_MAX HOVER_P50
// HOVER_P95 DEF_P50 DEF_P95 RSS_MB PEAK_MB CPU_MS_PER_EDIT (times in
// milliseconds; the last is the server's own processor time per edit, which
// the machine's load does not inflate the way it does wall time).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "jsonrpc/transport.h"

namespace {

using orvane::jsonrpc::json;
using Clock = std::chrono::steady_clock;

class Client {
 public:
  explicit Client(const char* server) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[0]), close(in[1]), close(out[0]), close(out[1]);
      execl(server, server, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~Client() {
    close(to_);
    close(from_);
    int status;
    waitpid(pid_, &status, 0);
  }
  pid_t Pid() const { return pid_; }

  void Send(const json& m) {
    const std::string bytes = orvane::jsonrpc::FrameMessage(m);
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = write(to_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) throw std::runtime_error("the server stopped reading");
      done += static_cast<size_t>(n);
    }
  }
  json Next() {
    for (;;) {
      if (auto f = reader_.Next()) return json::parse(f->body);
      char buf[1 << 16];
      const ssize_t n = read(from_, buf, sizeof buf);
      if (n <= 0) throw std::runtime_error("the server ended");
      reader_.Feed(std::string_view(buf, static_cast<size_t>(n)));
    }
  }
  // Reads until a message satisfies `done`.
  template <typename F>
  json Until(F done) {
    for (;;) {
      json m = Next();
      if (done(m)) return m;
    }
  }

 private:
  pid_t pid_;
  int to_, from_;
  orvane::jsonrpc::MessageReader reader_;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// CPU time the process has used, user and system, in milliseconds.
double CpuMs(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::istringstream rest(stat.substr(stat.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i >= 14) ticks += std::stod(field);
  }
  return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double StatusMb(pid_t pid, const std::string& field) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::cerr << "usage: orvane-bench-lsp SERVER PROGRAM NAME EDITS QUERIES\n";
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
  std::vector<std::string> lines;
  {
    std::istringstream split(text);
    for (std::string line; std::getline(split, line);) lines.push_back(line);
  }
  const int edits = std::stoi(argv[4]), queries = std::stoi(argv[5]);
  const std::string uri = "file:///bench.z80";

  Client c(argv[1]);
  c.Send({{"jsonrpc", "2.0"}, {"id", 0}, {"method", "initialize"}, {"params", {{"capabilities", json::object()}}}});
  c.Until([](const json& m) { return m.contains("id"); });
  c.Send({{"jsonrpc", "2.0"}, {"method", "initialized"}, {"params", json::object()}});
  const auto t0 = Clock::now();
  c.Send({{"jsonrpc", "2.0"},
          {"method", "textDocument/didOpen"},
          {"params", {{"textDocument", {{"uri", uri}, {"languageId", "z80"}, {"version", 1}, {"text", text}}}}}});
  c.Until([](const json& m) { return m.value("method", "") == "textDocument/publishDiagnostics"; });
  const double openMs = Ms(Clock::now() - t0);

  // Typing: an X after a mnemonic ("LDX", an unknown opcode), then the X
  // taken away, line after line. Every such edit is read by the assembler,
  // and every one changes the line's size, so the labels after it move up to
  // the next ORG.
  std::vector<std::pair<size_t, int64_t>> spots;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (l.rfind("        ", 0) != 0 || l.size() < 9 || l[8] < 'A' || l[8] > 'Z') continue;
    const size_t end = l.find_first_of(" ;", 8);
    spots.emplace_back(i, static_cast<int64_t>(end == std::string::npos ? l.size() : end));
  }
  std::vector<double> editMs;
  int version = 1;
  const double cpuBefore = CpuMs(c.Pid());
  for (int k = 0; k < edits; ++k) {
    const auto [line, end] = spots[(static_cast<size_t>(k / 2) * 7919 + 13) % spots.size()];
    json change;
    if (k % 2 == 0) {
      change = {{"range", {{"start", {{"line", line}, {"character", end}}}, {"end", {{"line", line}, {"character", end}}}}},
                {"text", "X"}};
    } else {
      change = {{"range", {{"start", {{"line", line}, {"character", end}}},
                           {"end", {{"line", line}, {"character", end + 1}}}}},
                {"text", ""}};
    }
    ++version;
    const auto start = Clock::now();
    c.Send({{"jsonrpc", "2.0"},
            {"method", "textDocument/didChange"},
            {"params", {{"textDocument", {{"uri", uri}, {"version", version}}}, {"contentChanges", {change}}}}});
    c.Until([&](const json& m) {
      return m.value("method", "") == "textDocument/publishDiagnostics" && m["params"].value("version", 0) == version;
    });
    editMs.push_back(Ms(Clock::now() - start));
  }
  const double cpuPerEdit = edits > 0 ? (CpuMs(c.Pid()) - cpuBefore) / edits : 0;

  // Symbols the program uses: the operand of JP and CALL lines.
  std::vector<std::pair<size_t, size_t>> places;
  for (size_t i = 0; i < lines.size() && places.size() < static_cast<size_t>(queries); i += 7) {
    for (const char* op : {"        JP ", "        CALL "}) {
      if (lines[i].rfind(op, 0) == 0 && lines[i].find(',') == std::string::npos) {
        places.emplace_back(i, std::string(op).size() + 1);
      }
    }
  }
  std::vector<double> hoverMs, defMs;
  int id = 1;
  for (const auto& [line, col] : places) {
    for (const char* method : {"textDocument/hover", "textDocument/definition"}) {
      const int me = ++id;
      const auto start = Clock::now();
      c.Send({{"jsonrpc", "2.0"},
              {"id", me},
              {"method", method},
              {"params", {{"textDocument", {{"uri", uri}}}, {"position", {{"line", line}, {"character", col}}}}}});
      const json answer = c.Until([&](const json& m) { return m.contains("id") && m["id"] == me; });
      (std::string(method) == "textDocument/hover" ? hoverMs : defMs).push_back(Ms(Clock::now() - start));
      if (answer["result"].is_null()) std::cerr << "no answer at line " << line + 1 << "\n";
    }
  }
  const double rss = StatusMb(c.Pid(), "VmRSS"), peak = StatusMb(c.Pid(), "VmHWM");
  c.Send({{"jsonrpc", "2.0"}, {"id", "bye"}, {"method", "shutdown"}});
  c.Until([](const json& m) { return m.contains("id") && m["id"] == "bye"; });
  c.Send({{"jsonrpc", "2.0"}, {"method", "exit"}});

  std::printf("%s %zu %.1f %d %.2f %.2f %.2f %.3f %.3f %.3f %.3f %.1f %.1f %.2f\n", argv[3], lines.size(), openMs,
              edits, Percentile(editMs, 0.5), Percentile(editMs, 0.95), Percentile(editMs, 1.0),
              Percentile(hoverMs, 0.5), Percentile(hoverMs, 0.95), Percentile(defMs, 0.5), Percentile(defMs, 0.95), rss,
              peak, cpuPerEdit);
  return 0;
}
