#include "driver/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "driver/file_sinks.h"
#include "driver/temp_guard.h"

namespace orvane {

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

class FileLineSource : public LineSource {
 public:
  FileLineSource(std::string path, int fd, const struct stat& st)
      : path_(std::move(path)), fd_(fd), opened_(st), buf_(kChunk), summed_(!ChangeTimeIsOld(st)) {}
  ~FileLineSource() override { ::close(fd_); }

  bool Rewind() override {
    ends_ = 0;
    span_ = start_ = limit_ = nullptr;
    CheckUnchanged(true);
    if (::lseek(fd_, 0, SEEK_SET) != 0) throw FileError(path_, "cannot read: " + ErrnoText(errno));
    firstPass_ = eof_ && begin_ == end_ ? std::optional<uint64_t>(PassSum()) : std::nullopt;
    lanes_ = kStart;
    held_ = 0;
    begin_ = scan_ = end_ = 0;
    mask_ = 0;
    maskKnown_ = eof_ = false;
    return true;
  }

 private:
  // The lines Next took from ends_ are taken here too, and the line ends
  // known after this line are handed back to Next.
  bool More(std::string_view& line) override {
    if (span_ != nullptr) {
      begin_ = scan_ = static_cast<size_t>(start_ - buf_.data());
      maskBase_ = static_cast<size_t>(span_ - buf_.data());
      mask_ = ends_;
    }
    const bool got = Take(line);
    if (got && maskKnown_) {
      span_ = buf_.data() + maskBase_;
      start_ = buf_.data() + begin_;
      limit_ = buf_.data() + end_;
      ends_ = mask_;
    } else {
      span_ = start_ = limit_ = nullptr;
      ends_ = 0;
    }
    return got;
  }

  bool Take(std::string_view& line) {
    // The usual line: it ends in a LF, the next line end of the span in hand
    // or of a whole span buffered after it.
    while (maskKnown_) [[likely]] {
      if (mask_ != 0) {
        const size_t i = maskBase_ + static_cast<size_t>(std::countr_zero(mask_));
        if (buf_[i] != '\n') break;
        line = std::string_view(buf_.data() + begin_, i - begin_);
        begin_ = scan_ = i + 1;
        mask_ &= mask_ - 1;
        return true;
      }
      if (maskBase_ + 2 * kSpan > end_) break;
      maskBase_ += kSpan;
      mask_ = SpanLineEnds(buf_.data() + maskBase_);
    }
    return NextFound(line);
  }

  static constexpr size_t kChunk = 1 << 16;

  bool NextFound(std::string_view& line) {
    for (;; Refill()) {
      // Look for a line end in what is buffered. A CR at the end of the
      // buffer waits for the next byte, which decides whether a LF joins it.
      const size_t i = NextLineEnd();
      if (i < end_ && !(buf_[i] == '\r' && i + 1 == end_ && !eof_)) {
        line = std::string_view(buf_.data() + begin_, i - begin_);
        size_t next = i + 1;
        if (buf_[i] == '\r' && next < end_ && buf_[next] == '\n') ++next;
        begin_ = scan_ = next;
        if (next - maskBase_ < kSpan) {
          mask_ &= ~uint64_t{0} << (next - maskBase_);
        } else {
          maskKnown_ = false;  // a CR LF across two spans: the next is not begun at its start
        }
        return true;
      }
      scan_ = i;
      if (i == end_ && eof_) {
        if (begin_ == end_) {
          CheckUnchanged(false);
          // Rewritten in place with its size and time kept (cp -p): the
          // bytes of the two passes differ.
          if (firstPass_ && *firstPass_ != PassSum()) throw FileError(path_, kChanged);
          return false;
        }
        line = std::string_view(buf_.data() + begin_, end_ - begin_);
        begin_ = scan_ = end_;
        mask_ = 0;
        return true;
      }
    }
  }

