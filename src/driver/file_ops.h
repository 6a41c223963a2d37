// File operations behind the FileSystem seam: the source read line by line,
// and every output gathered in a temporary file and put in place only when the
// run completes, all outputs or none, so that a failed or stopped run leaves
// earlier outputs untouched. The ways an output is written are in
// file_sinks.h, the calls only Linux has in linux_files.h, and what a signal
// cleans up in temp_guard.h.
#pragma once
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "output/sink.h"

namespace orvane {

// A file that cannot be opened, read or written. Front ends catch it; the
// core never exits. `error` is the errno behind it, or 0.
class FileError : public std::runtime_error {
 public:
  FileError(std::string path, std::string reason, int error = 0)
      : std::runtime_error(path + ": " + reason), path_(std::move(path)), reason_(std::move(reason)), error_(error) {}
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }
  int error() const { return error_; }

 private:
  std::string path_;
  std::string reason_;
  int error_;
};

// Reads lines ended by LF, CR LF or a lone CR; a last line without an end is
// read too. Memory is bounded by the longest line.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // The next line without its end, valid until the next call; false at end.
  // The usual line ends in a LF the source found already, and is taken here
  // without a call.
  bool Next(std::string_view& line) {
    for (;;) {
      if (ends_ != 0) [[likely]] {
        const char* const end = span_ + std::countr_zero(ends_);
        if (*end != '\n') break;
        line = std::string_view(start_, static_cast<size_t>(end - start_));
        start_ = end + 1;
        ends_ &= ends_ - 1;
        return true;
      }
      // The next span, when it and one more are buffered whole.
      if (limit_ - span_ < static_cast<ptrdiff_t>(2 * kSpan)) break;
      span_ += kSpan;
      ends_ = SpanLineEnds(span_);
    }
    return More(line);
  }
  // Starts again at the first line; false when the source must be opened
  // again instead. A source read from a file throws FileError here (and at
  // its end) when the file changed since it was opened, so that the two
  // passes never read different programs.
  virtual bool Rewind() { return false; }

 protected:
  // Next, for a line whose end is not among ends_.
  virtual bool More(std::string_view& line) = 0;
  // Line ends the source found ahead, for Next: bit k for the byte at
  // span_ + k, a CR or LF, those after start_ only; the next line begins at
  // start_.
  const char* span_ = nullptr;
  const char* start_ = nullptr;
  uint64_t ends_ = 0;
  // The end of the bytes buffered after span_ (span_ itself when Next is to
  // look at no more spans).
  const char* limit_ = nullptr;

  static constexpr size_t kSpan = 64;  // bytes a line-end mask covers
  // One bit for each CR or LF in the kSpan bytes at `p` (bit 0 the first).
  static uint64_t SpanLineEnds(const char* p) {
    uint64_t m = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    for (size_t k = 0; k < kSpan / 16; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
      const __m128i e = _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr));
      m |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(e))) << (16 * k);
    }
#else
    for (size_t k = 0; k < kSpan; ++k) {
      if (p[k] == '\n' || p[k] == '\r') m |= uint64_t{1} << k;
    }
#endif
    return m;
  }
};

// How an output is put in place. A stream (a device, a FIFO, standard
// output) and a regular file rewritten in place can still fail halfway (a
// full device, a closed pipe) and cannot be undone; a file replaced whole
// cannot fail halfway, and can be put back until Finish.
enum class CommitKind { kStream, kInPlace, kReplace };

// An output that becomes the real file only when it is put in place.
class CommitSink : public OutputSink {
 public:
  // Everything that may fail before the target is touched: flushing, and
  // opening a target that is written in place.
  virtual void Prepare() {}
  // Puts the content in place (calls Prepare when it was not called). A file
  // replaced whole keeps the old one aside until Finish or Undo.
  virtual void Install() = 0;
  // Puts back the old file of an installed output replaced whole.
  virtual void Undo() noexcept {}
  // Lets go of the old file; a sink never installed removes its temporary.
  virtual void Finish() noexcept {}
  virtual CommitKind Kind() const = 0;
  // What making the output did beside it that its user should hear of: an
  // earlier run's leftover temporary removed.
  const std::vector<std::string>& Notes() const { return notes_; }
  // One output on its own.
  void Commit() {
    Prepare();
    Install();
    Finish();
  }

 protected:
  std::vector<std::string> notes_;
};

// Puts a run's outputs in place, all or nothing: each is prepared, then the
// ones replaced whole are exchanged in, then the streams and the files
// rewritten in place are written. When any of it fails, every file already
// exchanged is exchanged back before the FileError goes on, so earlier
// outputs stay as they were (a stream written halfway cannot be taken back).
void CommitAll(const std::vector<CommitSink*>& sinks);

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual std::unique_ptr<LineSource> OpenRead(const std::string& path) = 0;
  virtual std::unique_ptr<CommitSink> Create(const std::string& path) = 0;
  // True when writing the output would overwrite the source.
  virtual bool NamesSource(const std::string& source, const std::string& output) = 0;
  // True when the two outputs would overwrite each other.
  virtual bool SameOutput(const std::string& a, const std::string& b) = 0;
};

// The real disk. With standard streams on (the command line), "-" as the
// source is standard input and "-" as an output is standard output.
class DiskFileSystem : public FileSystem {
 public:
  explicit DiskFileSystem(bool standardStreams = false) : standardStreams_(standardStreams) {}
  // A regular source is read from the file in each pass; a FIFO or standard
  // input is read once into memory, up to kStreamLimit. Anything else (a
  // directory, a device, a socket) is refused without being opened.
  std::unique_ptr<LineSource> OpenRead(const std::string& path) override;
  // A path that is the file the process's standard output or standard error
  // already writes (/dev/stdout redirected to a log) is written through that
  // descriptor, after what is there.
  std::unique_ptr<CommitSink> Create(const std::string& path) override;
  // Only a regular file counts: an output may be a device or FIFO that is
  // also the source or the other output (/dev/null twice).
  bool NamesSource(const std::string& source, const std::string& output) override;
  bool SameOutput(const std::string& a, const std::string& b) override;

  static constexpr size_t kStreamLimit = size_t{64} << 20;

 private:
  bool StandardStream(const std::string& path) const { return standardStreams_ && path == "-"; }
  bool standardStreams_;
};

// Splits a buffer held in memory into lines, with the same rules.
class MemoryLineSource : public LineSource {
 public:
  explicit MemoryLineSource(std::string text) : text_(std::move(text)) {}
  bool Rewind() override {
    pos_ = 0;
    return true;
  }

 private:
  bool More(std::string_view& line) override;
  std::string text_;
  size_t pos_ = 0;
};

}  // namespace orvane
