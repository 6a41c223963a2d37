#include "jsonrpc/transport.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace orvane::jsonrpc {

namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// The Content-Length of a header block (its lines without the empty one), or
// an error text.
std::optional<uint64_t> ContentLength(std::string_view header, std::string& error) {
  std::optional<uint64_t> length;
  while (!header.empty()) {
    size_t end = header.find("\r\n");
    std::string_view line = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 2);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      error = "header line without a colon";
      return std::nullopt;
    }
    if (!SameNameIgnoringCase(TrimBlanks(line.substr(0, colon)), "Content-Length")) continue;
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (value.empty() || value.size() > 19) {
      error = "Content-Length is not a number";
      return std::nullopt;
    }
    uint64_t n = 0;
    for (char c : value) {
      if (c < '0' || c > '9') {
        error = "Content-Length is not a number";
        return std::nullopt;
      }
      n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (length && *length != n) {
      error = "two different Content-Length fields";
      return std::nullopt;
    }
    length = n;
  }
  if (!length) error = "header without Content-Length";
  return length;
}

int HexDigit(char c) {
  return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// The UTF-16 unit of a \uXXXX escape at body[i] ('\\' at i), or -1.
int EscapedUnit(std::string_view body, size_t i) {
  if (i + 6 > body.size() || body[i] != '\\' || body[i + 1] != 'u') return -1;
  int unit = 0;
  for (size_t k = i + 2; k < i + 6; ++k) {
    const int d = HexDigit(body[k]);
    if (d < 0) return -1;
    unit = unit * 16 + d;
  }
  return unit;
}

// JSON texts from UTF-16 editors may hold a surrogate without its partner
// (\ud800 alone); the parser refuses those, so each becomes \ufffd, the
// replacement character, as the editor's own decoding of it would.
std::string_view MendLoneSurrogates(std::string_view body, std::string& mended) {
  size_t i = body.find("\\u");
  if (i == std::string_view::npos) return body;
  mended.assign(body);
  for (i = 0; i < mended.size(); ++i) {
    if (mended[i] != '\\') continue;
    const int unit = EscapedUnit(mended, i);
    if (unit < 0xD800 || unit > 0xDFFF) {
      ++i;  // an escaped character: never the start of another escape
      continue;
    }
    const int next = EscapedUnit(mended, i + 6);
    if (unit < 0xDC00 && next >= 0xDC00 && next <= 0xDFFF) {
      i += 11;  // a whole pair
      continue;
    }
    mended.replace(i, 6, "\\ufffd");
    i += 5;
  }
  return mended;
}

}  // namespace

void MessageReader::Feed(std::string_view bytes) {
  if (skipping_ != 0) {
    const size_t drop = bytes.size() < skipping_ ? bytes.size() : static_cast<size_t>(skipping_);
    skipping_ -= drop;
    bytes.remove_prefix(drop);
  }
  // Consumed bytes are dropped once they are most of the buffer, so the
  // buffer holds at most about one message and one piece.
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<Frame> MessageReader::Next() {
  // Line ends left between messages are no header.
  while (start_ < buffer_.size() && (buffer_[start_] == '\r' || buffer_[start_] == '\n')) ++start_;
  if (start_ >= buffer_.size()) return std::nullopt;
  const std::string_view rest = std::string_view(buffer_).substr(start_);
  const size_t end = rest.find("\r\n\r\n");
  if (end == std::string_view::npos) {
    if (rest.size() <= kMaxHeader) return std::nullopt;
    // No header ends here: everything held is dropped.
    start_ = buffer_.size();
    return Frame{{}, "header longer than " + std::to_string(kMaxHeader) + " bytes"};
  }
  Frame frame;
  const std::optional<uint64_t> length = ContentLength(rest.substr(0, end), frame.error);
  const size_t bodyAt = start_ + end + 4;
  if (!length) {
    start_ = bodyAt;
    return frame;
  }
  if (*length > kMaxBody) {
    const uint64_t held = buffer_.size() - bodyAt;
    if (held >= *length) {
      start_ = bodyAt + static_cast<size_t>(*length);
    } else {
      start_ = buffer_.size();
      skipping_ = *length - held;
    }
    frame.error = "message of " + std::to_string(*length) + " bytes is too long";
    return frame;
  }
  if (buffer_.size() - bodyAt < *length) return std::nullopt;
  frame.body.assign(buffer_, bodyAt, static_cast<size_t>(*length));
  start_ = bodyAt + static_cast<size_t>(*length);
  // After a long message the buffer does not keep its size.
  if (start_ == buffer_.size() && buffer_.capacity() > (size_t{1} << 20)) {
    std::string().swap(buffer_);
    start_ = 0;
  }
  return frame;
}

std::string FrameMessage(const json& message) {
  const std::string body = message.dump(-1, ' ', false, json::error_handler_t::replace);
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

ParsedMessage ParseMessage(std::string_view body) {
  ParsedMessage out;
  std::string mended;
  json j = json::parse(MendLoneSurrogates(body, mended), nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) {
    out.error = EnvelopeError{nullptr, rpc::kParseError, "malformed JSON"};
    return out;
  }
  if (!j.is_object()) {
    out.error = EnvelopeError{nullptr, rpc::kInvalidRequest, "a message must be a JSON object"};
    return out;
  }
  Incoming in;
  const auto id = j.find("id");
  const bool hasId = id != j.end();
  if (hasId) {
    if (!id->is_string() && !id->is_number_integer() && !id->is_null()) {
      out.error = EnvelopeError{nullptr, rpc::kInvalidRequest, "an id must be a number or a string"};
      return out;
    }
    in.id = *id;
  }
  const auto version = j.find("jsonrpc");
  if (version == j.end() || *version != "2.0") {
    out.error = EnvelopeError{in.id, rpc::kInvalidRequest, "jsonrpc must be \"2.0\""};
    return out;
  }
  const auto method = j.find("method");
  if (method == j.end()) {
    if (hasId && (j.contains("result") || j.contains("error"))) {
      in.kind = Incoming::kResponse;
      out.message = std::move(in);
      return out;
    }
    out.error = EnvelopeError{in.id, rpc::kInvalidRequest, "a message without a method"};
    return out;
  }
  if (!method->is_string()) {
    out.error = EnvelopeError{in.id, rpc::kInvalidRequest, "method must be a string"};
    return out;
  }
  in.method = method->get<std::string>();
  in.kind = hasId ? Incoming::kRequest : Incoming::kNotification;
  if (const auto params = j.find("params"); params != j.end()) {
    if (!params->is_object() && !params->is_array() && !params->is_null()) {
      out.error = EnvelopeError{in.id, rpc::kInvalidRequest, "params must be an object or an array"};
      return out;
    }
    in.params = std::move(*params);
  }
  out.message = std::move(in);
  return out;
}

json ResultResponse(const json& id, json result) {
  return json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

json ErrorResponse(const json& id, int code, std::string_view message) {
  return json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", std::string(message)}}}};
}

json Notification(std::string_view method, json params) {
  return json{{"jsonrpc", "2.0"}, {"method", std::string(method)}, {"params", std::move(params)}};
}

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace orvane::jsonrpc
