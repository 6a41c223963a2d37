// Drives orvane-dap over pipes as an editor does, and measures:
//   continue   from configurationDone to the stopped event of a breakpoint
//              reached after about 500 million T-states (bench/dap_long.z80);
//   steps      request-to-stopped round trips of stepBack and stepIn there,
//              median and 95th percentile;
//   memory     the adapter's resident size (VmRSS) and peak (VmHWM) with the
//              history of the last instructions full;
//   history    how many T-states a reverse continue undoes back to the
//              oldest recorded instruction, and how long it takes.
//
//   orvane-bench-dap ORVANE_DAP SOURCE LINE [STEPS]
//
// Prints "name value unit" lines for bench/dap.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

int to = -1, from = -1;
pid_t child = -1;
std::string pending;
int64_t seq = 0;

void Send(const std::string& command, json args = json::object()) {
  const std::string body = json{{"seq", ++seq}, {"type", "request"}, {"command", command}, {"arguments", args}}.dump();
  const std::string msg = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  if (write(to, msg.data(), msg.size()) != static_cast<ssize_t>(msg.size())) {
    std::cerr << "orvane-bench-dap: cannot write to the adapter\n";
    std::exit(1);
  }
}

json Read() {
  for (;;) {
    const size_t end = pending.find("\r\n\r\n");
    if (end != std::string::npos) {
      const size_t n = std::stoul(pending.substr(16, end - 16));
      if (pending.size() >= end + 4 + n) {
        json m = json::parse(pending.substr(end + 4, n));
        pending.erase(0, end + 4 + n);
        return m;
      }
    }
    char buf[65536];
    const ssize_t n = read(from, buf, sizeof buf);
    if (n <= 0) {
      std::cerr << "orvane-bench-dap: the adapter ended\n";
      std::exit(1);
    }
    pending.append(buf, static_cast<size_t>(n));
  }
}

// Reads until an event of that name (answers checked on the way).
json Until(const std::string& event) {
  for (;;) {
    json m = Read();
    if (m["type"] == "response" && !m["success"].get<bool>()) {
      std::cerr << "orvane-bench-dap: " << m["command"] << ": " << m["message"] << "\n";
      std::exit(1);
    }
    if (m["type"] == "event" && m["event"] == event) return m;
  }
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/" + std::to_string(child) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return -1;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: orvane-bench-dap ORVANE_DAP SOURCE LINE [STEPS]\n";
    return 2;
  }
  const int line = std::atoi(argv[3]);
  const int steps = argc > 4 ? std::atoi(argv[4]) : 2000;
  std::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return 1;
  child = fork();
  if (child == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]), close(in[1]), close(out[0]), close(out[1]);
    execl(argv[1], argv[1], static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  to = in[1];
  from = out[0];

  Send("initialize", {{"adapterID", "orvane"}});
  Until("initialized");
  Send("launch", {{"program", argv[2]}});
  Send("setBreakpoints", {{"source", {{"path", argv[2]}}}, {"breakpoints", {{{"line", line}}}}});
  const auto t0 = Clock::now();
  Send("configurationDone");
  const json stop = Until("stopped");
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  if (stop["body"]["reason"] != "breakpoint") {
    std::cerr << "orvane-bench-dap: stopped for " << stop["body"]["reason"] << "\n";
    return 1;
  }
  Send("evaluate", {{"expression", "T-states"}, {"context", "watch"}});
  json t;
  do t = Read();
  while (t["type"] != "response");
  std::printf("continue_seconds %.3f s\n", seconds);
  std::printf("continue_tstates %s T-states\n", t["body"]["result"].get<std::string>().c_str());
  std::printf("rss_kb %ld kB\n", StatusKb("VmRSS:"));
  std::printf("peak_rss_kb %ld kB\n", StatusKb("VmHWM:"));

  for (const char* kind : {"stepBack", "stepIn"}) {
    std::vector<double> ms;
    for (int i = 0; i < steps; ++i) {
      const auto s0 = Clock::now();
      Send(kind, {{"threadId", 1}});
      Until("stopped");
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - s0).count());
    }
    std::printf("%s_median %.3f ms\n", kind, Percentile(ms, 0.5));
    std::printf("%s_p95 %.3f ms\n", kind, Percentile(ms, 0.95));
  }
  std::printf("rss_after_steps_kb %ld kB\n", StatusKb("VmRSS:"));

  // How far back the history reaches: reverse continue without a
  // breakpoint on the way stops at the oldest recorded instruction.
  auto tstates = [] {
    Send("evaluate", {{"expression", "T-states"}, {"context", "watch"}});
    json a;
    do a = Read();
    while (a["type"] != "response");
    return std::stoull(a["body"]["result"].get<std::string>());
  };
  const uint64_t newest = tstates();
  const auto r0 = Clock::now();
  Send("reverseContinue", {{"threadId", 1}});
  Until("stopped");
  const double back = std::chrono::duration<double>(Clock::now() - r0).count();
  std::printf("history_tstates %llu T-states\n", static_cast<unsigned long long>(newest - tstates()));
  std::printf("reverse_seconds %.3f s\n", back);
  std::printf("rss_after_reverse_kb %ld kB\n", StatusKb("VmRSS:"));
  std::printf("peak_rss_end_kb %ld kB\n", StatusKb("VmHWM:"));
  Send("disconnect");
  close(to);
  int status = 0;
  waitpid(child, &status, 0);
  return 0;
}
