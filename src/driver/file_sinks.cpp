#include "driver/file_sinks.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string_view>
#include <vector>

#include "driver/linux_files.h"
#include "driver/temp_guard.h"

namespace orvane {

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

// An open descriptor, closed exactly once.
class Fd {
 public:
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes it now and gives close's result, which can report a failed write.
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd);
  }

 private:
  int fd_ = -1;
};

// `base.orvane-` and six letters or digits.
std::string TempName(const std::string& base) {
  static std::minstd_rand pick(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = base + ".orvane-";
  for (int i = 0; i < 6; ++i) name += kChars[pick() % (sizeof kChars - 1)];
  return name;
}

constexpr int kNameTries = 100;

bool IsTempName(std::string_view entry, std::string_view base) {
  static constexpr std::string_view kMark = ".orvane-";
  if (entry.size() != base.size() + kMark.size() + 6 || entry.substr(0, base.size()) != base ||
      entry.substr(base.size(), kMark.size()) != kMark)
    return false;
  for (const char c : entry.substr(base.size() + kMark.size()))
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

// A run killed outright (SIGKILL, a crash) while an output had a temporary
// name leaves that file behind; the next run of the same output removes it.
// Only a name of exactly that pattern beside the target counts, and only a
// regular file of this user (links are not followed, and one swapped in
// after it was looked at is not touched), unchanged since this run began,
// that no live run holds: a run holds a shared lock on its temporary from
// the start and on the old output from just before it is put aside, so an
// exclusive lock is only to be had on a dead run's file. Each removal is
// noted for the user.
void RemoveLeftovers(int dirfd, const std::string& base, const std::string& shownDir, std::vector<std::string>& notes) {
  timespec begun{};
  ::clock_gettime(CLOCK_REALTIME, &begun);
  const int listed = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listed < 0) return;  // a directory that may be searched but not read
  DIR* dir = ::fdopendir(listed);
  if (dir == nullptr) {
    ::close(listed);
    return;
  }
  std::vector<std::string> found;
  while (const dirent* e = ::readdir(dir))
    if (IsTempName(e->d_name, base)) found.emplace_back(e->d_name);
  ::closedir(dir);
  for (const std::string& name : found) {
    struct stat st {}, held {};
    if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid())
      continue;
    if (st.st_ctim.tv_sec > begun.tv_sec || (st.st_ctim.tv_sec == begun.tv_sec && st.st_ctim.tv_nsec >= begun.tv_nsec))
      continue;
    Fd file;
    file.Reset(::openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.open() || ::fstat(file.get(), &held) != 0 || held.st_dev != st.st_dev || held.st_ino != st.st_ino ||
        ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
      continue;
    if (::unlinkat(dirfd, name.c_str(), 0) == 0)
      notes.push_back("removed " + shownDir + name + ", a temporary file left by an earlier run that was killed");
  }
}

// A shared lock on `fd` through a descriptor of its own, which outlives
// `fd`: the mark of a live run's file for RemoveLeftovers.
void HoldShared(Fd& lock, int fd) {
  lock.Reset(fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (lock.open()) ::flock(lock.get(), LOCK_SH | LOCK_NB);
}

// What every way shares: the content gathered in a buffer and a temporary
// file, and the messages.
class GatheringSink : public CommitSink {
 public:
  void Write(std::string_view bytes) override {
    size_ += bytes.size();
    if (buf_.size() + bytes.size() > kBuffer) {
      Flush();
      if (bytes.size() > kBuffer) {
        WriteAll(tmp_.get(), bytes.data(), bytes.size(), tmpFailure_);
        return;
      }
    }
    buf_.append(bytes);
  }

 protected:
  explicit GatheringSink(std::string shown) : shown_(std::move(shown)) { buf_.reserve(kBuffer); }

  [[noreturn]] void Fail(const std::string& what, int err = errno) const {
    throw FileError(shown_, what + ": " + ErrnoText(err), err);
  }
  void Flush() {
    WriteAll(tmp_.get(), buf_.data(), buf_.size(), tmpFailure_);
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

  static constexpr size_t kBuffer = 1 << 16;
  std::string shown_;  // the path as given, for messages
  std::string tmpFailure_ = "cannot write";
  Fd tmp_;
  size_t size_ = 0;
  bool prepared_ = false;

 private:
  std::string buf_;
};

// Replaced whole. The temporary is made without a name where the file system
// can (so not even SIGKILL leaves it behind) and named only when the run puts
// it in place; elsewhere it is named `TARGET.orvane-XXXXXX` from the start.
// Every name is taken in the target's directory through a descriptor held from
// the start, so the directory may be renamed meanwhile.
class ReplacingSink final : public GatheringSink {
 public:
  ReplacingSink(std::string shown, const std::string& target, const struct stat* old)
      : GatheringSink(std::move(shown)) {
    const size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    name_ = slash == std::string::npos ? target : target.substr(slash + 1);
    if (old != nullptr) {
      old_ = *old;
      hadOld_ = true;
    }
    dir_.Reset(sys::OpenDirectory(dir.c_str()));
    if (!dir_.open()) Fail("cannot write");
    RemoveLeftovers(dir_.get(), name_, slash == std::string::npos ? "" : target.substr(0, slash + 1), notes_);
    tmp_.Reset(sys::OpenUnnamed(dir_.get(), 0600));
    if (!tmp_.open()) MakeNamed();
    HoldShared(newLock_, tmp_.get());
  }
  ~ReplacingSink() override { Finish(); }

  CommitKind Kind() const override { return CommitKind::kReplace; }

  void Prepare() override {
    if (prepared_) return;
    Flush();
    if (hadOld_) {
      // Owner first: a change of owner clears the set-user-ID bits. Only a
      // privileged process may give a file away; otherwise the new file is
      // the user's own, as any newly written file is.
      [[maybe_unused]] const int given = ::fchown(tmp_.get(), old_.st_uid, old_.st_gid);
      ::fchmod(tmp_.get(), old_.st_mode & 07777);
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ::fchmod(tmp_.get(), 0666 & ~mask);
    }
    if (named_ && tmp_.Close() != 0) Fail("cannot write");
    prepared_ = true;
  }

  // Puts the new file at the target's name. Where a file was there, the two
  // names are exchanged and the old file stays at the temporary name until
  // Finish; renaming over it instead makes ext4 write the new file out at
  // once (its guard for programs that replace files without syncing them),
  // which costs more than assembling a large listing.
  void Install() override {
    Prepare();
    if (hadOld_) {
      oldLock_.Reset(::openat(dir_.get(), name_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      if (oldLock_.open()) ::flock(oldLock_.get(), LOCK_SH | LOCK_NB);
    }
    SignalBlock block;
    if (!named_) {
      if (!hadOld_) {
        if (sys::LinkUnnamed(tmp_.get(), dir_.get(), name_.c_str()) == 0) {
          Set(TempGuard::State::kLinkedNew);
          return;
        }
        if (errno != EEXIST) Fail("cannot write");
      }
      for (int tries = 0;; ++tries) {
        const std::string name = TempName(name_);
        if (sys::LinkUnnamed(tmp_.get(), dir_.get(), name.c_str()) == 0) {
          temp_ = name;
          named_ = true;
          Set(TempGuard::State::kTemporary);
          break;
        }
        if (errno != EEXIST || tries == kNameTries) Fail("cannot write");
      }
    }
    if (sys::Exchange(dir_.get(), temp_.c_str(), name_.c_str()) == 0) {
      Set(TempGuard::State::kExchanged);
      return;
    }
    const int e = errno;
    if (e == ENOENT && ::renameat(dir_.get(), temp_.c_str(), dir_.get(), name_.c_str()) == 0) {
      Set(TempGuard::State::kLinkedNew);
      return;
    }
    if (sys::ExchangeUnsupported(e)) {
      // The old file keeps a second name until Finish, so that it can be put
      // back.
      const std::string backup = TempName(name_);
      if (::linkat(dir_.get(), name_.c_str(), dir_.get(), backup.c_str(), 0) != 0) {
        if (errno != ENOENT || ::renameat(dir_.get(), temp_.c_str(), dir_.get(), name_.c_str()) != 0)
          Fail("cannot write");
        Set(TempGuard::State::kLinkedNew);
        return;
      }
      if (::renameat(dir_.get(), temp_.c_str(), dir_.get(), name_.c_str()) != 0) {
        const int failed = errno;
        ::unlinkat(dir_.get(), backup.c_str(), 0);
        Fail("cannot write", failed);
      }
      temp_ = backup;
      Set(TempGuard::State::kBackedUp);
      return;
    }
    Fail("cannot write", e);
  }

  // Where the old file cannot be put back, it stays at the temporary name
  // rather than be lost.
  void Undo() noexcept override {
    SignalBlock block;
    switch (state_) {
      case TempGuard::State::kExchanged:
        // The temporary name then holds the new file, which Finish removes.
        Set(sys::Exchange(dir_.get(), temp_.c_str(), name_.c_str()) == 0 ? TempGuard::State::kTemporary
                                                                          : TempGuard::State::kNone);
        break;
      case TempGuard::State::kLinkedNew:
        ::unlinkat(dir_.get(), name_.c_str(), 0);
        Set(TempGuard::State::kNone);
        break;
      case TempGuard::State::kBackedUp:
        ::renameat(dir_.get(), temp_.c_str(), dir_.get(), name_.c_str());
        Set(TempGuard::State::kNone);
        break;
      default:
        break;
    }
  }

  // Removes what is left at the temporary name: the old file once the new one
  // is in place, or the new one of a run that did not put it there.
  void Finish() noexcept override {
    SignalBlock block;
    if (state_ != TempGuard::State::kNone && state_ != TempGuard::State::kLinkedNew)
      ::unlinkat(dir_.get(), temp_.c_str(), 0);
    Set(TempGuard::State::kNone);
  }

 private:
  void MakeNamed() {
    for (int tries = 0;; ++tries) {
      const std::string name = TempName(name_);
      SignalBlock block;
      const int fd = ::openat(dir_.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        tmp_.Reset(fd);
        temp_ = name;
        named_ = true;
        Set(TempGuard::State::kTemporary);
        return;
      }
      if (errno != EEXIST || tries == kNameTries) Fail("cannot write");
    }
  }
  void Set(TempGuard::State state) {
    state_ = state;
    guard_.Set(state, dir_.get(), temp_, name_);
  }

  Fd dir_;
  Fd newLock_, oldLock_;  // shared locks on the new file and the old one
  std::string name_;  // the target's name in dir_
  std::string temp_;  // the temporary's name in dir_, once it has one
  bool named_ = false;
  struct stat old_ {};
  bool hadOld_ = false;
  TempGuard::State state_ = TempGuard::State::kNone;
  TempGuard guard_;
};

// Written into an open file from a temporary without a name in $TMPDIR.
class CopyingSink : public GatheringSink {
 public:
  void Prepare() override {
    if (prepared_) return;
    Flush();
    if (borrowed_ < 0 && !out_.open()) {
      // Opening a FIFO waits here for its reader.
      out_.Reset(::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
      if (!out_.open()) Fail("cannot write");
    }
    Reserve();
    prepared_ = true;
  }

  void Install() override {
    Prepare();
    if (::lseek(tmp_.get(), 0, SEEK_SET) != 0) Fail(tmpFailure_);
    std::vector<char> chunk(kBuffer);
    for (;;) {
      const ssize_t n = ::read(tmp_.get(), chunk.data(), chunk.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail(tmpFailure_);
      if (n == 0) break;
      WriteAll(Out(), chunk.data(), static_cast<size_t>(n), "cannot write");
    }
    Cut();
    if (out_.open() && out_.Close() != 0) Fail("cannot write");
  }

 protected:
  CopyingSink(std::string shown, std::string target, int fd)
      : GatheringSink(std::move(shown)), target_(std::move(target)), borrowed_(fd) {
    const char* env = std::getenv("TMPDIR");
    const std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
    tmpFailure_ = "cannot write a temporary file in " + dir;
    Fd d;
    d.Reset(sys::OpenDirectory(dir.c_str()));
    if (d.open()) tmp_.Reset(sys::OpenUnnamed(d.get(), 0600));
    if (!tmp_.open()) {
      std::string tmp = dir + "/orvane-XXXXXX";
      SignalBlock block;
      tmp_.Reset(::mkstemp(tmp.data()));
      if (!tmp_.open()) Fail(tmpFailure_);
      ::unlink(tmp.c_str());
    }
  }
  int Out() const { return borrowed_ >= 0 ? borrowed_ : out_.get(); }
  virtual void Reserve() {}
  virtual void Cut() {}

 private:
  std::string target_;
  int borrowed_;  // a descriptor the process holds open, or -1
  Fd out_;
};

// A regular file rewritten in place, with every link seeing the new content.
class RewritingSink final : public CopyingSink {
 public:
  RewritingSink(std::string shown, std::string target) : CopyingSink(std::move(shown), std::move(target), -1) {}
  CommitKind Kind() const override { return CommitKind::kInPlace; }

 private:
  // Room is reserved before the old content is touched, so a full disk is
  // found while the file is still whole.
  void Reserve() override {
    if (sys::ReserveRoom(Out(), static_cast<off_t>(size_)) != 0) Fail("cannot write");
  }
  void Cut() override {
    if (::ftruncate(Out(), static_cast<off_t>(size_)) != 0) Fail("cannot write");
  }
};

class StreamingSink final : public CopyingSink {
 public:
  StreamingSink(std::string shown, std::string target, int fd) : CopyingSink(std::move(shown), std::move(target), fd) {}
  CommitKind Kind() const override { return CommitKind::kStream; }
};

}  // namespace

std::unique_ptr<CommitSink> MakeReplacingSink(std::string shown, std::string target, const struct stat* old) {
  return std::make_unique<ReplacingSink>(std::move(shown), target, old);
}

std::unique_ptr<CommitSink> MakeRewritingSink(std::string shown, std::string target) {
  return std::make_unique<RewritingSink>(std::move(shown), std::move(target));
}

std::unique_ptr<CommitSink> MakeStreamingSink(std::string shown, std::string target, int fd) {
  return std::make_unique<StreamingSink>(std::move(shown), std::move(target), fd);
}

}  // namespace orvane
