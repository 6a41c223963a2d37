// The adapter's helpers against independent oracles: base64 against the
// RFC 4648 test vectors, numbers in every form a user types them, and the
// envelope's refusals.
#include <gtest/gtest.h>

#include "dap/adapter.h"
#include "dap/protocol.h"

namespace orvane::dap {
namespace {

struct Base64Row {
  std::string bytes, text;
};

TEST(DapBase64, RfcVectorsBothWays) {
  // RFC 4648, section 10.
  const Base64Row rows[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                            {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const Base64Row& r : rows) {
    EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>(r.bytes.data()), r.bytes.size()), r.text) << r.bytes;
    const auto back = Base64Decode(r.text);
    ASSERT_TRUE(back) << r.text;
    EXPECT_EQ(std::string(back->begin(), back->end()), r.bytes);
  }
}

TEST(DapBase64, EveryByteSurvives) {
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(255 - i);
  EXPECT_EQ(Base64Decode(Base64Encode(all.data(), all.size())), all);
}

TEST(DapBase64, RefusesWhatIsNotBase64) {
  for (const char* bad : {"Zg=a", "Z", "Zm9v!", "Zg==="}) EXPECT_FALSE(Base64Decode(bad)) << bad;
  EXPECT_TRUE(Base64Decode("Zm9v\r\nYmFy"));  // line ends are skipped
}

struct NumberRow {
  const char* text;
  std::optional<int64_t> value;
};

TEST(DapNumbers, TheFormsAUserTypes) {
  const NumberRow rows[] = {
      {"512", 512},       {"&H0200", 512},  {"&h200", 512},   {"&O1000", 512}, {"0200H", 512},
      {"0ffh", 255},      {"0x200", 512},   {" 7 ", 7},       {"FFH", {}},     {"1.5", {}},
      {"", {}},           {"HL", {}},       {"&HG", {}},      {"0x", {}},      {"-1", -1},
  };
  for (const NumberRow& r : rows) EXPECT_EQ(ParseNumber(r.text), r.value) << r.text;
  EXPECT_EQ(ParseAddress("65535"), 0xFFFF);
  EXPECT_FALSE(ParseAddress("65536"));
  EXPECT_FALSE(ParseAddress("-1"));
  EXPECT_EQ(AddressReference(0x1A), "0x001A");
}

TEST(DapValues, HexThenDecimal) {
  EXPECT_EQ(WordValue(0x0100), "0100H (256)");
  EXPECT_EQ(WordValue(0xFFFF), "FFFFH (65535)");
  EXPECT_EQ(ByteValue(0x3F), "3FH (63)");
  EXPECT_EQ(ByteValue(0), "00H (0)");
}

TEST(DapText, EachConsoleByteIsOneCharacter) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::string text = BytesAsText(all);
  // Decoded as UTF-8, the text gives back the bytes one for one.
  std::string back;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      back.push_back(static_cast<char>(c));
    } else {
      ASSERT_LT(i + 1, text.size());
      back.push_back(static_cast<char>((c & 0x1F) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3F)));
      ++i;
    }
  }
  EXPECT_EQ(back, all);
  EXPECT_NO_THROW(json(text).dump());  // valid UTF-8, as JSON must be
}

struct EnvelopeRow {
  const char* body;
  const char* error;  // "" when it is a request
  int64_t seq;
};

TEST(DapEnvelope, RequestsAndRefusals) {
  const EnvelopeRow rows[] = {
      {R"({"seq":3,"type":"request","command":"next","arguments":{"threadId":1}})", "", 3},
      {R"({"seq":4,"type":"request","command":"threads"})", "", 4},
      {R"({"seq":1,)", "malformed JSON", 0},
      {R"([1])", "a message must be a JSON object", 0},
      {R"({"seq":2,"command":"x"})", "a message without a type", 0},
      {R"({"seq":2,"type":"response","command":"x"})", "a message of type 'response' where a request was expected", 0},
      {R"({"type":"request","command":"x"})", "a request without a seq number", 0},
      {R"({"seq":5,"type":"request"})", "a request without a command", 5},
      {R"({"seq":6,"type":"request","command":"x","arguments":[1]})", "the arguments of 'x' are not an object", 6},
  };
  for (const EnvelopeRow& r : rows) {
    std::string error;
    int64_t seq = -1;
    const auto req = ParseRequest(r.body, error, seq);
    EXPECT_EQ(error, r.error) << r.body;
    EXPECT_EQ(req.has_value(), std::string(r.error).empty()) << r.body;
    EXPECT_EQ(seq, r.seq) << r.body;
  }
}

TEST(DapEnvelope, OutgoingMessagesAreNumberedInOrder) {
  std::vector<json> sent;
  Outbox out([&](const json& m) { sent.push_back(m); });
  Request r{9, "next", json::object()};
  out.Respond(r);
  out.Event("stopped", {{"reason", "step"}});
  out.Fail(r, "no");
  ASSERT_EQ(sent.size(), 3u);
  for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i]["seq"], i + 1);
  EXPECT_EQ(sent[0]["request_seq"], 9);
  EXPECT_EQ(sent[0]["success"], true);
  EXPECT_EQ(sent[2]["success"], false);
  EXPECT_EQ(sent[2]["message"], "no");
}

// The console's state at each point of its input, as the machine asks it:
// orvane-run's console says no key at the end and that the input has ended,
// unless lines typed in the debug console are waited for.
TEST(DapConsole, TheEndOfTheInputIsOrvaneRunsEnd) {
  DebugConsole c;
  EXPECT_FALSE(c.Ready());
  EXPECT_TRUE(c.Ended());
  c.AddInput("x\r\n");
  EXPECT_TRUE(c.Ready());
  EXPECT_FALSE(c.Ended());
  EXPECT_EQ(c.Read(), 'x');
  EXPECT_EQ(c.Read(), '\r');  // CR LF is one CR
  EXPECT_FALSE(c.Ready());
  EXPECT_TRUE(c.Ended());
  EXPECT_EQ(c.Read(), -1);
  c.WaitForInput(true);
  EXPECT_FALSE(c.Ready());
  EXPECT_FALSE(c.Ended());
  c.AddInput("y");
  EXPECT_TRUE(c.Ready());
  EXPECT_EQ(c.Read(), 'y');
}

}  // namespace
}  // namespace orvane::dap
