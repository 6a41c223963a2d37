#include "debug/history.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runner/stats.h"

namespace orvane::debug {

void ShadowStack::Make(const Op& op) {
  if (at_ == log_.size()) log_.push_back(op);
  ++at_;
  if (op.push)
    frames_.push_back(op.s);
  else
    frames_.pop_back();
}

void ShadowStack::Push(const Shadow& s) {
  while (!frames_.empty() && frames_.back().slot <= s.slot) Make({frames_.back(), false});
  Make({s, true});
}

void ShadowStack::Undo(uint64_t mark) {
  while (Mark() > mark && at_ > 0) {
    const Op& op = log_[--at_];
    if (op.push)
      frames_.pop_back();
    else
      frames_.push_back(op.s);
  }
}

void ShadowStack::Forget(uint64_t mark) {
  while (base_ < mark && at_ > 0) {
    log_.pop_front();
    ++base_;
    --at_;
  }
}

void ShadowStack::ClearLog() {
  base_ += at_;
  log_.clear();
  at_ = 0;
}

int InputLog::Read() {
  if (at_ < end()) return keys_[static_cast<size_t>(at_++ - base_)];
  const int c = real_->Read();
  if (c >= 0) {
    keys_.push_back(static_cast<uint8_t>(c));
    ++at_;
  }
  return c;
}

bool InputLog::Write(const uint8_t* bytes, size_t n) {
  if (real_->Write(bytes, n)) return true;
  error = real_->error;
  return false;
}

bool InputLog::Flush() {
  if (real_->Flush()) return true;
  error = real_->error;
  return false;
}

void InputLog::Forget(uint64_t at) {
  while (base_ < at && !keys_.empty()) {
    keys_.pop_front();
    ++base_;
  }
}

namespace {

constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool Exists(int dir, const std::string& host, struct stat& st) {
  return fstatat(dir, host.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool WriteAll(int fd, const uint8_t* p, size_t n, off_t at) {
  while (n > 0) {
    const ssize_t k = pwrite(fd, p, n, at);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
    at += k;
  }
  return true;
}

// A file of the folder opened to be changed back: only one regular file of
// one link, never what a link (or a second name) leads to outside.
int OpenToChange(int dir, const char* host, int flags) {
  const int fd = openat(dir, host, flags | kOpenFlags);
  struct stat st;
  if (fd < 0) return -1;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

// Sets a mode through a descriptor of the file itself, not a name looked up
// again (a file without read permission is reached through O_PATH).
bool SetMode(int dir, const char* host, unsigned mode) {
  const int fd = OpenToChange(dir, host, O_PATH);
  if (fd < 0) return false;
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const bool ok = chmod(self.c_str(), mode) == 0;
  const int e = errno;
  close(fd);
  errno = e;
  return ok;
}

}  // namespace

void FileJournal::Add(Change c) {
  c.at = now;
  bytes_ += sizeof(Change) + c.host.size() + c.to.size() + c.old.size() + c.now.size();
  changes_.push_back(std::move(c));
  applied_ = changes_.size();
}

// The whole of host into c.old; false (and the cut named) when it is too
// large to keep.
bool FileJournal::Content(int dir, const std::string& host, Change& c, const char* doing) {
  const int fd = openat(dir, host.c_str(), O_RDONLY | kOpenFlags);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    return false;
  }
  c.oldMode = st.st_mode & 07777;
  c.oldSize = st.st_size;
  if (static_cast<uint64_t>(st.st_size) > kMaxChange) {
    close(fd);
    cut_ = doing;
    cut_ += ' ';
    cut_ += host;
    cut_ += ", ";
    cut_ += runner::Grouped(static_cast<uint64_t>(st.st_size));
    cut_ += " bytes";
    return false;
  }
  c.old.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < c.old.size()) {
    const ssize_t k = pread(fd, c.old.data() + got, c.old.size() - got, static_cast<off_t>(got));
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) break;
    got += static_cast<size_t>(k);
  }
  c.old.resize(got);
  close(fd);
  return true;
}

namespace {

// The folder of user's files below the drive's folder dir, for one change:
// dir itself for user 0, else a descriptor of that subfolder (never through
// a link), closed at the end.
class UserDir {
 public:
  UserDir(int dir, int user) : top_(dir), fd_(runner::OpenUserFolder(dir, user)) {}
  ~UserDir() {
    if (fd_ >= 0 && fd_ != top_) close(fd_);
  }
  UserDir(const UserDir&) = delete;
  UserDir& operator=(const UserDir&) = delete;
  int fd() const { return fd_; }

