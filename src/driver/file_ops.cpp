#include "driver/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orvane {

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

class FileLineSource : public LineSource {
 public:
  FileLineSource(std::string path, int fd) : path_(std::move(path)), fd_(fd), buf_(kChunk) {}
  ~FileLineSource() override { ::close(fd_); }

  bool Next(std::string_view& line) override {
    for (;; Refill()) {
      // Look for a line end in what is buffered. A CR at the end of the
      // buffer waits for the next byte, which decides whether a LF joins it.
      const size_t i = NextLineEnd();
      if (i < end_ && !(buf_[i] == '\r' && i + 1 == end_ && !eof_)) {
        line = std::string_view(buf_.data() + begin_, i - begin_);
        size_t next = i + 1;
        if (buf_[i] == '\r' && next < end_ && buf_[next] == '\n') ++next;
        begin_ = scan_ = next;
        return true;
      }
      scan_ = i;
      if (i == end_ && eof_) {
        if (begin_ == end_) return false;
        line = std::string_view(buf_.data() + begin_, end_ - begin_);
        begin_ = scan_ = end_;
        return true;
      }
    }
  }

 private:
  static constexpr size_t kChunk = 1 << 16;

  // Position of the first CR or LF at or after scan_, or end_. Each kind is
  // found with memchr and remembered, so a file whose lines all end in the
  // same way is searched once for the other kind per buffer, not per line.
  size_t NextLineEnd() {
    if (!endsKnown_ || lf_ < scan_) lf_ = Find('\n');
    if (!endsKnown_ || cr_ < scan_) cr_ = Find('\r');
    endsKnown_ = true;
    return lf_ < cr_ ? lf_ : cr_;
  }
  size_t Find(char c) const {
    const void* p = std::memchr(buf_.data() + scan_, c, end_ - scan_);
    return p ? static_cast<size_t>(static_cast<const char*>(p) - buf_.data()) : end_;
  }

  void Refill() {
    // What NextLineEnd remembered is no longer where it was.
    endsKnown_ = false;
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
      end_ += static_cast<size_t>(n);
      return;
    }
  }

  std::string path_;
  int fd_;
  std::vector<char> buf_;
  size_t begin_ = 0, scan_ = 0, end_ = 0;
  size_t lf_ = 0, cr_ = 0;  // next LF and CR found by NextLineEnd
  bool endsKnown_ = false;
  bool eof_ = false;
};

// The output, gathered in a temporary file and put in place on Commit. A
// replaced file's temporary lies beside it, so that it can be renamed into
// place; the temporary of an output written in place lies in TMPDIR and has no
// name.
class FileSink : public CommitSink {
 public:
  // Replaces `target`, the output with its links followed; `old` describes the
  // file there, if any, whose permissions and owner the new one keeps.
  FileSink(std::string shown, std::string target, const struct stat* old)
      : shown_(std::move(shown)), target_(std::move(target)), kind_(CommitKind::kReplace) {
    if (old != nullptr) {
      old_ = *old;
      hadOld_ = true;
    }
    tmpPath_ = target_ + ".orvane-XXXXXX";
    tmpFd_ = ::mkstemp(tmpPath_.data());
    if (tmpFd_ < 0) Fail("cannot write");
    buf_.reserve(kBuffer);
  }
  // Writes `target` in place: a stream, or a regular file with several links.
  // With outFd set (standard output), that descriptor is the target.
  FileSink(std::string shown, std::string target, CommitKind kind, int outFd = -1)
      : shown_(std::move(shown)), target_(std::move(target)), kind_(kind), outFd_(outFd), ownsOut_(outFd < 0) {
    const char* env = std::getenv("TMPDIR");
    const std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
    tmpFailure_ = "cannot write a temporary file in " + dir;
    std::string tmp = dir + "/orvane-XXXXXX";
    tmpFd_ = ::mkstemp(tmp.data());
    if (tmpFd_ < 0) Fail(tmpFailure_);
    ::unlink(tmp.c_str());
    buf_.reserve(kBuffer);
  }
  ~FileSink() override {
    if (tmpFd_ >= 0) ::close(tmpFd_);
    if (ownsOut_ && outFd_ >= 0) ::close(outFd_);
    if (!tmpPath_.empty() && !committed_) ::unlink(tmpPath_.c_str());
  }

