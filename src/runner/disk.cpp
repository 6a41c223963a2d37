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

std::string UserFolderName(int user) { return user == 0 ? "" : std::to_string(user); }

int OpenUserFolder(int top, int user) {
  if (user == 0) return top;
  // One name below top, a folder and not a link to one: O_NOFOLLOW refuses
  // a link (ELOOP), O_DIRECTORY anything else that is not a folder.
  return openat(top, UserFolderName(user).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::string UserPath(int user, const std::string& host) {
  return user == 0 ? host : UserFolderName(user) + "/" + host;
}

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

int Disk::Folder(int user, bool make) {
  notAFolder = false;
  int fd = OpenUserFolder(dir_, user);
  if (fd < 0 && errno == ENOENT && make) {
    if (journal) journal->MakingFolder(dir_, user);
    const bool made = mkdirat(dir_, UserFolderName(user).c_str(), 0777) == 0 || errno == EEXIST;
    if (!made) {
      error = "cannot make " + UserFolderName(user) + ", the folder of user " + std::to_string(user) +
              "'s files: " + strerror(errno);
      return -1;
    }
    fd = OpenUserFolder(dir_, user);
  }
  if (fd >= 0) return fd;
  const int e = errno;
  struct stat st;
  notAFolder = (e == ELOOP || e == ENOTDIR) && fstatat(dir_, UserFolderName(user).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (notAFolder)
    error = UserFolderName(user) + " is " + (S_ISREG(st.st_mode) ? "a file" : KindOf(st.st_mode)) + ", not a folder for user " + std::to_string(user) +
            "'s files";
  else
    error = "cannot open " + UserFolderName(user) + ", the folder of user " + std::to_string(user) + "'s files: " +
            strerror(e);
  errno = e;
  return -1;
}

void Disk::Done(int folder) const {
  if (folder >= 0 && folder != dir_) close(folder);
}

std::vector<Disk::Entry> Disk::List(int user, const CpmName& pattern) {
  const int folder = user == 0 ? dir_ : OpenUserFolder(dir_, user);
  if (folder < 0) return {};
  std::vector<Entry> found = ListIn(folder, user, pattern);
  Done(folder);
  return found;
}

std::vector<Disk::Entry> Disk::ListIn(int folder, int user, const CpmName& pattern) {
  std::vector<Entry> found;
  const int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* d = fd < 0 ? nullptr : fdopendir(fd);
  if (!d) {
    if (fd >= 0) close(fd);
    return found;
  }
  CpmName name;
  while (const dirent* e = readdir(d)) {
    struct stat st;
    if (!HostToCpm(e->d_name, name) || !Matches(pattern, name)) continue;
    if (fstatat(folder, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    Entry entry{name, e->d_name, user, S_ISREG(st.st_mode), KindOf(st.st_mode), st.st_size, st.st_nlink,
                (st.st_mode & S_IWUSR) == 0};
    found.push_back(std::move(entry));
  }
  closedir(d);
  std::sort(found.begin(), found.end(),
            [](const Entry& a, const Entry& b) { return a.name != b.name ? a.name < b.name : a.host < b.host; });
  return found;
}

namespace {

// The regular files of found, one per CP/M name.
std::vector<Disk::Entry> Files(std::vector<Disk::Entry> found) {
  found.erase(std::remove_if(found.begin(), found.end(), [](const Disk::Entry& e) { return !e.regular; }),
              found.end());
  found.erase(std::unique(found.begin(), found.end(),
                          [](const Disk::Entry& a, const Disk::Entry& b) { return a.name == b.name; }),
              found.end());
  return found;
}

}  // namespace

std::vector<Disk::Entry> Disk::Find(int user, const CpmName& pattern) { return Files(List(user, pattern)); }

std::vector<Disk::Entry> Disk::FindEvery() {
  const std::vector<Entry> top = ListIn(dir_, 0, CpmName(11, '?'));
  std::vector<Entry> every = Files(top);
  bool folders[kMaxUser + 1] = {};
  for (const Entry& e : top) {
    // "1" to "31", as UserFolderName writes them: no leading zero.
    const std::string& h = e.host;
    if (e.regular || h.size() > 2 || h[0] < '1' || h[0] > '9' || (h.size() == 2 && (h[1] < '0' || h[1] > '9')))
      continue;
    const int u = std::stoi(h);
    if (u <= kMaxUser) folders[u] = true;
  }
  for (int u = 1; u <= kMaxUser; ++u) {
    if (!folders[u]) continue;
    const std::vector<Entry> theirs = Find(u, CpmName(11, '?'));
    every.insert(every.end(), theirs.begin(), theirs.end());
  }
  return every;
}

Disk::File* Disk::Kept(int user, const CpmName& key) {
  auto it = kept_.find({user, key});
  return it == kept_.end() ? nullptr : &it->second;
}

Disk::File* Disk::Keep(int user, const CpmName& key, const std::string& host, bool twins, How how) {
  Drop(user, key);
  if (kept_.size() >= kMaxKept) CloseAll();
  const int folder = Folder(user, how == How::kCreate);
  if (folder < 0) return nullptr;
  // Never blocks (a FIFO put in the file's place) and never takes a terminal.
  // A file to empty is opened as it is and emptied through its descriptor
  // only once that is known to be one regular file of one link: O_TRUNC
  // would empty whatever another process had put under the name by then.
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const int extra = how == How::kCreate ? O_CREAT | O_EXCL : 0;
  if (journal && how == How::kCreate) journal->Opening(dir_, user, host, how);
  int fd = openat(folder, host.c_str(), O_RDWR | extra | kFlags, 0666);
  const bool writable = fd >= 0;
  const int refused = writable ? 0 : errno;
  if (fd < 0 && how == How::kOpen && (errno == EACCES || errno == EROFS || errno == ETXTBSY))
    fd = openat(folder, host.c_str(), O_RDONLY | kFlags);
  const int opened = errno;
  Done(folder);
  errno = opened;
  const std::string path = UserPath(user, host);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) != 0) {
    close(fd);
    fd = -1;
  } else if (fd >= 0 && !S_ISREG(st.st_mode)) {
    close(fd);
    error = path + " is " + KindOf(st.st_mode) + ", not a file";
    return nullptr;
  }
  if (fd >= 0 && how == How::kTruncate) {
    if (st.st_nlink > 1) {
      close(fd);
      error = "cannot change " + path + ": it has " + std::to_string(st.st_nlink) +
              " hard links, so it is shared with places outside the folder";
      return nullptr;
    }
    if (journal) journal->Opening(dir_, user, host, how);
    if (ftruncate(fd, 0) != 0) {
      const int e = errno;
      close(fd);
      errno = e;
      fd = -1;
    }
  }
  if (fd < 0) {
    Fail(how == How::kCreate ? "cannot create" : how == How::kTruncate ? "cannot write" : "cannot read", path);
    return nullptr;
  }
  File& f = kept_[{user, key}];
  f = File{host, user, fd, writable, refused, twins, st.st_nlink, (st.st_mode & S_IWUSR) == 0};
  return &f;
}

void Disk::Drop(int user, const CpmName& key) {
  auto it = kept_.find({user, key});
  if (it == kept_.end()) return;
  close(it->second.fd);
  kept_.erase(it);
}

void Disk::DropHost(int user, const std::string& host) {
  for (auto it = kept_.begin(); it != kept_.end();) {
    if (it->second.user == user && it->second.host == host) {
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
  if (fstat(f.fd, &st) != 0) return Fail("cannot read", UserPath(f.user, f.host)), -1;
  return st.st_size;
}

int Disk::ReadRecord(const File& f, uint32_t record, uint8_t* out) {
  int got = 0;
  while (got < 128) {
    const ssize_t n = pread(f.fd, out + got, 128 - got, static_cast<off_t>(record) * 128 + got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail("cannot read", UserPath(f.user, f.host)), -1;
    if (n == 0) break;
    got += static_cast<int>(n);
  }
  return got;
}

bool Disk::WriteRecord(const File& f, uint32_t record, const uint8_t* in) {
  if (!f.writable) {
    errno = f.refused;
    return Fail("cannot write", UserPath(f.user, f.host));
  }
  if (journal) journal->Writing(dir_, f.user, f.host, f.fd, record, in);
  int done = 0;
  while (done < 128) {
    const ssize_t n = pwrite(f.fd, in + done, 128 - done, static_cast<off_t>(record) * 128 + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return Fail("cannot write", UserPath(f.user, f.host));
    }
    done += static_cast<int>(n);
  }
  return true;
}

bool Disk::OneFile(int dir, int user, const std::string& host, const char* what) {
  // The name as it is now, not as the listing saw it: a regular file of one
  // link, else nothing is done.
  const std::string path = UserPath(user, host);
  const int fd = openat(dir, host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  const bool ok = fd >= 0 && fstat(fd, &st) == 0;
  const int e = errno;
  if (fd >= 0) close(fd);
  if (!ok) return errno = e, Fail(what, path);
  if (!S_ISREG(st.st_mode)) return error = std::string(what) + " " + path + ": it is " + KindOf(st.st_mode), false;
  if (st.st_nlink > 1)
    return error = "cannot change " + path + ": it has " + std::to_string(st.st_nlink) +
                   " hard links, so it is shared with places outside the folder",
           false;
  return true;
}

// A name removed or renamed relative to the folder's descriptor only ever
// changes the folder: whatever is under the name by then (a link another
// process put there) loses or changes that name, and the file it leads to
// is not touched.
bool Disk::Remove(int user, const std::string& host) {
  DropHost(user, host);
  const int folder = Folder(user, false);
  if (folder < 0) return false;
  bool ok = OneFile(folder, user, host, "cannot delete");
  if (ok && journal) journal->Removing(dir_, user, host);
  ok = ok && (unlinkat(folder, host.c_str(), 0) == 0 || Fail("cannot delete", UserPath(user, host)));
  Done(folder);
  return ok;
}

bool Disk::Rename(int user, const std::string& from, const std::string& to) {
  DropHost(user, from);
  DropHost(user, to);
  const int folder = Folder(user, false);
  if (folder < 0) return false;
  bool ok = OneFile(folder, user, from, "cannot rename");
  if (ok && journal) journal->Renaming(dir_, user, from, to);
  ok = ok && (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0 ||
              Fail("cannot rename", UserPath(user, from)));
  Done(folder);
  return ok;
}

bool Disk::ReadOnly(int user, const std::string& host) {
  const int folder = user == 0 ? dir_ : OpenUserFolder(dir_, user);
  struct stat st;
  const bool ro = folder >= 0 && fstatat(folder, host.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !(st.st_mode & S_IWUSR);
  Done(folder);
  return ro;
}

bool Disk::SetReadOnly(int user, const std::string& host, bool readOnly) {
  // The mode is changed through a descriptor of the file found under the
  // name without following a link, never through the name again. A file
  // its owner may not read is reached by an O_PATH descriptor, and changed
  // through /proc's name for that descriptor, which is that same inode.
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const std::string path = UserPath(user, host);
  const int folder = Folder(user, false);
  if (folder < 0) return false;
  int fd = openat(folder, host.c_str(), O_RDONLY | kFlags);
  bool byPath = false;
  if (fd < 0 && errno == EACCES) fd = openat(folder, host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC), byPath = true;
  const int opened = errno;
  Done(folder);
  errno = opened;
  if (fd < 0) return Fail("cannot set the attributes of", path);
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    close(fd);
    return error = "cannot set the attributes of " + path + ": it is " + KindOf(st.st_mode), false;
  }
  if (ok && st.st_nlink > 1) {
    close(fd);
    return error = "cannot change " + path + ": it has " + std::to_string(st.st_nlink) +
                   " hard links, so it is shared with places outside the folder",
           false;
  }
  // Read-only takes every write permission away; writable gives the owner's back.
  const mode_t mode = readOnly ? st.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)
                               : st.st_mode | S_IWUSR;
  if (ok && (mode & 07777) != (st.st_mode & 07777)) {
    DropHost(user, host);  // a kept file is opened afresh, with its new permission
    if (journal) journal->SettingReadOnly(dir_, user, host, readOnly);
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
  return ok || Fail("cannot set the attributes of", path);
}

uint64_t Disk::FreeBytes() {
  struct statvfs v;
  if (fstatvfs(dir_, &v) != 0) return UINT64_MAX;
  return static_cast<uint64_t>(v.f_bavail) * v.f_frsize;
}

}  // namespace orvane::runner
