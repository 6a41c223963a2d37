#include "output/formats.h"

#include <bitset>
#include <cstring>

#include "front/numbers.h"
#include "front/diagnostics.h"
#include "output/intel_hex.h"

namespace orvane {

namespace {

std::string Hex4H(int64_t v) {
  std::string s;
  AppendHex4(s, static_cast<uint32_t>(v));
  return s + "H";
}

// "1 byte", "3 bytes".
std::string CountBytes(int64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// The CP/M image: the object bytes one after the other, whatever their
// addresses, loaded from 0100H.
// The bytes one after the other, gathered and handed to the file in large
// pieces (a statement has a few).
class CpmImageWriter : public ObjectWriter {
 public:
  explicit CpmImageWriter(OutputSink& file) : file_(file) {}
  void Bytes(int32_t /*address*/, std::span<const uint8_t> bytes) override {
    const size_t n = bytes.size();
    char* const to = pending_.get() + used_;
    const uint8_t* const from = bytes.data();
    // An instruction's one to four bytes: two copies of two, which may
    // overlap, or one byte.
    if (n - 1 < 4 && used_ <= kPending - 4) {
      if (n == 1) {
        to[0] = static_cast<char>(from[0]);
      } else {
        std::memcpy(to, from, 2);
        std::memcpy(to + n - 2, from + n - 2, 2);
      }
      used_ += n;
      return;
    }
    Many(bytes);
  }
  void Finish() override { Flush(); }

 private:
  void Many(std::span<const uint8_t> bytes) {
    if (bytes.size() > kPending - used_) {
      Flush();
      if (bytes.size() > kPending) {
        file_.Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return;
      }
    }
    // Through locals: a store of a char may alias used_ and the span, which
    // would be read again after every byte.
    char* const to = pending_.get() + used_;
    const uint8_t* const from = bytes.data();
    const size_t n = bytes.size();
    for (size_t i = 0; i < n; ++i) to[i] = static_cast<char>(from[i]);
    used_ += n;
  }
  static constexpr size_t kPending = size_t{1} << 16;
  void Flush() {
    if (used_ != 0) file_.Write(std::string_view(pending_.get(), used_));
    used_ = 0;
  }
  OutputSink& file_;
  std::unique_ptr<char[]> pending_ = std::make_unique_for_overwrite<char[]>(kPending);
  size_t used_ = 0;
};

class IntelHexObjectWriter : public ObjectWriter {
 public:
  explicit IntelHexObjectWriter(OutputSink& file) : hex_(file) {}
  void Bytes(int32_t address, std::span<const uint8_t> bytes) override { hex_.IntelHexAdd(address, bytes); }
  void End(int32_t start) override { hex_.End(start); }
  void Finish() override { hex_.Finish(); }

 private:
  IntelHexWriter hex_;
};

// An image has no gaps, so an ORG anywhere but to where the image has got to
// moves the listing's addresses away from where the bytes will be.
class CpmGapCheck : public PlacementCheck {
 public:
  std::optional<PlacementWarning> Org(int32_t pc) override {
    const int64_t loads = 0x100 + static_cast<int64_t>(emitted_);
    if (pc == loads) return std::nullopt;
    const int64_t off = pc > loads ? pc - loads : loads - pc;
    return PlacementWarning{warn::kCpmOrgGap, "a CP/M image has no gaps: what follows loads at " + Hex4H(loads) +
                                                  ", not " + Hex4H(pc) + ", so its addresses are off by " + CountBytes(off)};
  }
  std::optional<PlacementWarning> Bytes(int32_t /*address*/, size_t count) override {
    emitted_ += count;
    return std::nullopt;
  }

 private:
  uint64_t emitted_ = 0;
};

// Bytes written over earlier ones: a loader keeps what comes last. Said once
// for each stretch after an ORG, since the statements after the first one in
// an overlapping stretch would only repeat it.
class HexOverlapCheck : public PlacementCheck {
 public:
  std::optional<PlacementWarning> Org(int32_t /*pc*/) override {
    warned_ = false;
    return std::nullopt;
  }
  std::optional<PlacementWarning> Bytes(int32_t address, size_t count) override {
    size_t again = 0;
    int64_t first = -1;
    for (size_t i = 0; i < count; ++i) {
      const size_t a = (static_cast<size_t>(address) + i) & 0xFFFF;
      if (written_[a] && again++ == 0) first = static_cast<int64_t>(a);
      written_.set(a);
    }
    if (again == 0 || warned_) return std::nullopt;
    warned_ = true;
    return PlacementWarning{warn::kHexOverlap, CountBytes(static_cast<int64_t>(again)) + " from " + Hex4H(first) +
                                                   (again == 1 ? " was" : " were") +
                                                   " written before; a loader keeps what comes last in the file"};
  }

 private:
  std::bitset<65536> written_;
  bool warned_ = false;
};

template <typename T>
std::unique_ptr<ObjectWriter> MakeWriter(OutputSink& file) {
  return std::make_unique<T>(file);
}
template <typename T>
std::unique_ptr<PlacementCheck> MakeCheck() {
  return std::make_unique<T>();
}

// "* 0100" for an END with a start address, "0000" for one without.
void ShowCpmEnd(bool hasOperand, int32_t start, std::string& out) {
  if (!hasOperand) {
    out.append("0000");
    return;
  }
  out.append("* ");
  AppendHex4(out, static_cast<uint32_t>(start));
}

// "@ " and the address the end record takes.
void ShowHexEnd(bool /*hasOperand*/, int32_t start, std::string& out) {
  out.append("@ ");
  AppendHex4(out, static_cast<uint32_t>(start));
}

}  // namespace

const ObjectFormat kIntelHexFormat{
    {0, false, 2, MakeCheck<HexOverlapCheck>}, "hex", ".HEX", ShowHexEnd, MakeWriter<IntelHexObjectWriter>};
const ObjectFormat kCpmFormat{
    {256, true, 1, MakeCheck<CpmGapCheck>}, "cpm", ".com", ShowCpmEnd, MakeWriter<CpmImageWriter>};

const ObjectFormat* FindFormat(std::string_view name) {
  for (const ObjectFormat* f : {&kIntelHexFormat, &kCpmFormat}) {
    if (f->name == name) return f;
  }
  return nullptr;
}

}  // namespace orvane