  void Write(std::string_view bytes) override {
    size_ += bytes.size();
    if (buf_.size() + bytes.size() > kBuffer) {
      Flush();
      if (bytes.size() > kBuffer) {
        WriteAll(tmpFd_, bytes.data(), bytes.size(), tmpFailure_);
        return;
      }
    }
    buf_.append(bytes);
  }

  CommitKind Kind() const override { return kind_; }

  void Prepare() override {
    if (prepared_) return;
    Flush();
    if (kind_ == CommitKind::kReplace) {
      if (hadOld_) {
        // Owner first: a change of owner clears the set-user-ID bits. Only a
        // privileged process may give a file away; otherwise the new file is
        // the user's own, as any newly written file is.
        [[maybe_unused]] const int given = ::fchown(tmpFd_, old_.st_uid, old_.st_gid);
        ::fchmod(tmpFd_, old_.st_mode & 07777);
      } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(tmpFd_, 0666 & ~mask);
      }
      const int fd = tmpFd_;
      tmpFd_ = -1;
      if (::close(fd) != 0) Fail("cannot write");
    } else {
      if (outFd_ < 0) {
        // Opening a FIFO waits here for its reader.
        outFd_ = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (outFd_ < 0) Fail("cannot write");
      }
      // Room for a rewritten file is reserved before its old content is
      // touched, so a full disk is found while the file is still whole. Where
      // the file system cannot reserve room, writing goes ahead as any
      // program's in-place write does.
      if (kind_ == CommitKind::kInPlace && size_ > 0 &&
          ::fallocate(outFd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size_)) != 0 &&
          (errno == ENOSPC || errno == EDQUOT || errno == EFBIG))
        Fail("cannot write");
    }
    prepared_ = true;
  }

  void Commit() override {
    Prepare();
    if (kind_ == CommitKind::kReplace) {
      ReplaceTarget();
    } else {
      CopyIn();
    }
    committed_ = true;
  }

 private:
  static constexpr size_t kBuffer = 1 << 16;

  [[noreturn]] void Fail(const std::string& what) const { throw FileError(shown_, what + ": " + ErrnoText(errno)); }

  // Puts the finished temporary file in the target's place; the target names
  // either its old or its new content at every moment. Where a target exists
  // the two names are exchanged and the old file removed: renaming over an
  // existing file makes ext4 write the new file out at once (its guard for
  // programs that replace files without syncing them), which costs more than
  // assembling a large listing.
  void ReplaceTarget() {
    if (::renameat2(AT_FDCWD, tmpPath_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) == 0) {
      committed_ = true;
      ::unlink(tmpPath_.c_str());
      return;
    }
    if (::rename(tmpPath_.c_str(), target_.c_str()) != 0) Fail("cannot write");
  }

  // Copies the gathered content into the open target; a rewritten regular file
  // is cut to the new length afterwards.
  void CopyIn() {
    if (::lseek(tmpFd_, 0, SEEK_SET) != 0) Fail(tmpFailure_);
    std::vector<char> chunk(kBuffer);
    for (;;) {
      const ssize_t n = ::read(tmpFd_, chunk.data(), chunk.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail(tmpFailure_);
      if (n == 0) break;
      WriteAll(outFd_, chunk.data(), static_cast<size_t>(n), "cannot write");
    }
    if (kind_ == CommitKind::kInPlace && ::ftruncate(outFd_, static_cast<off_t>(size_)) != 0) Fail("cannot write");
    if (ownsOut_) {
      const int fd = outFd_;
      outFd_ = -1;
      if (::close(fd) != 0) Fail("cannot write");
    }
  }

  void Flush() {
    WriteAll(tmpFd_, buf_.data(), buf_.size(), tmpFailure_);
    buf_.clear();
  }
  void WriteAll(int fd, const char* p, size_t n, const std::string& what) const {
    while (n > 0) {
      const ssize_t w = ::write(fd, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) Fail(what);
      p += w;
      n -= static_cast<size_t>(w);
    }
  }

  std::string shown_;   // the path as given, for messages
  std::string target_;  // what is replaced or opened
  CommitKind kind_;
  std::string tmpPath_;  // a replaced file's temporary, removed unless committed
  std::string tmpFailure_ = "cannot write";
  int tmpFd_ = -1;
  int outFd_ = -1;
  bool ownsOut_ = true;
  struct stat old_ {};
  bool hadOld_ = false;
  bool prepared_ = false;
  bool committed_ = false;
  size_t size_ = 0;
  std::string buf_;
};

