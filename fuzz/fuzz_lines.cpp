// Splits the same text into lines twice, with the file reader (through a real
// file) and with the in-memory reader, and checks that they agree line for
// line. The text is the input repeated to well past the file reader's 64 KiB
// buffer and shifted by an amount taken from the input's first two bytes, so
// that CR, LF and CR LF fall on every kind of buffer boundary.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "driver/file_ops.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

constexpr size_t kTextSize = 140000;  // more than two buffers

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t shift = static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8;
  const std::string_view unit(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::string text(unit);
  while (text.size() < kTextSize) text.append(text);
  text.insert(0, shift, 'x');

  static const std::string path = "/tmp/orvane-fuzz-lines-" + std::to_string(::getpid());
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Check(f != nullptr);
    Check(std::fwrite(text.data(), 1, text.size(), f) == text.size());
    std::fclose(f);
  }
  orvane::DiskFileSystem files;
  // The file stays until it has been read: removing a name changes the
  // file's change time, which the reader takes for an edit during the run.
  std::unique_ptr<orvane::LineSource> disk = files.OpenRead(path);
  orvane::MemoryLineSource memory(text);
  std::string_view a, b;
  for (;;) {
    const bool moreA = disk->Next(a);
    const bool moreB = memory.Next(b);
    Check(moreA == moreB);
    if (!moreA) break;
    Check(a == b);
  }
  disk.reset();
  ::unlink(path.c_str());
  return 0;
}
