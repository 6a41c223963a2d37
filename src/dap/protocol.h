// The envelope of the Debug Adapter Protocol: requests read from a frame's
// body, responses and events with their sequence numbers, and the encodings
// the protocol carries bytes in. The framing itself (Content-Length headers)
// is jsonrpc's reader, which the language server uses too.
#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <functional>

#include <nlohmann/json.hpp>

namespace orvane::dap {

using json = nlohmann::json;

struct Request {
  int64_t seq = 0;
  std::string command;
  json arguments = json::object();
};

// Reads one message body as a request. On failure, error says why; seq is
// then the request's seq when it is a request with one (so it can be
// answered), or 0.
std::optional<Request> ParseRequest(std::string_view body, std::string& error, int64_t& seq);

// Writes messages with the adapter's own sequence numbers. Send may be called
// from any thread; messages go out whole and in the order of their numbers.
class Outbox {
 public:
  explicit Outbox(std::function<void(const json&)> write) : write_(std::move(write)) {}
  void Respond(const Request& r, json body = json::object());
  void Fail(const Request& r, std::string_view message);
  void Fail(int64_t requestSeq, std::string_view command, std::string_view message);
  void Event(std::string_view event, json body = json::object());

 private:
  void Send(json message);
  std::function<void(const json&)> write_;
  std::mutex mutex_;
  int64_t seq_ = 0;
};

// Console bytes as protocol text: one character per byte, 00H-7FH as
// themselves and 80H-FFH as U+0080-U+00FF, so nothing is lost or merged.
std::string BytesAsText(std::string_view bytes);
// Standard base64, as readMemory and writeMemory carry memory.
std::string Base64Encode(const uint8_t* bytes, size_t n);
// Empty when the text is not base64 (blanks and line ends are skipped).
std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text);

// "0100H (256)" for a word, "3FH (63)" for a byte.
std::string WordValue(uint16_t v);
std::string ByteValue(uint8_t v);

// A number as a user types it: decimal, the dialect's &H and &O forms, a
// hex number ending in H (that starts with a digit), or 0x and hex digits.
// Empty for any other text.
std::optional<int64_t> ParseNumber(std::string_view text);
// A memory reference as the protocol carries it ("0x0100", or any number
// form above).
std::optional<uint16_t> ParseAddress(std::string_view text);
std::string AddressReference(uint16_t address);  // "0x0100"

}  // namespace orvane::dap
