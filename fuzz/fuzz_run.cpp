// Runs the whole input as a source file through AssembleFile, once for a CP/M
// image and once for Intel HEX, with files held in memory, and checks the
// object files:
//  - the CP/M image holds exactly the object bytes the run sent;
//  - every Intel HEX line is a well-formed record with a valid checksum, data
//    records carry 16 bytes, and the last line is the one and only end
//    record (type 01);
//  - the listing box shows as many lines as the listing file, less its
//    header;
//  - both runs read the same lines and send the same number of object bytes
//    (a statement's length never depends on the origin);
//  - a third run, CP/M again, repeats the first exactly: every run starts
//    afresh whatever the one before left behind.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "app/file_ops.h"
#include "app/run.h"
#include "app/window_ops.h"
#include "encoder/assembler.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

class MemoryFileSystem : public orvane::FileSystem {
 public:
  std::map<std::string, std::string> files;

  std::unique_ptr<orvane::LineSource> OpenRead(const std::string& path) override {
    auto it = files.find(path);
    if (it == files.end()) throw orvane::FileError(path, "no such file");
    return std::make_unique<orvane::MemoryLineSource>(it->second);
  }
  std::unique_ptr<orvane::CommitSink> Create(const std::string& path) override {
    return std::make_unique<Sink>(*this, path);
  }
  bool SameFile(const std::string& a, const std::string& b) override { return a == b; }

 private:
  // Written into place only on Commit, like the real files.
  class Sink : public orvane::CommitSink {
   public:
    Sink(MemoryFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
    void Write(std::string_view bytes) override { data_.append(bytes); }
    void Commit() override { fs_.files[path_] = std::move(data_); }

   private:
    MemoryFileSystem& fs_;
    std::string path_;
    std::string data_;
  };
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Checks every record of an Intel HEX file.
void CheckHexFile(std::string_view file) {
  Check(file.size() >= 2 && file.substr(file.size() - 2) == "\r\n");
  int endRecords = 0;
  bool lastWasEnd = false;
  while (!file.empty()) {
    const size_t eol = file.find("\r\n");
    Check(eol != std::string_view::npos);
    std::string_view rec = file.substr(0, eol);
    file.remove_prefix(eol + 2);
    Check(rec.size() >= 11 && rec[0] == ':' && rec.size() % 2 == 1);
    unsigned sum = 0;
    for (size_t i = 1; i < rec.size(); i += 2) {
      const int hi = HexValue(rec[i]), lo = HexValue(rec[i + 1]);
      Check(hi >= 0 && lo >= 0);
      sum += static_cast<unsigned>(hi * 16 + lo);
    }
    Check(sum % 256 == 0);
    const int length = HexValue(rec[1]) * 16 + HexValue(rec[2]);
    Check(rec.size() == 11 + 2 * static_cast<size_t>(length));
    const int type = HexValue(rec[7]) * 16 + HexValue(rec[8]);
    Check(type == 0 || type == 1);
    // Data records always carry 16 bytes, filled up with 00.
    if (type == 0) Check(length == 16);
    lastWasEnd = type == 1;
    if (lastWasEnd) {
      ++endRecords;
      Check(length == 0);
    }
  }
  Check(endRecords == 1 && lastWasEnd);
}

size_t CountLines(std::string_view text) {
  size_t n = 0;
  for (size_t i = 0; (i = text.find("\r\n", i)) != std::string_view::npos; i += 2) ++n;
  return n;
}

struct Outcome {
  orvane::RunResult result;
  std::string object;
  std::string listing;
};

Outcome Run(const std::string& source, bool hex, bool screen) {
  MemoryFileSystem fs;
  fs.files["prog.z80"] = source;
  // One window and one assembler for the whole session: every run must start
  // afresh whatever the previous one left, and building the 16384-slot symbol
  // table for every input would cost more than assembling it.
  static orvane::HeadlessWindow window;
  static orvane::Assembler as(&window);
  window = orvane::HeadlessWindow();
  window.source = "prog.z80";
  window.list = "prog.LST";
  window.object = hex ? "prog.HEX" : "prog.com";
  window.intelHex = hex;
  window.listingChecked = screen;
  Outcome out;
  out.result = orvane::AssembleFile(as, window, fs);
  Check(out.result.completed);
  out.object = fs.files[hex ? "prog.HEX" : "prog.com"];
  out.listing = fs.files["prog.LST"];
  Check(out.listing.compare(0, 10, "prog.z80\r\n") == 0);
  // The box gets the same entries as the file, without the header line.
  if (screen) Check(CountLines(window.listing) + 1 == CountLines(out.listing));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source(reinterpret_cast<const char*>(data), size);
  const bool screen = size > 0 && (data[0] & 1);
  const Outcome cpm = Run(source, false, screen);
  Check(cpm.object.size() == cpm.result.objectBytes);
  const Outcome hex = Run(source, true, !screen);
  CheckHexFile(hex.object);
  Check(hex.result.lines == cpm.result.lines);
  Check(hex.result.objectBytes == cpm.result.objectBytes);
  // The same assembler again: nothing of the earlier runs may show.
  const Outcome again = Run(source, false, !screen);
  Check(again.object == cpm.object && again.listing == cpm.listing);
  return 0;
}
