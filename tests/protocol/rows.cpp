// Runs the protocol rows of orvane-lsp or orvane-dap: each case starts the
// program over pipes in a folder of its own, writes the case's input, reads
// everything the program writes until it ends, and compares the messages,
// one for one, with the rows' expectations, and the exit status.
//
//   protocol_rows PROGRAM ROWS
//
// The first row names the protocol: "protocol lsp" or "protocol dap". Then
// the file holds cases:
//   == NAME                 a case begins
//   file NAME TEXT          writes TEXT (\n, \t, \\ escapes) to NAME in the
//                           case's own folder; $DIR in any row is that folder
//   fifo NAME               makes a FIFO NAME in the case's folder (no one
//                           writes it: a program that waits on it hangs)
//   sparse NAME BYTES       makes NAME a file of BYTES zero bytes that takes
//                           no room on the disk
//   init [OPTIONS]          lsp: initialize (id "init", with OPTIONS as
//                           initializationOptions) and initialized, its answer
//                           dropped; dap: initialize, its answer and the
//                           initialized event dropped
//   open TEXT               didOpen of file:///t.z80, version 1 (\n, \t, \\ in TEXT)
//   big BYTES               didOpen of file:///big.z80, a program of about BYTES
//   > JSON                  a message, framed. dap: a request, with "type"
//                           and "seq" (counting from 1) added when missing;
//                           like a client, the input waits until every message
//                           expected before a request has come, and ends once
//                           all expected messages have come. lsp: the whole
//                           input is written at once.
//   >> BYTES                bytes as they are (\r, \n, \\ escapes), unframed
//   sleep MS                the input stops for MS milliseconds
//   hold                    standard input stays open until the program ends
//   < JSON                  the next message must match: an object matches
//                           when every key given matches (lsp: a key given as
//                           null matches absent or null); an array when it is
//                           as long and matches element by element, or, when
//                           its first element is "...", when every other
//                           element matches some element; "~TEXT" matches a
//                           string holding TEXT. Output events of one
//                           category in a row are joined into one first.
//   exit N                  the program's exit status
//   within SECONDS          the program ends within SECONDS of its last input
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

bool dap = false;  // the protocol: dap, or else lsp

std::string Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out.push_back(s[i]);
      continue;
    }
    const char c = s[++i];
    out.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
  }
  return out;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
  return s;
}

