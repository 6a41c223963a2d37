// Feeds arbitrary bytes to the language server's message reader, in pieces
// whose sizes come from the input, and hands every frame to a server. The
// frames must be the same as from the bytes fed whole, and every message the
// server sends must frame. With the first byte odd, the bytes follow an
// initialize and an open document, so requests reach the handlers.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/server.h"
#include "jsonrpc/transport.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

std::string Framed(std::string_view body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

bool SameFrames(const std::vector<orvane::jsonrpc::Frame>& a, const std::vector<orvane::jsonrpc::Frame>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].body != b[i].body || a[i].error != b[i].error) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvane::lsp;
  using orvane::jsonrpc::Frame;
  using orvane::jsonrpc::FrameMessage;
  using orvane::jsonrpc::MessageReader;
  if (size < 2) return 0;
  const size_t piece = 1 + data[0] % 61;
  std::string bytes;
  if (data[1] & 1) {
    bytes += Framed(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"capabilities":{}}})");
    bytes += Framed(R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///f.z80",)"
                    R"("version":1,"text":"X EQU 5\nL1: LD A,(IX+X) ; c\n JP NZ,L1\n DS 'HI'\n END L1\n"}}})");
  }
  bytes.append(reinterpret_cast<const char*>(data) + 2, size - 2);

  MessageReader whole, pieces;
  whole.Feed(bytes);
  std::vector<Frame> a, b;
  while (auto f = whole.Next()) a.push_back(std::move(*f));
  for (size_t at = 0; at < bytes.size(); at += piece) {
    pieces.Feed(std::string_view(bytes).substr(at, piece));
    while (auto f = pieces.Next()) b.push_back(std::move(*f));
  }
  Check(SameFrames(a, b));
  Check(whole.Pending() == pieces.Pending());

  size_t sent = 0;
  Server server([&](const json& m) {
    Check(!FrameMessage(m).empty());
    ++sent;
  });
  const auto t0 = Server::Clock::time_point{};
  // One frame at a time, then all at once: two ways a batch can arrive.
  for (const Frame& f : a) server.HandleFrames({f}, t0);
  server.Tick(t0 + std::chrono::hours(1));
  Check(!server.NextDeadline() || server.Exited());
  Server batch([&](const json& m) { Check(!FrameMessage(m).empty()); });
  batch.HandleFrames(a, t0);
  batch.Tick(t0 + std::chrono::hours(1));
  return 0;
}
