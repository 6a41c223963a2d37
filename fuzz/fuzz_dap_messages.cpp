// Feeds arbitrary bytes to the debug adapter: framed by the message reader in
// pieces whose sizes come from the input, each frame handed to an adapter
// whose program runs on its worker thread. Requests that name files are
// pointed at one small program (and a bounded run), so nothing outside is
// read. Every message the adapter writes must be a whole protocol message,
// numbered in order, and every request read before the end, up to a
// disconnect, must get exactly one response. With the first byte odd, the
// bytes follow an initialize and a launch, so requests reach a program.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "dap/adapter.h"
#include "jsonrpc/transport.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

const std::string& Program() {
  static const std::string path = [] {
    char dir[] = "/tmp/fuzz_dap.XXXXXX";
    const std::string d = mkdtemp(dir);
    std::ofstream(d + "/p.z80") << " ORG 256\nS: LD B,3\nL: CALL R\n DJNZ L\n LD (C),A\n RET\nR: LD E,66\n"
                                   " LD C,2\n CALL 5\n RET\nC: DB 0\n END S\n";
    return d + "/p.z80";
  }();
  return path;
}

std::string Framed(const orvane::dap::json& j) {
  const std::string body = j.dump();
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A request's file names replaced with the one program; others as they came.
std::string Confined(const std::string& body) {
  using orvane::dap::json;
  json j = json::parse(body, nullptr, false);
  if (!j.is_object() || !j.contains("arguments") || !j["arguments"].is_object()) return body;
  json& a = j["arguments"];
  if (a.contains("program")) a["program"] = Program();
  a.erase("input");
  a.erase("cwd");
  if (j.value("command", "") == "launch") a["maxTstates"] = 200000;
  if (a.contains("source")) a["source"] = {{"path", Program()}};
  return j.dump();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvane;
  using dap::json;
  if (size < 2) return 0;
  const size_t piece = 1 + data[0] % 61;
  std::string bytes;
  if (data[1] & 1) {
    bytes += Framed({{"seq", 1000001}, {"type", "request"}, {"command", "initialize"}});
    bytes += Framed({{"seq", 1000002}, {"type", "request"}, {"command", "launch"},
                     {"arguments", {{"program", Program()}, {"stopOnEntry", (data[1] & 2) != 0}}}});
    bytes += Framed({{"seq", 1000003}, {"type", "request"}, {"command", "configurationDone"}});
  }
  bytes.append(reinterpret_cast<const char*>(data) + 2, size - 2);

  std::mutex mutex;
  std::vector<json> sent;
  {
    dap::Adapter adapter([&](const json& m) {
      Check(!jsonrpc::FrameMessage(m).empty());
      std::lock_guard lock(mutex);
      sent.push_back(m);
    });
    jsonrpc::MessageReader reader;
    std::multiset<int64_t> asked;
    for (size_t at = 0; at < bytes.size() && !adapter.Disconnected(); at += piece) {
      reader.Feed(std::string_view(bytes).substr(at, piece));
      while (auto frame = reader.Next()) {
        if (adapter.Disconnected()) break;
        if (frame->ok()) frame->body = Confined(frame->body);
        std::string error;
        int64_t seq = 0;
        if (frame->ok() && (dap::ParseRequest(frame->body, error, seq) || seq > 0)) asked.insert(seq);
        adapter.Handle(*frame);
      }
    }
    adapter.InputEnded();
    std::lock_guard lock(mutex);
    std::multiset<int64_t> answered;
    for (size_t i = 0; i < sent.size(); ++i) {
      Check(sent[i]["seq"] == static_cast<int64_t>(i + 1));
      const std::string type = sent[i]["type"];
      Check(type == "response" || type == "event");
      if (type == "response") answered.insert(sent[i]["request_seq"].get<int64_t>());
    }
    Check(asked == answered);
  }
  return 0;
}