// The path a write through `path` lands on: its symbolic links followed to
// the end, where a file may be missing (a link to a file yet to be made).
std::string FollowLinks(const std::string& shown) {
  std::string path = shown;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char to[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), to, sizeof to);
    if (n < 0) throw FileError(shown, "cannot write: " + ErrnoText(errno));
    if (static_cast<size_t>(n) == sizeof to) throw FileError(shown, "cannot write: " + ErrnoText(ENAMETOOLONG));
    const std::string link(to, static_cast<size_t>(n));
    const size_t slash = path.find_last_of('/');
    path = link[0] == '/' || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
  }
  throw FileError(shown, "cannot write: " + ErrnoText(ELOOP));
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
  constexpr size_t kLimit = DiskFileSystem::kStreamLimit;
  for (;;) {
    const size_t chunk = std::min<size_t>(1 << 16, kLimit + 1 - text.size());
    const size_t at = text.size();
    text.resize(at + chunk);
    const ssize_t n = ::read(fd, text.data() + at, chunk);
    if (n < 0 && errno == EINTR) {
      text.resize(at);
      continue;
    }
    if (n < 0) throw FileError(shown, "cannot read: " + ErrnoText(errno));
    text.resize(at + static_cast<size_t>(n));
    if (n == 0) break;
    if (text.size() > kLimit)
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

bool Locate(const std::string& path, int standardFd, Place& place) {
  struct stat st {};
  if (standardFd >= 0 ? ::fstat(standardFd, &st) == 0 : ::stat(path.c_str(), &st) == 0) {
    place = Place{st.st_dev, st.st_ino, "", S_ISREG(st.st_mode)};
    return true;
  }
  if (standardFd >= 0) return false;
  const std::string target = FollowLinks(path);
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
  if (::stat(path.c_str(), &st) != 0) throw FileError(path, "cannot open: " + ErrnoText(errno));
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
  return std::make_unique<FileLineSource>(path, fd);
}

std::unique_ptr<CommitSink> DiskFileSystem::Create(const std::string& path) {
  if (path.empty()) throw FileError(path, "no output path given");
  if (StandardStream(path)) return std::make_unique<FileSink>("standard output", "", CommitKind::kStream, STDOUT_FILENO);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::make_unique<FileSink>(path, FollowLinks(path), nullptr);
  if (S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode))
    throw FileError(path, std::string("is ") + KindName(st.st_mode) + ", not an output file");
  if (!S_ISREG(st.st_mode)) return std::make_unique<FileSink>(path, path, CommitKind::kStream);
  // Every link to the file is to see the new content.
  if (st.st_nlink > 1) return std::make_unique<FileSink>(path, path, CommitKind::kInPlace);
  return std::make_unique<FileSink>(path, FollowLinks(path), &st);
}

bool DiskFileSystem::NamesSource(const std::string& source, const std::string& output) {
  Place s, o;
  return Locate(source, StandardStream(source) ? STDIN_FILENO : -1, s) &&
         Locate(output, StandardStream(output) ? STDOUT_FILENO : -1, o) && s.name.empty() && SamePlace(s, o);
}

bool DiskFileSystem::SameOutput(const std::string& a, const std::string& b) {
  if (StandardStream(a) && StandardStream(b)) return true;
  Place pa, pb;
  return Locate(a, StandardStream(a) ? STDOUT_FILENO : -1, pa) && Locate(b, StandardStream(b) ? STDOUT_FILENO : -1, pb) &&
         SamePlace(pa, pb);
}

bool MemoryLineSource::Next(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  const size_t start = pos_;
  size_t i = text_.find_first_of("\r\n", start);
  if (i == std::string::npos) {
    line = std::string_view(text_).substr(start);
    pos_ = text_.size();
    return true;
  }
  line = std::string_view(text_).substr(start, i - start);
  pos_ = i + 1;
  if (text_[i] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  return true;
}

}  // namespace orvane
