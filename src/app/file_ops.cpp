#include "app/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
    for (;;) {
      // Look for a line end in what is buffered.
      const size_t i = NextLineEnd();
      if (i < end_) {
        const char c = buf_[i];
        if (c == '\r' && i + 1 == end_ && !eof_) {
          // A CR at the end of the buffer: the next byte decides.
          scan_ = i;
          goto refill;
        }
        line = std::string_view(buf_.data() + begin_, i - begin_);
        size_t next = i + 1;
        if (c == '\r' && next < end_ && buf_[next] == '\n') ++next;
        begin_ = scan_ = next;
        return true;
      }
      scan_ = end_;
      if (eof_) {
        if (begin_ == end_) return false;
        line = std::string_view(buf_.data() + begin_, end_ - begin_);
        begin_ = scan_ = end_;
        return true;
      }
    refill:
      Refill();
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

class TempFileSink : public CommitSink {
 public:
  explicit TempFileSink(std::string path) : path_(std::move(path)) {
    tmp_ = path_ + ".orvane-XXXXXX";
    fd_ = ::mkstemp(tmp_.data());
    if (fd_ < 0) throw FileError(path_, "cannot write: " + ErrnoText(errno));
    buf_.reserve(kBuffer);
  }
  ~TempFileSink() override {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(tmp_.c_str());
  }

  void Write(std::string_view bytes) override {
    if (buf_.size() + bytes.size() > kBuffer) {
      Flush();
      if (bytes.size() > kBuffer) {
        WriteAll(bytes.data(), bytes.size());
        return;
      }
    }
    buf_.append(bytes);
  }

  void Commit() override {
    Flush();
    // Keep the permissions an ordinary new file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    if (::close(fd_) != 0) {
      fd_ = -1;
      throw FileError(path_, "cannot write: " + ErrnoText(errno));
    }
    fd_ = -1;
    ReplaceTarget();
    committed_ = true;
  }

 private:
  static constexpr size_t kBuffer = 1 << 16;

  // Puts the finished temporary file in the target's place; the target names
  // either its old or its new content at every moment. Where a target exists
  // the two names are exchanged and the old file removed: renaming over an
  // existing file makes ext4 write the new file out at once (its guard for
  // programs that replace files without syncing them), which costs more than
  // assembling a large listing.
  void ReplaceTarget() {
    if (::renameat2(AT_FDCWD, tmp_.c_str(), AT_FDCWD, path_.c_str(), RENAME_EXCHANGE) == 0) {
      committed_ = true;
      ::unlink(tmp_.c_str());
      return;
    }
    if (::rename(tmp_.c_str(), path_.c_str()) != 0) throw FileError(path_, "cannot write: " + ErrnoText(errno));
  }

  void Flush() {
    WriteAll(buf_.data(), buf_.size());
    buf_.clear();
  }
  void WriteAll(const char* p, size_t n) {
    while (n > 0) {
      ssize_t w = ::write(fd_, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) throw FileError(path_, "cannot write: " + ErrnoText(errno));
      p += w;
      n -= static_cast<size_t>(w);
    }
  }

  std::string path_;
  std::string tmp_;
  int fd_ = -1;
  bool committed_ = false;
  std::string buf_;
};

}  // namespace

std::unique_ptr<LineSource> DiskFileSystem::OpenRead(const std::string& path) {
  if (path.empty()) throw FileError(path, "no source file given");
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileError(path, "cannot open: " + ErrnoText(errno));
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw FileError(path, "cannot open: is a directory");
  }
  return std::make_unique<FileLineSource>(path, fd);
}

std::unique_ptr<CommitSink> DiskFileSystem::Create(const std::string& path) {
  if (path.empty()) throw FileError(path, "no output path given");
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw FileError(path, "cannot write: is a directory");
  return std::make_unique<TempFileSink>(path);
}

bool DiskFileSystem::SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
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
