#include "runner/disk.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>

namespace orvane::runner {

namespace {

// Open files kept at once; beyond it every one is let go (each is found
// again at its next use).
constexpr size_t kMaxKept = 64;

const char* KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISDIR(mode)) return "a folder";
  return "not a regular file";
}

}  // namespace

Disk::~Disk() {
  CloseAll();
  if (dir_ >= 0) close(dir_);
}

bool Disk::Fail(const std::string& what, const std::string& host) {
  error = what + " " + host + ": " + strerror(errno);
  return false;
}

bool Disk::Open(const std::string& folder) {
  dir_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_ < 0) return Fail("cannot open the folder", folder);
  return true;
}

std::vector<Disk::Entry> Disk::List(const CpmName& pattern) {
  std::vector<Entry> found;
  const int fd = openat(dir_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* d = fd < 0 ? nullptr : fdopendir(fd);
  if (!d) {
    if (fd >= 0) close(fd);
    return found;
  }
  CpmName name;
  while (const dirent* e = readdir(d)) {
    struct stat st;
    if (!HostToCpm(e->d_name, name) || !Matches(pattern, name)) continue;
    if (fstatat(dir_, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    Entry entry{name, e->d_name, S_ISREG(st.st_mode), KindOf(st.st_mode), st.st_size, st.st_nlink,
                (st.st_mode & S_IWUSR) == 0};
    found.push_back(std::move(entry));
  }
  closedir(d);
  std::sort(found.begin(), found.end(),
            [](const Entry& a, const Entry& b) { return a.name != b.name ? a.name < b.name : a.host < b.host; });
  return found;
}

std::vector<Disk::Entry> Disk::Find(const CpmName& pattern) {
  std::vector<Entry> found = List(pattern);
  found.erase(std::remove_if(found.begin(), found.end(), [](const Entry& e) { return !e.regular; }), found.end());
  found.erase(std::unique(found.begin(), found.end(), [](const Entry& a, const Entry& b) { return a.name == b.name; }),
              found.end());
  return found;
}

Disk::File* Disk::Kept(const CpmName& key) {
  auto it = kept_.find(key);
  return it == kept_.end() ? nullptr : &it->second;
}

Disk::File* Disk::Keep(const CpmName& key, const std::string& host, bool twins, How how) {
  Drop(key);
  if (kept_.size() >= kMaxKept) CloseAll();
  // Never blocks (a FIFO put in the file's place) and never takes a terminal.
  // A file to empty is opened as it is and emptied through its descriptor
  // only once that is known to be one regular file of one link: O_TRUNC
  // would empty whatever another process had put under the name by then.
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const int extra = how == How::kCreate ? O_CREAT | O_EXCL : 0;
  if (journal && how == How::kCreate) journal->Opening(dir_, host, how);
  int fd = openat(dir_, host.c_str(), O_RDWR | extra | kFlags, 0666);
  const bool writable = fd >= 0;
  const int refused = writable ? 0 : errno;
  if (fd < 0 && how == How::kOpen && (errno == EACCES || errno == EROFS || errno == ETXTBSY))
    fd = openat(dir_, host.c_str(), O_RDONLY | kFlags);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) != 0) {
    close(fd);
    fd = -1;
  } else if (fd >= 0 && !S_ISREG(st.st_mode)) {
    close(fd);
    error = host + " is " + KindOf(st.st_mode) + ", not a file";
    return nullptr;
  }
  if (fd >= 0 && how == How::kTruncate) {
    if (st.st_nlink > 1) {
      close(fd);
      error = "cannot change " + host + ": it has " + std::to_string(st.st_nlink) +
              " hard links, so it is shared with places outside the folder";
      return nullptr;
    }
    if (journal) journal->Opening(dir_, host, how);
    if (ftruncate(fd, 0) != 0) {
      const int e = errno;
      close(fd);
      errno = e;
      fd = -1;
    }
  }
  if (fd < 0) {
    Fail(how == How::kCreate ? "cannot create" : how == How::kTruncate ? "cannot write" : "cannot read", host);
    return nullptr;
  }
  File& f = kept_[key];
  f = File{host, fd, writable, refused, twins, st.st_nlink, (st.st_mode & S_IWUSR) == 0};
  return &f;
}

void Disk::Drop(const CpmName& key) {
  auto it = kept_.find(key);
  if (it == kept_.end()) return;
  close(it->second.fd);
  kept_.erase(it);
}

void Disk::DropHost(const std::string& host) {
  for (auto it = kept_.begin(); it != kept_.end();) {
    if (it->second.host == host) {
      close(it->second.fd);
      it = kept_.erase(it);
    } else {
      ++it;
    }
  }
}

void Disk::CloseAll() {
  for (auto& [key, f] : kept_) close(f.fd);
  kept_.clear();
}

int64_t Disk::Size(const File& f) {
  struct stat st;
  if (fstat(f.fd, &st) != 0) return Fail("cannot read", f.host), -1;
  return st.st_size;
}

int Disk::ReadRecord(const File& f, uint32_t record, uint8_t* out) {
  int got = 0;
  while (got < 128) {
    const ssize_t n = pread(f.fd, out + got, 128 - got, static_cast<off_t>(record) * 128 + got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail("cannot read", f.host), -1;
    if (n == 0) break;
    got += static_cast<int>(n);
  }
  return got;
}

bool Disk::WriteRecord(const File& f, uint32_t record, const uint8_t* in) {
  if (!f.writable) {
    errno = f.refused;
    return Fail("cannot write", f.host);
  }
  if (journal) journal->Writing(dir_, f.host, f.fd, record, in);
  int done = 0;
  while (done < 128) {
    const ssize_t n = pwrite(f.fd, in + done, 128 - done, static_cast<off_t>(record) * 128 + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return Fail("cannot write", f.host);
    }
    done += static_cast<int>(n);
  }
  return true;
}

bool Disk::OneFile(const std::string& host, const char* what) {
  // The name as it is now, not as the listing saw it: a regular file of one
  // link, else nothing is done.
  const int fd = openat(dir_, host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  const bool ok = fd >= 0 && fstat(fd, &st) == 0;
  const int e = errno;
  if (fd >= 0) close(fd);
  if (!ok) return errno = e, Fail(what, host);
  if (!S_ISREG(st.st_mode)) return error = std::string(what) + " " + host + ": it is " + KindOf(st.st_mode), false;
  if (st.st_nlink > 1)
    return error = "cannot change " + host + ": it has " + std::to_string(st.st_nlink) +
                   " hard links, so it is shared with places outside the folder",
           false;
  return true;
}

// A name removed or renamed relative to the folder's descriptor only ever
// changes the folder: whatever is under the name by then (a link another
// process put there) loses or changes that name, and the file it leads to
// is not touched.
bool Disk::Remove(const std::string& host) {
  DropHost(host);
  if (!OneFile(host, "cannot delete")) return false;
  if (journal) journal->Removing(dir_, host);
  return unlinkat(dir_, host.c_str(), 0) == 0 || Fail("cannot delete", host);
}

bool Disk::Rename(const std::string& from, const std::string& to) {
  DropHost(from);
  DropHost(to);
  if (!OneFile(from, "cannot rename")) return false;
  if (journal) journal->Renaming(dir_, from, to);
  return renameat2(dir_, from.c_str(), dir_, to.c_str(), RENAME_NOREPLACE) == 0 || Fail("cannot rename", from);
}

bool Disk::ReadOnly(const std::string& host) {
  struct stat st;
  return fstatat(dir_, host.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !(st.st_mode & S_IWUSR);
}

bool Disk::SetReadOnly(const std::string& host, bool readOnly) {
  // The mode is changed through a descriptor of the file found under the
  // name without following a link, never through the name again. A file
  // its owner may not read is reached by an O_PATH descriptor, and changed
  // through /proc's name for that descriptor, which is that same inode.
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = openat(dir_, host.c_str(), O_RDONLY | kFlags);
  bool byPath = false;
  if (fd < 0 && errno == EACCES) fd = openat(dir_, host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC), byPath = true;
  if (fd < 0) return Fail("cannot set the attributes of", host);
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    close(fd);
    return error = "cannot set the attributes of " + host + ": it is " + KindOf(st.st_mode), false;
  }
  if (ok && st.st_nlink > 1) {
    close(fd);
    return error = "cannot change " + host + ": it has " + std::to_string(st.st_nlink) +
                   " hard links, so it is shared with places outside the folder",
           false;
  }
  // Read-only takes every write permission away; writable gives the owner's back.
  const mode_t mode = readOnly ? st.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)
                               : st.st_mode | S_IWUSR;
  if (ok && (mode & 07777) != (st.st_mode & 07777)) {
    DropHost(host);  // a kept file is opened afresh, with its new permission
    if (journal) journal->SettingReadOnly(dir_, host, readOnly);
    if (byPath) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      ok = chmod(self.c_str(), mode & 07777) == 0;
    } else {
      ok = fchmod(fd, mode & 07777) == 0;
    }
  }
  const int e = errno;
  close(fd);
  errno = e;
  return ok || Fail("cannot set the attributes of", host);
}

uint64_t Disk::FreeBytes() {
  struct statvfs v;
  if (fstatvfs(dir_, &v) != 0) return UINT64_MAX;
  return static_cast<uint64_t>(v.f_bavail) * v.f_frsize;
}

}  // namespace orvane::runner