  // Position of the first CR or LF at or after scan_, or end_. The buffer is
  // looked at in spans of 64 bytes from its start: each span's line ends are
  // found at once, one bit a byte, and kept (mask_, those from scan_ on) for
  // the lines that follow in it.
  size_t NextLineEnd() {
    for (size_t base = scan_ & ~(kSpan - 1); base < end_; base += kSpan) {
      if (!maskKnown_ || maskBase_ != base) {
        mask_ = LineEndsAt(base);
        maskBase_ = base;
        maskKnown_ = true;
      }
      if (scan_ > base) mask_ &= ~uint64_t{0} << (scan_ - base);
      if (mask_ != 0) return base + static_cast<size_t>(std::countr_zero(mask_));
    }
    return end_;
  }
  // One bit for each CR or LF in the span at `base` (bit 0 the first byte),
  // as far as the buffered bytes go.
  uint64_t LineEndsAt(size_t base) const {
    const char* p = buf_.data() + base;
    const size_t n = std::min(kSpan, end_ - base);
    if (n == kSpan) return SpanLineEnds(p);
    uint64_t m = 0;
    for (size_t k = 0; k < n; ++k) {
      if (p[k] == '\n' || p[k] == '\r') m |= uint64_t{1} << k;
    }
    return m;
  }

  // The file read is as it was when opened: the same size, modification and
  // change time and, when a pass starts again, still the file the path names.
  // Checked at each end and before the second pass, so a file edited or
  // replaced while the run goes on stops the run before anything is written.
  void CheckUnchanged(bool named) const {
    struct stat now {}, at {};
    const bool same = ::fstat(fd_, &now) == 0 && now.st_size == opened_.st_size &&
                      now.st_mtim.tv_sec == opened_.st_mtim.tv_sec && now.st_mtim.tv_nsec == opened_.st_mtim.tv_nsec &&
                      now.st_ctim.tv_sec == opened_.st_ctim.tv_sec && now.st_ctim.tv_nsec == opened_.st_ctim.tv_nsec &&
                      (!named || (::stat(path_.c_str(), &at) == 0 && at.st_dev == opened_.st_dev &&
                                  at.st_ino == opened_.st_ino));
    if (!same) throw FileError(path_, kChanged);
  }

  static constexpr const char* kChanged = "changed while it was being assembled; nothing written";

  // Every write to a file, and every setting of its times (cp -p, touch),
  // sets its change time to the current time, which no one can set back. A
  // change time well before the file was opened therefore differs from that of
  // any rewrite during the run, and comparing it catches a rewrite with the
  // size and modification time kept. A change time that recent may share its
  // clock tick with a rewrite (timestamps are taken from a coarse clock), so
  // such a file has its bytes compared as well.
  static bool ChangeTimeIsOld(const struct stat& st) {
    struct timespec now {};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    constexpr int64_t kMargin = 2;  // seconds: far above any clock tick of a file system
    return static_cast<int64_t>(st.st_ctim.tv_sec) + kMargin < static_cast<int64_t>(now.tv_sec);
  }

  // A checksum of the bytes read: four chains over the words of each block of
  // 32 bytes, as the bytes stand in the file, whatever pieces the reads
  // return (a pass may read in larger pieces once a long line grew the
  // buffer). Each step is one-to-one (a multiplication by an odd number), so
  // bytes that differ in a single word always give another sum.
  static constexpr size_t kBlock = 32;
  static constexpr uint64_t kOdd = 0x9E3779B97F4A7C15u;
  // Not zero, so that no chain starts where a word of zeros leaves it.
  static constexpr std::array<uint64_t, 4> kStart{1, 2, 3, 4};
  void MixBlock(const char* p) {
    for (size_t k = 0; k < 4; ++k) {
      uint64_t w;
      std::memcpy(&w, p + 8 * k, 8);
      lanes_[k] = (lanes_[k] ^ w) * kOdd;
    }
  }
  void Sum(const char* p, size_t n) {
    if (held_ > 0) {
      const size_t take = std::min(kBlock - held_, n);
      std::memcpy(hold_ + held_, p, take);
      held_ += take;
      p += take;
      n -= take;
      if (held_ < kBlock) return;
      MixBlock(hold_);
      held_ = 0;
    }
    for (; n >= kBlock; p += kBlock, n -= kBlock) MixBlock(p);
    std::memcpy(hold_, p, n);
    held_ = n;
  }
  // The sum of the bytes read so far in this pass.
  uint64_t PassSum() const {
    uint64_t h = lanes_[0];
    for (size_t k = 1; k < 4; ++k) h = (h ^ lanes_[k]) * kOdd;
    for (size_t i = 0; i < held_; ++i) h = (h ^ static_cast<unsigned char>(hold_[i])) * 0x100000001B3u;
    return (h ^ held_) * kOdd;
  }

