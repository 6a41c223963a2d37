// Runs the protocol rows: each case starts orvane-lsp, writes the case's
// input at once, reads everything the server writes until it ends, and
// compares the messages, one for one, with the rows' expectations, and the
// exit status.
//
//   lsp_rows SERVER ROWS
//
// A row file holds cases:
//   == NAME                 a case begins
//   init [OPTIONS]          initialize (id "init", with initializationOptions)
//                           and initialized; its answer is read and dropped
//   open TEXT               didOpen of file:///t.z80, version 1 (\n, \t, \\ in TEXT)
//   big BYTES               didOpen of file:///big.z80, a program of about BYTES
//   > JSON                  a message, framed
//   >> BYTES                bytes as they are (\r, \n, \\ escapes), unframed
//   < JSON                  the next message the server writes must match: an
//                           object matches when every key given matches
//                           (a key given as null: absent or null);
//                           an array when it is as long and matches element by
//                           element, or, when its first element is "...", when
//                           every other element matches some element
//   exit N                  the server's exit status
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

using json = nlohmann::json;

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

std::string Frame(const json& j) {
  const std::string body = j.dump();
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

bool Matches(const json& want, const json& got) {
  if (want.is_object()) {
    if (!got.is_object()) return false;
    for (const auto& [k, v] : want.items()) {
      if (v.is_null() && !got.contains(k)) continue;  // null: absent (or null)
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
  return want == got;
}

// The messages in what the server wrote; a frame that cannot be read ends it.
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
    list.push_back(json::parse(out.substr(end + 4, n), nullptr, false));
    at = end + 4 + n;
  }
  return list;
}

struct Case {
  std::string name;
  std::string input;
  std::vector<json> expected;
  int exitStatus = -1;
  size_t drop = 0;  // answers to leave out before comparing (init)
};

// Runs the server with `input`; its output and exit status.
int RunServer(const std::string& server, const std::string& input, std::string& output) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]), close(in[1]), close(out[0]), close(out[1]);
    execl(server.c_str(), server.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  // Written from a thread, in one write where it fits a pipe at once, so the
  // server reads a short case in one piece.
  std::thread writer([&] {
    size_t done = 0;
    while (done < input.size()) {
      const ssize_t n = write(in[1], input.data() + done, input.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(in[1]);
  });
  char buf[65536];
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    // A bound far above any case's time: a hung server fails its case.
    if (poll(&p, 1, 120000) <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    output.append(buf, static_cast<size_t>(n));
  }
  writer.join();
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string BigProgram(size_t bytes) {
  std::string text = "BIG     EQU 1\n";
  const std::string line = "        LD A,BIG            ; a line of a big document\n";
  while (text.size() + line.size() <= bytes) text += line;
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: lsp_rows SERVER ROWS\n";
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
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
    try {
      if (word == "init") {
        json params = {{"processId", nullptr}, {"rootUri", nullptr},
                       {"capabilities", {{"textDocument", {{"publishDiagnostics", {{"relatedInformation", true}}}}}}}};
        if (!rest.empty()) params["initializationOptions"] = json::parse(rest);
        c.input += Frame({{"jsonrpc", "2.0"}, {"id", "init"}, {"method", "initialize"}, {"params", params}});
        c.input += Frame({{"jsonrpc", "2.0"}, {"method", "initialized"}, {"params", json::object()}});
        ++c.drop;
      } else if (word == "open" || word == "big") {
        const bool big = word == "big";
        const std::string text = big ? BigProgram(std::stoul(rest)) : Unescape(rest);
        c.input += Frame({{"jsonrpc", "2.0"},
                          {"method", "textDocument/didOpen"},
                          {"params",
                           {{"textDocument",
                             {{"uri", big ? "file:///big.z80" : "file:///t.z80"}, {"languageId", "z80"},
                              {"version", 1}, {"text", text}}}}}});
      } else if (word == ">") {
        c.input += Frame(json::parse(rest));
      } else if (word == ">>") {
        c.input += Unescape(rest);
      } else if (word == "<") {
        c.expected.push_back(json::parse(rest));
      } else if (word == "exit") {
        c.exitStatus = std::stoi(rest);
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
  for (const Case& c : cases) {
    std::string output, trouble;
    const int status = RunServer(argv[1], c.input, output);
    std::vector<json> got = Messages(output, trouble);
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
    if (c.exitStatus >= 0 && status != c.exitStatus) {
      why << "  exit status " << status << ", want " << c.exitStatus << "\n";
    }
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
