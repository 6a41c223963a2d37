#include "dap/protocol.h"

#include "front/numbers.h"

namespace orvane::dap {

std::optional<Request> ParseRequest(std::string_view body, std::string& error, int64_t& seq) {
  seq = 0;
  json j = json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) {
    error = "malformed JSON";
    return std::nullopt;
  }
  if (!j.is_object()) {
    error = "a message must be a JSON object";
    return std::nullopt;
  }
  const auto s = j.find("seq");
  const auto type = j.find("type");
  if (type == j.end() || !type->is_string()) {
    error = "a message without a type";
    return std::nullopt;
  }
  if (*type != "request") {
    // Responses to reverse requests are not expected: the adapter sends none.
    error = "a message of type '" + type->get<std::string>() + "' where a request was expected";
    return std::nullopt;
  }
  if (s == j.end() || !s->is_number_integer()) {
    error = "a request without a seq number";
    return std::nullopt;
  }
  seq = s->get<int64_t>();
  const auto command = j.find("command");
  if (command == j.end() || !command->is_string()) {
    error = "a request without a command";
    return std::nullopt;
  }
  Request r;
  r.seq = seq;
  r.command = command->get<std::string>();
  if (const auto args = j.find("arguments"); args != j.end() && !args->is_null()) {
    if (!args->is_object()) {
      error = "the arguments of '" + r.command + "' are not an object";
      return std::nullopt;
    }
    r.arguments = std::move(*args);
  }
  return r;
}

void Outbox::Respond(const Request& r, json body) {
  Send(json{{"type", "response"}, {"request_seq", r.seq}, {"success", true}, {"command", r.command},
            {"body", std::move(body)}});
}

void Outbox::Fail(const Request& r, std::string_view message) { Fail(r.seq, r.command, message); }

void Outbox::Fail(int64_t requestSeq, std::string_view command, std::string_view message) {
  // The text goes in message, which every client shows, and as the error's
  // format, which some show instead.
  Send(json{{"type", "response"},
            {"request_seq", requestSeq},
            {"success", false},
            {"command", std::string(command)},
            {"message", std::string(message)},
            {"body", {{"error", {{"id", 1}, {"format", std::string(message)}, {"showUser", true}}}}}});
}

void Outbox::Event(std::string_view event, json body) {
  Send(json{{"type", "event"}, {"event", std::string(event)}, {"body", std::move(body)}});
}

void Outbox::Send(json message) {
  std::lock_guard lock(mutex_);
  message["seq"] = ++seq_;
  write_(message);
}

std::string BytesAsText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

namespace {
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string Base64Encode(const uint8_t* bytes, size_t n) {
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  for (size_t i = 0; i < n; i += 3) {
    const uint32_t v = uint32_t{bytes[i]} << 16 | (i + 1 < n ? uint32_t{bytes[i + 1]} << 8 : 0) |
                       (i + 2 < n ? bytes[i + 2] : 0);
    out.push_back(kBase64[v >> 18 & 63]);
    out.push_back(kBase64[v >> 12 & 63]);
    out.push_back(i + 1 < n ? kBase64[v >> 6 & 63] : '=');
    out.push_back(i + 2 < n ? kBase64[v & 63] : '=');
  }
  return out;
}

std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text) {
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int bits = 0, pad = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      ++pad;
      continue;
    }
    if (pad > 0) return std::nullopt;  // data after the padding
    const char* at = std::char_traits<char>::find(kBase64, 64, c);
    if (!at) return std::nullopt;
    acc = acc << 6 | static_cast<uint32_t>(at - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> bits));
      acc &= (1u << bits) - 1;
    }
  }
  if (pad > 2 || bits >= 6) return std::nullopt;
  return out;
}

std::string WordValue(uint16_t v) {
  std::string s;
  AppendHex4(s, v);
  return s + "H (" + std::to_string(v) + ")";
}

std::string ByteValue(uint8_t v) {
  std::string s;
  AppendHex2(s, v);
  return s + "H (" + std::to_string(v) + ")";
}

std::optional<int64_t> ParseNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  auto hexDigits = [](std::string_view d) -> std::optional<int64_t> {
    if (d.empty() || d.size() > 8) return std::nullopt;
    int64_t v = 0;
    for (char c : d) {
      const int h = HexDigitValue(c);
      if (h < 0) return std::nullopt;
      v = v * 16 + h;
    }
    return v;
  };
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return hexDigits(text.substr(2));
  if (text.size() > 1 && (text.back() == 'H' || text.back() == 'h') && text[0] >= '0' && text[0] <= '9')
    return hexDigits(text.substr(0, text.size() - 1));
  // The dialect's own forms; fractions and exponents are no address.
  if (text.find_first_of(".eE") != std::string_view::npos && text[0] != '&') return std::nullopt;
  std::string s(text);
  if (s.size() > 1 && s[0] == '&') s[1] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[1])));
  if (const auto v = StrictNumber(s)) return *v;
  return std::nullopt;
}

std::optional<uint16_t> ParseAddress(std::string_view text) {
  const auto v = ParseNumber(text);
  if (!v || *v < 0 || *v > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(*v);
}

std::string AddressReference(uint16_t address) {
  std::string s = "0x";
  AppendHex4(s, address);
  return s;
}

}  // namespace orvane::dap
