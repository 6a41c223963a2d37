// Runs the whole input as a source file through the run, once for a CP/M
// image and once for Intel HEX, with real files in a temporary folder, and
// checks the object files:
//  - the CP/M image holds exactly the object bytes the run sent;
//  - the Intel HEX file keeps the writer's rules (tests/support/hex_rules.h):
//    well-formed records, 16 bytes a record but for the one that reaches
//    FFFFH, one end record last, and the object bytes the run sent, in
//    order, each at its address;
//  - the listing box shows as many lines as the listing file, less its
//    header;
//  - both runs read the same lines and send the same number of object bytes
//    (a statement's length never depends on the origin);
//  - a third run, CP/M again, repeats the first exactly: every run starts
//    afresh whatever the one before left behind;
//  - a run on the text in memory with no outputs touches no file and gives
//    the same counts and the same box as the run from the file.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "driver/file_ops.h"
#include "driver/run.h"
#include "support/hex_rules.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
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
  orvane::hex_rules::Sent sent;
};

// The run's real files, in a folder of this process, removed at its exit.
char folder[] = "/tmp/orvane-fuzz-run-XXXXXX";
void RemoveFolder() { std::filesystem::remove_all(folder); }
const std::string& Folder() {
  static const std::string dir = [] {
    Check(::mkdtemp(folder) != nullptr && std::atexit(RemoveFolder) == 0);
    return std::string(folder) + "/";
  }();
  return dir;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A run without outputs on text in memory must not touch the disk at all.
struct NoDisk : orvane::FileSystem {
  std::unique_ptr<orvane::LineSource> OpenRead(const std::string&) override { __builtin_trap(); }
  std::unique_ptr<orvane::CommitSink> Create(const std::string&) override { __builtin_trap(); }
  bool NamesSource(const std::string&, const std::string&) override { __builtin_trap(); }
  bool SameOutput(const std::string&, const std::string&) override { __builtin_trap(); }
};

// Gathers the listing box and the object bytes as they are sent.
struct BoxObserver : orvane::RunObserver {
  std::string box;
  orvane::hex_rules::Sent sent;
  void ListingBox(std::string_view text) override { box.append(text); }
  void StatementDone(const orvane::Statement& s) override {
    if (s.toObject) sent.Bytes(s.address, s.bytes.data(), s.bytes.size());
    if (s.isEnd) sent.End();
  }
};

Outcome Run(const std::string& text, bool hex, bool screen) {
  std::ofstream(Folder() + "prog.z80", std::ios::binary) << text;
  const std::string source = Folder() + "prog.z80", list = Folder() + "prog.LST", object = Folder() + "prog.obj";
  orvane::RunRequest request;
  request.path = source;
  request.listing = list;
  request.object = object;
  request.format = hex ? &orvane::kIntelHexFormat : &orvane::kCpmFormat;
  request.listingBox = screen;
  Outcome out;
  orvane::DiskFileSystem files;
  BoxObserver observer;
  out.result = orvane::Run(request, files, observer);
  Check(out.result.completed);
  out.object = Read(object);
  out.listing = Read(list);
  out.sent = observer.sent;
  Check(out.listing.compare(0, source.size() + 2, source + "\r\n") == 0);
  // The box gets the same entries as the file, without the header line.
  if (screen) Check(CountLines(observer.box) + 1 == CountLines(out.listing));
  // The same text from memory, with nothing written, sees the same.
  orvane::RunRequest inMemory;
  inMemory.path = source;
  inMemory.text = text;
  inMemory.format = request.format;
  inMemory.listingBox = screen;
  BoxObserver memory;
  NoDisk noDisk;
  const orvane::RunResult r = orvane::Run(inMemory, noDisk, memory);
  Check(r.completed && r.lines == out.result.lines && r.messages == out.result.messages &&
        r.objectBytes == out.result.objectBytes && memory.box == observer.box);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source(reinterpret_cast<const char*>(data), size);
  const bool screen = size > 0 && (data[0] & 1);
  const Outcome cpm = Run(source, false, screen);
  Check(cpm.object.size() == cpm.result.objectBytes);
  const Outcome hex = Run(source, true, !screen);
  std::vector<orvane::hex_rules::Record> records;
  Check(orvane::hex_rules::Parse(hex.object, records).empty());
  Check(orvane::hex_rules::Holds(records, hex.sent).empty());
  Check(hex.result.lines == cpm.result.lines);
  Check(hex.result.objectBytes == cpm.result.objectBytes);
  // The same assembler again: nothing of the earlier runs may show.
  const Outcome again = Run(source, false, !screen);
  Check(again.object == cpm.object && again.listing == cpm.listing);
  return 0;
}
