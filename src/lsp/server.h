// The language server proper: LSP requests and notifications to handlers,
// the open documents, the settings, and when each document is assembled.
// The server does no input or output itself: frames come in through
// HandleFrames, messages go out through the send function, and time is
// whatever the caller says it is, so the loop around it decides all waiting.
#pragma once
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "lsp/features.h"
#include "lsp/incremental.h"
#include "jsonrpc/transport.h"

namespace orvane::lsp {

class Server {
 public:
  using Clock = std::chrono::steady_clock;
  using Send = std::function<void(const json&)>;

  explicit Server(Send send);

  // Handles frames read together, in order. A $/cancelRequest among them
  // cancels a request that is still waiting among them (it is answered
  // RequestCancelled); a request already answered is not affected.
  void HandleFrames(std::vector<jsonrpc::Frame> frames, Clock::time_point now);
  // Assembles and publishes every changed document whose wait is over.
  void Tick(Clock::time_point now);
  // When Tick next has something to do.
  std::optional<Clock::time_point> NextDeadline() const;

  bool Exited() const { return exited_; }
  // 0 after shutdown then exit; 1 for exit without shutdown.
  int ExitCode() const { return shutdown_ ? 0 : 1; }
  bool ShutDown() const { return shutdown_; }

 private:
  struct Open {
    OpenDocument o;
    bool dirty = false;  // changed since diagnostics were last published
    bool stale = true;   // changed in a way the assembler reads since it last ran
    bool whole = true;   // changed beyond single lines: the whole text is assembled again
    std::vector<int64_t> edited;  // else the lines changed, to assemble again one by one
    Incremental incremental;
    Clock::time_point due;
  };
  struct Request {
    const json& id;
    const json& params;
  };

  void Handle(jsonrpc::Incoming& in, const std::set<std::string>& cancelled, Clock::time_point now);
  void HandleNotification(jsonrpc::Incoming& in, Clock::time_point now);
  json HandleRequest(const std::string& method, const json& params);

  json Initialize(const json& params);
  void ApplySettings(const json& settings);
  Open& Document(const json& params);
  void Assemble(Open& doc);
  void Publish(Open& doc);
  void FlushChanged();
  void Log(int type, const std::string& text);

  Send send_;
  std::map<std::string, std::unique_ptr<Open>> docs_;
  AssembleOptions options_;
  bool relatedInformation_ = false;
  bool inlayHints_ = false;  // the T-states at the end of each line (setting "inlayHints")
  std::chrono::milliseconds debounce_{5};
  bool initialized_ = false, shutdown_ = false, exited_ = false;
};

// Thrown by a handler for an answer other than a result.
struct RequestError {
  int code;
  std::string message;
};

}  // namespace orvane::lsp
