// The transport the language server and the debug adapter share: messages
// framed by a Content-Length header, read from a byte stream, and the
// JSON-RPC envelope around them (ids, methods, error answers) that the
// language server speaks. Nothing here knows a language or debug request.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvane::jsonrpc {

using json = nlohmann::json;

// JSON-RPC and LSP error codes.
namespace rpc {
constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;
constexpr int kServerNotInitialized = -32002;
constexpr int kRequestFailed = -32803;
constexpr int kRequestCancelled = -32800;
}  // namespace rpc

// One thing the reader found in the stream: a message body, or a header it
// could not read (then `error` says why and the bytes up to the end of that
// header are dropped).
struct Frame {
  std::string body;
  std::string error;
  bool ok() const { return error.empty(); }
};

// Cuts a byte stream into framed messages. Bytes are fed as they arrive, in
// pieces of any size; Next hands out each complete frame once. A header is
// lines of "Name: value" ended by an empty line; only Content-Length is read
// (Content-Type is allowed and ignored). A body longer than kMaxBody is
// skipped without being kept.
class MessageReader {
 public:
  static constexpr uint64_t kMaxBody = uint64_t{1} << 30;
  static constexpr size_t kMaxHeader = 64 * 1024;

  void Feed(std::string_view bytes);
  std::optional<Frame> Next();
  // Bytes held that do not yet make a frame.
  size_t Pending() const { return buffer_.size() - start_; }

 private:
  std::string buffer_;
  size_t start_ = 0;       // first byte not yet consumed
  uint64_t skipping_ = 0;  // bytes of an oversized body still to drop
};

// The header and body of one message as written to the stream.
std::string FrameMessage(const json& message);

// Writes all of bytes to fd, going on after a signal; false when the output
// is gone.
bool WriteAll(int fd, std::string_view bytes);

// A message as JSON-RPC sees it.
struct Incoming {
  enum Kind { kRequest, kNotification, kResponse } kind = kNotification;
  json id;  // requests and responses
  std::string method;
  json params;
};

// An answer the envelope itself gives: the id it is for (null when none could
// be read), the code and the text.
struct EnvelopeError {
  json id;
  int code = 0;
  std::string message;
};

// Reads one message body. On failure the error says what to answer; an error
// with no id readable from a notification is only logged by the caller.
struct ParsedMessage {
  std::optional<Incoming> message;
  std::optional<EnvelopeError> error;
};
ParsedMessage ParseMessage(std::string_view body);

json ResultResponse(const json& id, json result);
json ErrorResponse(const json& id, int code, std::string_view message);
json Notification(std::string_view method, json params);

}  // namespace orvane::jsonrpc
