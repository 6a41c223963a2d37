#include "runner/disk.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>

namespace orvane::runner {

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

std::vector<Disk::Entry> Disk::Find(const CpmName& pattern) {
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
    if (fstatat(dir_, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    found.push_back({name, e->d_name});
  }
  closedir(d);
  std::sort(found.begin(), found.end(),
            [](const Entry& a, const Entry& b) { return a.name != b.name ? a.name < b.name : a.host < b.host; });
  found.erase(std::unique(found.begin(), found.end(), [](const Entry& a, const Entry& b) { return a.name == b.name; }),
              found.end());
  return found;
}

int Disk::Fd(const std::string& host, bool write) {
  auto it = open_.find(host);
  if (it != open_.end() && (it->second.writable || !write)) return it->second.fd;
  Forget(host);
  if (open_.size() >= 16) CloseAll();
  int fd = openat(dir_, host.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  bool writable = fd >= 0;
  if (fd < 0 && !write && (errno == EACCES || errno == EROFS))
    fd = openat(dir_, host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    Fail(write ? "cannot write" : "cannot read", host);
    return -1;
  }
  open_[host] = {fd, writable};
  return fd;
}

void Disk::Forget(const std::string& host) {
  auto it = open_.find(host);
  if (it == open_.end()) return;
  close(it->second.fd);
  open_.erase(it);
}

void Disk::CloseAll() {
  for (auto& [host, f] : open_) close(f.fd);
  open_.clear();
}

int64_t Disk::Size(const std::string& host) {
  struct stat st;
  if (fstatat(dir_, host.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Fail("cannot read", host), -1;
  return st.st_size;
}

int Disk::ReadRecord(const std::string& host, uint32_t record, uint8_t* out) {
  const int fd = Fd(host, false);
  if (fd < 0) return -1;
  int got = 0;
  while (got < 128) {
    const ssize_t n = pread(fd, out + got, 128 - got, static_cast<off_t>(record) * 128 + got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail("cannot read", host), -1;
    if (n == 0) break;
    got += static_cast<int>(n);
  }
  return got;
}

bool Disk::WriteRecord(const std::string& host, uint32_t record, const uint8_t* in) {
  const int fd = Fd(host, true);
  if (fd < 0) return false;
  int done = 0;
  while (done < 128) {
    const ssize_t n = pwrite(fd, in + done, 128 - done, static_cast<off_t>(record) * 128 + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return Fail("cannot write", host);
    }
    done += static_cast<int>(n);
  }
  return true;
}

bool Disk::Create(const std::string& host) {
  Forget(host);
  const int fd = openat(dir_, host.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return Fail("cannot create", host);
  open_[host] = {fd, true};
  return true;
}

bool Disk::Remove(const std::string& host) {
  Forget(host);
  return unlinkat(dir_, host.c_str(), 0) == 0 || Fail("cannot delete", host);
}

bool Disk::Rename(const std::string& from, const std::string& to) {
  Forget(from);
  Forget(to);
  return renameat(dir_, from.c_str(), dir_, to.c_str()) == 0 || Fail("cannot rename", from);
}

bool Disk::ReadOnly(const std::string& host) {
  struct stat st;
  return fstatat(dir_, host.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !(st.st_mode & S_IWUSR);
}

bool Disk::SetReadOnly(const std::string& host, bool readOnly) {
  struct stat st;
  if (fstatat(dir_, host.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
    return Fail("cannot set the attributes of", host);
  // Read-only takes every write permission away; writable gives the owner's back.
  const mode_t mode = readOnly ? st.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)
                               : st.st_mode | S_IWUSR;
  if ((mode & 07777) == (st.st_mode & 07777)) return true;
  Forget(host);
  return fchmodat(dir_, host.c_str(), mode & 07777, 0) == 0 || Fail("cannot set the attributes of", host);
}

uint64_t Disk::FreeBytes() {
  struct statvfs v;
  if (fstatvfs(dir_, &v) != 0) return UINT64_MAX;
  return static_cast<uint64_t>(v.f_bavail) * v.f_frsize;
}

}  // namespace orvane::runner