 private:
  int top_, fd_;
};

}  // namespace

void FileJournal::MakingFolder(int dir, int user) {
  dir_ = dir;
  Change c;
  c.kind = Change::kFolder;
  c.user = user;
  c.host = runner::UserFolderName(user);
  Add(std::move(c));
}

void FileJournal::Opening(int dir, int user, const std::string& host, runner::Disk::How how) {
  dir_ = dir;
  const UserDir folder(dir, user);
  struct stat st;
  Change c;
  c.user = user;
  c.host = host;
  if (how == runner::Disk::How::kCreate) {
    if (folder.fd() >= 0 && Exists(folder.fd(), host, st)) return;  // refused: nothing is made
    c.kind = Change::kMake;
  } else if (how == runner::Disk::How::kTruncate) {
    c.kind = Change::kEmpty;
    if (!Content(folder.fd(), host, c, "emptying")) return;
  } else {
    return;
  }
  Add(std::move(c));
}

void FileJournal::Writing(int dir, int user, const std::string& host, int fd, uint32_t record, const uint8_t* in) {
  dir_ = dir;
  struct stat st;
  if (fstat(fd, &st) != 0) return;
  Change c;
  c.kind = Change::kWrite;
  c.user = user;
  c.host = host;
  c.record = record;
  c.oldSize = st.st_size;
  c.now.assign(in, in + 128);
  const off_t at = static_cast<off_t>(record) * 128;
  if (at < st.st_size) {
    c.old.resize(static_cast<size_t>(std::min<off_t>(128, st.st_size - at)));
    if (pread(fd, c.old.data(), c.old.size(), at) != static_cast<ssize_t>(c.old.size())) return;
  }
  Add(std::move(c));
}

void FileJournal::Removing(int dir, int user, const std::string& host) {
  dir_ = dir;
  const UserDir folder(dir, user);
  Change c;
  c.kind = Change::kRemove;
  c.user = user;
  c.host = host;
  if (!Content(folder.fd(), host, c, "deleting")) return;
  Add(std::move(c));
}

void FileJournal::Renaming(int dir, int user, const std::string& from, const std::string& to) {
  dir_ = dir;
  const UserDir folder(dir, user);
  struct stat st;
  if (folder.fd() < 0 || !Exists(folder.fd(), from, st) || Exists(folder.fd(), to, st)) return;  // refused
  Change c;
  c.kind = Change::kRename;
  c.user = user;
  c.host = from;
  c.to = to;
  Add(std::move(c));
}

void FileJournal::SettingReadOnly(int dir, int user, const std::string& host, bool readOnly) {
  dir_ = dir;
  const UserDir folder(dir, user);
  struct stat st;
  if (folder.fd() < 0 || !Exists(folder.fd(), host, st)) return;
  Change c;
  c.kind = Change::kMode;
  c.user = user;
  c.host = host;
  c.oldMode = st.st_mode & 07777;
  c.newMode = readOnly ? c.oldMode & ~static_cast<unsigned>(S_IWUSR | S_IWGRP | S_IWOTH) : c.oldMode | S_IWUSR;
  Add(std::move(c));
}

void FileJournal::Failed(const char* what, const std::string& host) {
  error = std::string("cannot ") + what + " " + host + ": " + strerror(errno);
}

void FileJournal::Undo(const Change& c) {
  if (c.kind == Change::kFolder) {
    // Only an empty folder goes: one the user filled by hand since stays.
    if (unlinkat(dir_, c.host.c_str(), AT_REMOVEDIR) != 0 && errno != ENOTEMPTY && errno != ENOENT)
      Failed("remove the folder", c.host);
    return;
  }
  const UserDir folder(dir_, c.user);
  if (folder.fd() < 0) return Failed("open the folder", runner::UserFolderName(c.user));
  UndoIn(folder.fd(), c);
}

void FileJournal::UndoIn(int dir, const Change& c) {
  const char* h = c.host.c_str();
  switch (c.kind) {
    case Change::kMake:
      if (unlinkat(dir, h, 0) != 0) Failed("delete", c.host);
      break;
    case Change::kWrite:
    case Change::kEmpty: {
      const int fd = OpenToChange(dir, h, O_WRONLY);
      if (fd < 0) return Failed("write", c.host);
      const off_t at = c.kind == Change::kWrite ? static_cast<off_t>(c.record) * 128 : 0;
      if (!WriteAll(fd, c.old.data(), c.old.size(), at) || ftruncate(fd, c.oldSize) != 0) Failed("write", c.host);
      close(fd);
      break;
    }
    case Change::kRemove: {
      const int fd = openat(dir, h, O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0600);
      if (fd < 0) return Failed("make", c.host);
      if (!WriteAll(fd, c.old.data(), c.old.size(), 0) || fchmod(fd, c.oldMode) != 0) Failed("write", c.host);
      close(fd);
      break;
    }
    case Change::kRename:
      if (renameat2(dir, c.to.c_str(), dir, h, RENAME_NOREPLACE) != 0) Failed("rename", c.to);
      break;
    case Change::kMode:
      if (!SetMode(dir, h, c.oldMode)) Failed("set the attributes of", c.host);
      break;
    case Change::kFolder:  // made or removed in the drive's folder, by Undo
      break;
  }
}

void FileJournal::Redo(const Change& c) {
  if (c.kind == Change::kFolder) {
    if (mkdirat(dir_, c.host.c_str(), 0777) != 0 && errno != EEXIST) Failed("make the folder", c.host);
    return;
  }
  const UserDir folder(dir_, c.user);
  if (folder.fd() < 0) return Failed("open the folder", runner::UserFolderName(c.user));
  RedoIn(folder.fd(), c);
}

void FileJournal::RedoIn(int dir, const Change& c) {
  const char* h = c.host.c_str();
  switch (c.kind) {
    case Change::kMake: {
      const int fd = openat(dir, h, O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0666);
      if (fd < 0) return Failed("make", c.host);
      close(fd);
      break;
    }
    case Change::kEmpty: {
      const int fd = OpenToChange(dir, h, O_WRONLY);
      if (fd < 0 || ftruncate(fd, 0) != 0) Failed("write", c.host);
      if (fd >= 0) close(fd);
      break;
    }
    case Change::kWrite: {
      const int fd = OpenToChange(dir, h, O_WRONLY);
      if (fd < 0) return Failed("write", c.host);
      if (!WriteAll(fd, c.now.data(), c.now.size(), static_cast<off_t>(c.record) * 128)) Failed("write", c.host);
      close(fd);
      break;
    }
    case Change::kRemove:
      if (unlinkat(dir, h, 0) != 0) Failed("delete", c.host);
      break;
    case Change::kRename:
      if (renameat2(dir, h, dir, c.to.c_str(), RENAME_NOREPLACE) != 0) Failed("rename", c.host);
      break;
    case Change::kMode:
      if (!SetMode(dir, h, c.newMode)) Failed("set the attributes of", c.host);
      break;
    case Change::kFolder:  // by Redo
      break;
  }
}

bool FileJournal::Move(uint64_t pos) {
  bool changed = false;
  while (applied_ > 0 && changes_[applied_ - 1].at >= pos) {
    Undo(changes_[--applied_]);
    changed = true;
  }
  while (applied_ < changes_.size() && changes_[applied_].at < pos) {
    Redo(changes_[applied_++]);
    changed = true;
  }
  return changed;
}

void FileJournal::Forget(uint64_t pos) {
  while (!changes_.empty() && applied_ > 0 && changes_.front().at < pos) {
    const Change& c = changes_.front();
    bytes_ -= sizeof(Change) + c.host.size() + c.to.size() + c.old.size() + c.now.size();
    changes_.pop_front();
    --applied_;
  }
}

void FileJournal::Drop(uint64_t pos) {
  while (!changes_.empty() && changes_.back().at >= pos) {
    const Change& c = changes_.back();
    bytes_ -= sizeof(Change) + c.host.size() + c.to.size() + c.old.size() + c.now.size();
    changes_.pop_back();
  }
  applied_ = std::min(applied_, changes_.size());
}

void FileJournal::Clear() {
  changes_.clear();
  applied_ = 0;
  bytes_ = 0;
}

std::string FileJournal::TakeCut() {
  std::string c;
  c.swap(cut_);
  return c;
}

void History::Clear() {
  intervals.clear();
  fine.Clear();
  stack.ClearLog();
  // The keys stepped back over are read again from here on.
  input.Forget(input.at());
  files.Clear();
  calls_.clear();
  oldWrites_ = 0;
  callBytes_ = 0;
}

Interval& History::Begin(uint64_t pos, uint64_t t, std::vector<uint8_t> cpu, const runner::Machine::SystemState& sys,
                         uint64_t inputMark) {
  if (!intervals.empty()) {
    // Done growing: it keeps what it holds, no more.
    intervals.back().writes.shrink_to_fit();
    oldWrites_ += intervals.back().writes.size();
  }
  Interval& i = intervals.emplace_back();
  i.first = pos;
  i.t = t;
  i.cpu = std::move(cpu);
  i.shadow = stack.Mark();
  i.input = inputMark;
  i.sys = sys;
  i.writes.reserve(1024);
  return i;
}

size_t History::Trim(uint64_t live, size_t cur) {
  size_t dropped = 0;
  while (intervals.size() > 2 && cur - dropped > 1) {
    const bool enough = live - intervals[1].first >= kKeep;
    const size_t inputBytes = machine ? machine->InputBytes() : input.Bytes();
    if (!enough && oldWrites_ * sizeof(uint32_t) + callBytes_ + stack.Bytes() + inputBytes + files.Bytes() <=
                      kMaxBytes)
      break;
    oldWrites_ -= intervals.front().writes.size();
    if (fine.first == intervals.front().first) fine.Clear();
    intervals.pop_front();
    ++dropped;
    EraseCalls(calls_.begin(), calls_.lower_bound(intervals.front().first));
    stack.Forget(intervals.front().shadow);
    if (machine)
      machine->ForgetInput(intervals.front().input);
    else
      input.Forget(intervals.front().input);
    files.Forget(intervals.front().first);
  }
  return dropped;
}

void History::Undo(runner::Memory& memory, size_t interval, size_t from, size_t to) const {
  const std::vector<uint32_t>& w = intervals[interval].writes;
  for (size_t i = to; i-- > from;) memory.bytes[w[i] >> 8] = static_cast<uint8_t>(w[i]);
}

void History::AddCall(uint64_t at, CallRecord record) {
  callBytes_ += Bytes(record);
  CallRecord& r = calls_[at];
  if (!r.cpuAfter.empty()) callBytes_ -= Bytes(r);
  r = std::move(record);
}

void History::EraseCalls(std::map<uint64_t, CallRecord>::iterator from, std::map<uint64_t, CallRecord>::iterator to) {
  for (auto i = from; i != to; ++i) callBytes_ -= Bytes(i->second);
  calls_.erase(from, to);
}

}  // namespace orvane::debug
