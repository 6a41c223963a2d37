// Runs the debug adapter's protocol rows: each case starts orvane-dap over
// pipes, writes the case's input (in pieces where the case waits between
// them), reads everything the adapter writes until it ends, and compares the
// messages, one for one, with the rows' expectations, and the exit status.
//
//   dap_rows ADAPTER ROWS
//
// A row file holds cases:
//   == NAME                 a case begins
//   file NAME TEXT          writes TEXT (\n, \t, \\ escapes) to NAME in the
//                           case's own folder; $DIR in any row is that folder
//   init                    initialize (its answer and the initialized event
//                           are read and dropped)
//   > JSON                  a request, framed; "type" and "seq" (counting
//                           from 1) are added when missing. Like a client,
//                           the input waits until every message expected
//                           before a request has come; the input ends once
//                           all expected messages have come.
//   >> BYTES                bytes as they are (\r, \n, \\ escapes), unframed
//   sleep MS                the input stops for MS milliseconds
//   hold                    standard input stays open until the adapter ends
//   < JSON                  the next message must match: an object matches
//                           when every key given matches; an array when it is
//                           as long and matches element by element, or, when
//                           its first element is "...", when every other
//                           element matches some element; "~TEXT" matches a
//                           string holding TEXT. Output events of one
//                           category in a row are joined into one first.
//   exit N                  the adapter's exit status
//   within SECONDS          the adapter ends within SECONDS of its last input
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

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

bool Matches(const json& want, const json& got) {
  if (want.is_object()) {
    if (!got.is_object()) return false;
    for (const auto& [k, v] : want.items()) {
      if (!got.contains(k) || !Matches(v, got[k])) return false;
    }
    return true;
  }
  if (want.is_array()) {
    if (!got.is_array()) return false;
    if (!want.empty() && want[0] == "...") {
      for (size_t i = 1; i < want.size(); ++i) {
        bool found = false;
        for (const json& g : got) found = found || Matches(want[i], g);
        if (!found) return false;
      }
      return true;
    }
    if (want.size() != got.size()) return false;
    for (size_t i = 0; i < want.size(); ++i) {
      if (!Matches(want[i], got[i])) return false;
    }
    return true;
  }
  // "~TEXT" matches a string that holds TEXT.
  if (want.is_string() && got.is_string() && want.get<std::string>().rfind("~", 0) == 0)
    return got.get<std::string>().find(want.get<std::string>().substr(1)) != std::string::npos;
  return want == got;
}

bool IsOutput(const json& m) { return m.value("type", "") == "event" && m.value("event", "") == "output"; }

// The messages in what the adapter wrote, output events of one category in a
// row joined; a frame that cannot be read ends it.
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
  std::vector<std::pair<bool, std::string>> items;  // (framed, text): a request's body, or raw bytes
  std::string bytes;
  int sleepMs = 0;     // before these bytes
  size_t waitFor = 0;  // messages that must have come before these bytes
};

struct Case {
  std::string name;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<Piece> input{1};
  std::vector<json> expected;
  int exitStatus = -1;
  double within = -1;
  bool hold = false;
  size_t drop = 0;  // messages to leave out before comparing (init)
  int64_t seq = 0;
};

struct Outcome {
  int status = -1;
  std::string output;
  double secondsAfterInput = 0;
};

// Runs the adapter with the case's input.
Outcome RunAdapter(const std::string& adapter, const Case& c, const std::string& dir) {
  Outcome o;
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return o;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]), close(in[1]), close(out[0]), close(out[1]);
    if (chdir(dir.c_str()) != 0) _exit(126);
    execl(adapter.c_str(), adapter.c_str(), static_cast<char*>(nullptr));
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
    while (!ended && arrived() < n) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  Clock::time_point inputDone = Clock::now();
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
    waitFor(c.drop + c.expected.size());
    inputDone = Clock::now();
    while (c.hold && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    close(in[1]);
  });
  char buf[65536];
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    // A bound far above any case's time: a hung adapter fails its case.
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: dap_rows ADAPTER ROWS\n";
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const std::string adapter = std::filesystem::absolute(argv[1]).string();
  std::ifstream rows(argv[2]);
  std::vector<Case> cases;
  std::string line;
  int lineNo = 0;
  while (std::getline(rows, line)) {
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("== ", 0) == 0) {
      cases.emplace_back();
      cases.back().name = line.substr(3);
      continue;
    }
    if (cases.empty()) {
      std::cerr << argv[2] << ":" << lineNo << ": a row before the first case\n";
      return 2;
    }
    Case& c = cases.back();
    const size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    // A request after expected messages waits for them.
    auto piece = [&] {
      const size_t want = c.drop + c.expected.size();
      if (want > c.input.back().waitFor && !c.input.back().items.empty()) c.input.push_back({});
      c.input.back().waitFor = want;
    };
    auto request = [&](json j) {
      piece();
      if (!j.contains("type")) j["type"] = "request";
      if (!j.contains("seq")) j["seq"] = ++c.seq;
      c.input.back().items.emplace_back(true, j.dump());
    };
    try {
      if (word == "file") {
        const size_t b = rest.find(' ');
        c.files.emplace_back(rest.substr(0, b), b == std::string::npos ? "" : Unescape(rest.substr(b + 1)));
      } else if (word == "init") {
        request({{"command", "initialize"}, {"arguments", {{"adapterID", "orvane"}, {"linesStartAt1", true}}}});
        c.drop += 2;
      } else if (word == ">") {
        request(json::parse(rest));
      } else if (word == ">>") {
        piece();
        c.input.back().items.emplace_back(false, Unescape(rest));
      } else if (word == "sleep") {
        c.input.push_back({{}, "", std::stoi(rest), c.drop + c.expected.size()});
      } else if (word == "hold") {
        c.hold = true;
      } else if (word == "<") {
        c.expected.push_back(json::parse(rest));
      } else if (word == "exit") {
        c.exitStatus = std::stoi(rest);
      } else if (word == "within") {
        c.within = std::stod(rest);
      } else {
        std::cerr << argv[2] << ":" << lineNo << ": unknown row " << word << "\n";
        return 2;
      }
    } catch (const std::exception& e) {
      std::cerr << argv[2] << ":" << lineNo << ": " << e.what() << "\n";
      return 2;
    }
  }

  int failed = 0;
  for (Case& c : cases) {
    char pattern[] = "/tmp/dap_rows.XXXXXX";
    const std::string dir = mkdtemp(pattern);
    for (auto& [name, text] : c.files) std::ofstream(dir + "/" + name, std::ios::binary) << Replace(text, "$DIR", dir);
    for (Piece& p : c.input) {
      for (const auto& [framed, text] : p.items) {
        const std::string t = Replace(text, "$DIR", dir);
        p.bytes += framed ? "Content-Length: " + std::to_string(t.size()) + "\r\n\r\n" + t : t;
      }
    }
    for (json& e : c.expected) e = json::parse(Replace(e.dump(), "$DIR", dir));
    const Outcome o = RunAdapter(adapter, c, dir);
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
    std::filesystem::remove_all(dir);
    if (why.str().empty()) {
      std::cout << "ok   " << c.name << "\n";
    } else {
      ++failed;
      std::cout << "FAIL " << c.name << "\n" << why.str();
    }
  }
  std::cout << cases.size() - static_cast<size_t>(failed) << " of " << cases.size() << " cases passed\n";
  return failed == 0 && !cases.empty() ? 0 : 1;
}
