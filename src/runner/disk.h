// Drive A: as a host folder. Files are found by their CP/M names without
// regard to case; every file operation goes through the folder's descriptor
// and never follows a symbolic link, so nothing outside the folder is touched.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "runner/names.h"

namespace orvane::runner {

class Disk {
 public:
  struct Entry {
    CpmName name;
    std::string host;
  };

  Disk() = default;
  ~Disk();
  Disk(const Disk&) = delete;
  Disk& operator=(const Disk&) = delete;

  // Opens the folder; false with error set when it cannot be.
  bool Open(const std::string& folder);
  // The regular files whose names have a CP/M form that match pattern, sorted
  // by CP/M name; of two host names with one CP/M name, the first in byte order.
  std::vector<Entry> Find(const CpmName& pattern);
  // Size in bytes; -1 with error set when the file is gone.
  int64_t Size(const std::string& host);
  // Reads record (128 bytes) into out; returns the bytes there were (0 past
  // the end), or -1 with error set.
  int ReadRecord(const std::string& host, uint32_t record, uint8_t* out);
  bool WriteRecord(const std::string& host, uint32_t record, const uint8_t* in);
  // Creates the file empty, or empties it when it is there.
  bool Create(const std::string& host);
  bool Remove(const std::string& host);
  bool Rename(const std::string& from, const std::string& to);
  void CloseAll();
  // The read-only attribute, kept as the host file's write permission.
  bool ReadOnly(const std::string& host);
  bool SetReadOnly(const std::string& host, bool readOnly);
  // The bytes the host has free for the folder (UINT64_MAX when it cannot tell).
  uint64_t FreeBytes();

  std::string error;

 private:
  int Fd(const std::string& host, bool write);
  void Forget(const std::string& host);
  bool Fail(const std::string& what, const std::string& host);
  int dir_ = -1;
  struct OpenFile {
    int fd;
    bool writable;
  };
  std::map<std::string, OpenFile> open_;
};

}  // namespace orvane::runner