std::string Frame(const json& j) {
  const std::string body = j.dump();
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

bool Matches(const json& want, const json& got) {
  if (want.is_object()) {
    if (!got.is_object()) return false;
    for (const auto& [k, v] : want.items()) {
      if (!dap && v.is_null() && !got.contains(k)) continue;
      if (!got.contains(k) || !Matches(v, got[k])) return false;
    }
    return true;
  }
  if (want.is_array()) {
    const bool some = !want.empty() && want[0] == "...";
    if (!got.is_array() || (!some && want.size() != got.size())) return false;
    for (size_t i = some ? 1 : 0; i < want.size(); ++i) {
      auto match = [&](const json& g) { return Matches(want[i], g); };
      if (some ? std::none_of(got.begin(), got.end(), match) : !match(got[i])) return false;
    }
    return true;
  }
  if (want.is_string() && got.is_string() && want.get<std::string>().rfind("~", 0) == 0)
    return got.get<std::string>().find(want.get<std::string>().substr(1)) != std::string::npos;
  return want == got;
}

bool IsOutput(const json& m) {
  return m.is_object() && m.value("type", "") == "event" && m.value("event", "") == "output";
}

// The messages in what the program wrote, output events of one category in
// a row joined; a frame that cannot be read ends it.
std::vector<json> Messages(const std::string& out, std::string& trouble) {
  std::vector<json> list;
  size_t at = 0;
  while (at < out.size()) {
    const size_t end = out.find("\r\n\r\n", at);
    const std::string header = out.substr(at, end - at);
    if (end == std::string::npos || header.rfind("Content-Length: ", 0) != 0) {
      trouble = "unreadable output at byte " + std::to_string(at);
      break;
    }
    const size_t n = std::stoul(header.substr(16));
    json m = json::parse(out.substr(end + 4, n), nullptr, false);
    at = end + 4 + n;
    if (!list.empty() && IsOutput(m) && IsOutput(list.back()) &&
        list.back()["body"]["category"] == m["body"]["category"]) {
      list.back()["body"]["output"] = list.back()["body"]["output"].get<std::string>() + m["body"]["output"].get<std::string>();
      continue;
    }
    list.push_back(std::move(m));
  }
  return list;
}

struct Piece {
  std::string bytes;
  int sleepMs = 0;     // before these bytes
  size_t waitFor = 0;  // messages that must have come before these bytes
};

struct Case {
  std::string name, dir;
  std::vector<Piece> input{1};
  std::vector<json> expected;
  int exitStatus = -1;
  double within = -1;
  bool hold = false;
  size_t drop = 0;  // messages to leave out before comparing (init)
  int64_t seq = 0;
  // The messages the input waits for from here on: dap waits as a client does.
  size_t Waited() const { return dap ? drop + expected.size() : 0; }
};

struct Outcome {
  int status = -1;
  std::string output;
  double secondsAfterInput = 0;
};

// Runs the program with the case's input, in the case's folder.
Outcome Run(const std::string& program, const Case& c) {
  Outcome o;
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return o;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]), close(in[1]), close(out[0]), close(out[1]);
    if (chdir(c.dir.c_str()) != 0) _exit(126);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  std::atomic<bool> ended = false;
  std::mutex mutex;  // guards o.output
  auto arrived = [&] {
    std::lock_guard lock(mutex);
    std::string trouble;
    return Messages(o.output, trouble).size();
  };
  auto waitFor = [&](size_t n) {
    while (!ended && n > 0 && arrived() < n) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  Clock::time_point inputDone = Clock::now();
  // Each piece in one write where it fits a pipe at once, so the program
  // reads a short case in one piece.
  std::thread writer([&] {
    for (const Piece& p : c.input) {
      waitFor(p.waitFor);
      if (p.sleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(p.sleepMs));
      size_t done = 0;
      while (done < p.bytes.size()) {
        const ssize_t n = write(in[1], p.bytes.data() + done, p.bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
    }
    waitFor(c.Waited());
    inputDone = Clock::now();
    while (c.hold && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    close(in[1]);
  });
  char buf[65536];
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    // A bound far above any case's time: a hung program fails its case.
    if (poll(&p, 1, 120000) <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::lock_guard lock(mutex);
    o.output.append(buf, static_cast<size_t>(n));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const auto end = Clock::now();
  ended = true;
  writer.join();
  close(out[0]);
  o.secondsAfterInput = std::chrono::duration<double>(end - inputDone).count();
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return o;
}

std::string BigProgram(size_t bytes) {
  std::string text = "BIG     EQU 1\n";
  const std::string line = "        LD A,BIG            ; a line of a big document\n";
  while (text.size() + line.size() <= bytes) text += line;
  return text;
}

// Reads the rows into `cases`, each with its folder made under `root`; false
// (with the reason told) when a row cannot be read.
bool ReadRows(const char* path, const std::string& root, std::vector<Case>& cases) {
  std::ifstream rows(path);
  std::string line, protocol;
  for (int lineNo = 1; std::getline(rows, line); ++lineNo) {
    if (line.empty() || line[0] == '#') continue;
    auto fail = [&](const std::string& why) {
      std::cerr << path << ":" << lineNo << ": " << why << "\n";
      return false;
    };
    if (protocol.empty()) {
      if (line != "protocol lsp" && line != "protocol dap") return fail("the first row must be protocol lsp or protocol dap");
      protocol = line.substr(9);
      dap = protocol == "dap";
      continue;
    }
    if (line.rfind("== ", 0) == 0) {
      cases.emplace_back();
      cases.back().name = line.substr(3);
      cases.back().dir = root + "/" + std::to_string(cases.size());
      std::filesystem::create_directory(cases.back().dir);
      continue;
    }
    if (cases.empty()) return fail("a row before the first case");
    Case& c = cases.back();
    line = Replace(line, "$DIR", c.dir);
    const size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    // Input after expected messages waits for them.
    auto piece = [&] {
      const size_t want = c.Waited();
      if (want > c.input.back().waitFor && !c.input.back().bytes.empty()) c.input.push_back({});
      c.input.back().waitFor = want;
    };
    auto send = [&](json j) {
      piece();
      if (dap && !j.contains("type")) j["type"] = "request";
      if (dap && !j.contains("seq")) j["seq"] = ++c.seq;
      c.input.back().bytes += Frame(j);
    };
    try {
      if (word == "file") {
        const size_t b = rest.find(' ');
        std::ofstream(c.dir + "/" + rest.substr(0, b), std::ios::binary)
            << (b == std::string::npos ? "" : Unescape(rest.substr(b + 1)));
      } else if (word == "fifo") {
        if (mkfifo((c.dir + "/" + rest).c_str(), 0600) != 0) return fail("cannot make the FIFO " + rest);
      } else if (word == "sparse") {
        const size_t b = rest.find(' ');
        const std::string name = c.dir + "/" + rest.substr(0, b);
        std::ofstream(name, std::ios::binary).close();
        std::filesystem::resize_file(name, std::stoull(rest.substr(b + 1)));
      } else if (word == "init" && dap) {
        send({{"command", "initialize"}, {"arguments", {{"adapterID", "orvane"}, {"linesStartAt1", true}}}});
        c.drop += 2;
      } else if (word == "init") {
        json params = {{"processId", nullptr}, {"rootUri", nullptr},
                       {"capabilities", {{"textDocument", {{"publishDiagnostics", {{"relatedInformation", true}}}}}}}};
        if (!rest.empty()) params["initializationOptions"] = json::parse(rest);
        send({{"jsonrpc", "2.0"}, {"id", "init"}, {"method", "initialize"}, {"params", params}});
        send({{"jsonrpc", "2.0"}, {"method", "initialized"}, {"params", json::object()}});
        ++c.drop;
      } else if (word == "open" || word == "big") {
        const bool big = word == "big";
        send({{"jsonrpc", "2.0"},
              {"method", "textDocument/didOpen"},
              {"params",
               {{"textDocument",
                 {{"uri", big ? "file:///big.z80" : "file:///t.z80"}, {"languageId", "z80"}, {"version", 1},
                  {"text", big ? BigProgram(std::stoul(rest)) : Unescape(rest)}}}}}});
      } else if (word == ">") {
        send(json::parse(rest));
      } else if (word == ">>") {
        piece();
        c.input.back().bytes += Unescape(rest);
      } else if (word == "sleep") {
        c.input.push_back({"", std::stoi(rest), c.Waited()});
      } else if (word == "hold") {
        c.hold = true;
      } else if (word == "<") {
        c.expected.push_back(json::parse(rest));
      } else if (word == "exit") {
        c.exitStatus = std::stoi(rest);
      } else if (word == "within") {
        c.within = std::stod(rest);
      } else {
        return fail("unknown row " + word);
      }
    } catch (const std::exception& e) {
      return fail(e.what());
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: protocol_rows PROGRAM ROWS\n";
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const std::string program = std::filesystem::absolute(argv[1]).string();
  char pattern[] = "/tmp/protocol_rows.XXXXXX";
  const std::string root = mkdtemp(pattern);
  std::vector<Case> cases;
  if (!ReadRows(argv[2], root, cases)) {
    std::filesystem::remove_all(root);
    return 2;
  }
  int failed = 0;
  for (const Case& c : cases) {
    const Outcome o = Run(program, c);
    std::string trouble;
    std::vector<json> got = Messages(o.output, trouble);
    std::ostringstream why;
    if (!trouble.empty()) why << "  " << trouble << "\n";
    if (c.drop > got.size()) {
      why << "  the initialize answer is missing\n";
    } else {
      got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(c.drop));
    }
    for (size_t i = 0; i < std::max(got.size(), c.expected.size()); ++i) {
      if (i >= got.size()) {
        why << "  missing message " << i + 1 << ": " << c.expected[i].dump() << "\n";
      } else if (i >= c.expected.size()) {
        why << "  extra message " << i + 1 << ": " << got[i].dump().substr(0, 400) << "\n";
      } else if (!Matches(c.expected[i], got[i])) {
        why << "  message " << i + 1 << "\n    want " << c.expected[i].dump() << "\n    got  "
            << got[i].dump().substr(0, 2000) << "\n";
      }
    }
    if (c.exitStatus >= 0 && o.status != c.exitStatus) why << "  exit status " << o.status << ", want " << c.exitStatus << "\n";
    if (c.within >= 0 && o.secondsAfterInput > c.within)
      why << "  ended " << o.secondsAfterInput << " s after its last input, want within " << c.within << " s\n";
    if (why.str().empty()) {
      std::cout << "ok   " << c.name << "\n";
    } else {
      ++failed;
      std::cout << "FAIL " << c.name << "\n" << why.str();
    }
  }
  std::filesystem::remove_all(root);
  std::cout << cases.size() - static_cast<size_t>(failed) << " of " << cases.size() << " cases passed\n";
  return failed == 0 && !cases.empty() ? 0 : 1;
}