  void Refill() {
    // What NextLineEnd remembered is no longer where it was.
    mask_ = 0;
    maskKnown_ = false;
    // Keep the unfinished line at the front, grow only for a longer line.
    if (begin_ > 0) {
      std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      scan_ -= begin_;
      begin_ = 0;
    }
    if (buf_.size() - end_ < kChunk / 2) buf_.resize(buf_.size() * 2);
    for (;;) {
      ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw FileError(path_, "cannot read: " + ErrnoText(errno));
      if (n == 0) eof_ = true;
      if (summed_) Sum(buf_.data() + end_, static_cast<size_t>(n));
      end_ += static_cast<size_t>(n);
      return;
    }
  }

  std::string path_;
  int fd_;
  struct stat opened_;
  std::vector<char> buf_;
  size_t begin_ = 0, scan_ = 0, end_ = 0;
  size_t maskBase_ = 0;  // the span NextLineEnd found the line ends of last
  uint64_t mask_ = 0;    // its line ends from scan_ on (0 when not known)
  bool maskKnown_ = false;
  bool eof_ = false;
  const bool summed_;                    // the bytes are compared (a recent change time)
  std::array<uint64_t, 4> lanes_ = kStart;  // checksum of this pass's whole blocks so far
  char hold_[kBlock] = {};               // the bytes after them
  size_t held_ = 0;
  std::optional<uint64_t> firstPass_;    // the first pass's, once it was read to its end
};

// The path a write through `path` lands on: its symbolic links followed to
// the end, where a file may be missing (a link to a file yet to be made).
std::string FollowLinks(const std::string& shown, const std::string& verb = "cannot write") {
  std::string path = shown;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char to[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), to, sizeof to);
    if (n < 0) throw FileError(shown, verb + ": " + ErrnoText(errno));
    if (static_cast<size_t>(n) == sizeof to) throw FileError(shown, verb + ": " + ErrnoText(ENAMETOOLONG));
    const std::string link(to, static_cast<size_t>(n));
    const size_t slash = path.find_last_of('/');
    path = link[0] == '/' || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
  }
  throw FileError(shown, verb + ": " + ErrnoText(ELOOP));
}

const char* KindName(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "an unknown kind of file";
}

// Reads a pipe or standard input to its end, into memory.
std::unique_ptr<LineSource> ReadWhole(int fd, const std::string& shown) {
  std::string text;
  std::vector<char> chunk(size_t{1} << 16);
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw FileError(shown, "cannot read: " + ErrnoText(errno));
    if (n == 0) break;
    text.append(chunk.data(), static_cast<size_t>(n));
    if (text.size() > DiskFileSystem::kStreamLimit)
      throw FileError(shown,
                      "cannot read: longer than 64 MiB, the limit for a source read from a pipe or standard input; "
                      "save it to a file");
  }
  return std::make_unique<MemoryLineSource>(std::move(text));
}

// Where writing `path` lands, to tell whether two paths would overwrite each
// other: the file it names, or for a path that names no file yet, the
// directory it would be made in and its name there. False when neither is
// found (writing there fails anyway).
struct Place {
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;  // empty for a file that exists
  bool file = false;  // a regular file, or one yet to be made
};

bool Locate(const std::string& path, int standardFd, Place& place, const std::string& verb) {
  struct stat st {};
  if (standardFd >= 0 ? ::fstat(standardFd, &st) == 0 : ::stat(path.c_str(), &st) == 0) {
    place = Place{st.st_dev, st.st_ino, "", S_ISREG(st.st_mode)};
    return true;
  }
  if (standardFd >= 0) return false;
  const std::string target = FollowLinks(path, verb);
  const size_t slash = target.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  if (::stat(dir.c_str(), &st) != 0) return false;
  place = Place{st.st_dev, st.st_ino, slash == std::string::npos ? target : target.substr(slash + 1), true};
  return true;
}

bool SamePlace(const Place& a, const Place& b) {
  return a.file && b.file && a.dev == b.dev && a.ino == b.ino && a.name == b.name;
}

}  // namespace

