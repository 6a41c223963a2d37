// The adapter's helpers against independent oracles: base64 against the
// RFC 4648 test vectors, numbers in every form a user types them, and the
// envelope's refusals.
#include <gtest/gtest.h>

#include "dap/adapter.h"
#include "dap/protocol.h"
#include "row_file.h"

namespace orvane::dap {
namespace {

// The rows of units.txt of one kind, each without its kind.
std::vector<std::vector<std::string>> Table(const std::string& kind) { return rows::Table(UNIT_ROWS, kind); }

TEST(DapBase64, RfcVectorsBothWays) {
  for (const auto& r : Table("base64")) {
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>(r[0].data()), r[0].size()), r[1]) << r[0];
    const auto back = Base64Decode(r[1]);
    ASSERT_TRUE(back) << r[1];
    EXPECT_EQ(std::string(back->begin(), back->end()), r[0]);
  }
}

TEST(DapBase64, EveryByteSurvives) {
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(255 - i);
  EXPECT_EQ(Base64Decode(Base64Encode(all.data(), all.size())), all);
}

TEST(DapBase64, RefusesWhatIsNotBase64) {
  for (const auto& r : Table("bad64")) EXPECT_FALSE(Base64Decode(r.at(0))) << r[0];
  EXPECT_TRUE(Base64Decode("Zm9v\r\nYmFy"));  // line ends are skipped
}

TEST(DapNumbers, TheFormsAUserTypes) {
  for (const auto& r : Table("number")) {
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(ParseNumber(r[0]), r[1] == "none" ? std::nullopt : std::optional<int64_t>(std::stoll(r[1]))) << r[0];
  }
  EXPECT_EQ(ParseAddress("65535"), 0xFFFF);
  EXPECT_FALSE(ParseAddress("65536"));
  EXPECT_FALSE(ParseAddress("-1"));
  EXPECT_EQ(AddressReference(0x1A), "0x001A");
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

TEST(DapEnvelope, RequestsAndRefusals) {
  for (const auto& r : Table("envelope")) {
    ASSERT_EQ(r.size(), 3u);
    std::string error;
    int64_t seq = -1;
    const auto req = ParseRequest(r[0], error, seq);
    EXPECT_EQ(error, r[1]) << r[0];
    EXPECT_EQ(req.has_value(), r[1].empty()) << r[0];
    EXPECT_EQ(seq, std::stoll(r[2])) << r[0];
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