std::unique_ptr<LineSource> DiskFileSystem::OpenRead(const std::string& path) {
  if (path.empty()) throw FileError(path, "no source file given");
  if (StandardStream(path)) return ReadWhole(STDIN_FILENO, "standard input");
  // Refused before it is opened: opening a device may itself do something.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    throw FileError(path, std::string(errno == ENOENT ? "cannot open: " : "cannot read: ") + ErrnoText(errno));
  if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
    throw FileError(path, std::string("is ") + KindName(st.st_mode) + ", not a source file");
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw FileError(path, "cannot open: " + ErrnoText(errno));
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{fd};
    if (S_ISFIFO(st.st_mode)) return ReadWhole(fd, path);
    throw FileError(path, std::string("is ") + KindName(st.st_mode) + ", not a source file");
  }
  return std::make_unique<FileLineSource>(path, fd, st);
}

std::unique_ptr<CommitSink> DiskFileSystem::Create(const std::string& path) {
  if (path.empty()) throw FileError(path, "no output path given");
  if (StandardStream(path)) return MakeStreamingSink("standard output", "", STDOUT_FILENO);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return MakeReplacingSink(path, FollowLinks(path), nullptr);
  if (S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode))
    throw FileError(path, std::string("is ") + KindName(st.st_mode) + ", not an output file");
  // The file this process already writes as its standard output or error
  // (`>> build.log` and -l /dev/stdout) gets the output after what is there.
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat standard {};
    const int mode = ::fcntl(fd, F_GETFL);
    if (mode >= 0 && (mode & O_ACCMODE) != O_RDONLY && ::fstat(fd, &standard) == 0 &&
        standard.st_dev == st.st_dev && standard.st_ino == st.st_ino)
      return MakeStreamingSink(path, path, fd);
  }
  if (!S_ISREG(st.st_mode)) return MakeStreamingSink(path, path);
  // Every link to the file is to see the new content.
  if (st.st_nlink > 1) return MakeRewritingSink(path, path);
  try {
    return MakeReplacingSink(path, FollowLinks(path), &st);
  } catch (const FileError& e) {
    // No file can be made beside it (a directory the user may not write):
    // a file the user may write is rewritten in place instead.
    const bool denied = e.error() == EACCES || e.error() == EPERM;
    const int fd = denied ? ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC) : -1;
    if (fd < 0) throw;
    ::close(fd);
    return MakeRewritingSink(path, path);
  }
}

bool DiskFileSystem::NamesSource(const std::string& source, const std::string& output) {
  Place s, o;
  return Locate(source, StandardStream(source) ? STDIN_FILENO : -1, s, "cannot read") &&
         Locate(output, StandardStream(output) ? STDOUT_FILENO : -1, o, "cannot write") && s.name.empty() &&
         SamePlace(s, o);
}

bool DiskFileSystem::SameOutput(const std::string& a, const std::string& b) {
  if (StandardStream(a) && StandardStream(b)) return true;
  Place pa, pb;
  return Locate(a, StandardStream(a) ? STDOUT_FILENO : -1, pa, "cannot write") &&
         Locate(b, StandardStream(b) ? STDOUT_FILENO : -1, pb, "cannot write") && SamePlace(pa, pb);
}

void CommitAll(const std::vector<CommitSink*>& sinks) {
  std::vector<CommitSink*> order(sinks);
  // Replaced files first, as they can be put back; then streams and files
  // rewritten in place, which cannot.
  const auto rank = [](const CommitSink* s) {
    return s->Kind() == CommitKind::kReplace ? -1 : static_cast<int>(s->Kind());
  };
  std::stable_sort(order.begin(), order.end(), [&](CommitSink* a, CommitSink* b) { return rank(a) < rank(b); });
  for (CommitSink* s : order) s->Prepare();
  size_t done = 0;
  try {
    for (; done < order.size(); ++done) order[done]->Install();
  } catch (...) {
    SignalBlock block;
    while (done > 0) order[--done]->Undo();
    for (CommitSink* s : order) s->Finish();
    throw;
  }
  // A signal from here on finds every output new, never some put back.
  SignalBlock block;
  for (CommitSink* s : order) s->Finish();
}

bool MemoryLineSource::More(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  const size_t start = pos_, n = text_.size();
  const char* t = text_.data();
  // A plain scan: find_first_of would search the set with memchr for every
  // character of the line.
  size_t i = start;
  while (i < n && t[i] != '\n' && t[i] != '\r') ++i;
  line = std::string_view(text_).substr(start, i - start);
  if (i == n) {
    pos_ = n;
    return true;
  }
  pos_ = i + 1;
  if (t[i] == '\r' && pos_ < n && t[pos_] == '\n') ++pos_;
  return true;
}

}  // namespace orvane
