// Drive A: as a host folder. Files are found by their CP/M names without
// regard to case; every file operation goes through the folder's descriptor
// and never follows a symbolic link, so nothing outside the folder is touched.
// A file a program opens is kept (its host name and descriptor) until it is
// closed, so that reading and writing it never lists the folder again.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "runner/names.h"

namespace orvane::runner {

class DiskJournal;

class Disk {
 public:
  // A host name in the folder with a CP/M form.
  struct Entry {
    CpmName name;
    std::string host;
    bool regular = false;   // a regular file; a link, FIFO, socket, device or folder is no CP/M file
    const char* kind = "";  // what it is when not regular ("a FIFO")
    int64_t size = 0;
    uint64_t links = 1;
    bool readOnly = false;  // CP/M's R/O: its owner may not write it
  };
  // A file kept open from OPEN or MAKE to CLOSE, under the name its FCB gives.
  struct File {
    std::string host;
    int fd = -1;
    bool writable = false;  // opened for writing
    int refused = 0;        // else why the host refused it (errno)
    bool twins = false;     // its CP/M name is also another host file's
    uint64_t links = 1;
    bool readOnly = false;
  };
  enum class How { kOpen, kTruncate, kCreate };

  Disk() = default;
  ~Disk();
  Disk(const Disk&) = delete;
  Disk& operator=(const Disk&) = delete;

  // Opens the folder; false with error set when it cannot be.
  bool Open(const std::string& folder);
  // Every host name whose CP/M form matches pattern, of any kind, sorted by
  // CP/M name and then host name: one listing of the folder.
  std::vector<Entry> List(const CpmName& pattern);
  // The regular files that match, one per CP/M name (of two host names with
  // one CP/M name, the first in byte order).
  std::vector<Entry> Find(const CpmName& pattern);

  // The file kept under key, or null.
  File* Kept(const CpmName& key);
  // Opens host (made new, emptied or as it is) and keeps it under key; null
  // with error set when the host refuses, or the name is no regular file.
  File* Keep(const CpmName& key, const std::string& host, bool twins, How how);
  // Lets go of the file kept under key.
  void Drop(const CpmName& key);
  // Lets go of every key that holds host.
  void DropHost(const std::string& host);
  void CloseAll();

  // Size in bytes; -1 with error set.
  int64_t Size(const File& f);
  // Reads record (128 bytes) into out; returns the bytes there were (0 past
  // the end), or -1 with error set.
  int ReadRecord(const File& f, uint32_t record, uint8_t* out);
  bool WriteRecord(const File& f, uint32_t record, const uint8_t* in);
  bool Remove(const std::string& host);
  // Never over another name: false with error set (EEXIST) when to is there.
  bool Rename(const std::string& from, const std::string& to);
  // The read-only attribute, kept as the host file's write permission.
  bool ReadOnly(const std::string& host);
  bool SetReadOnly(const std::string& host, bool readOnly);
  // The bytes the host has free for the folder (UINT64_MAX when it cannot tell).
  uint64_t FreeBytes();

  std::string error;
  // Told before each change to a file in the folder; may be null.
  DiskJournal* journal = nullptr;

 private:
  bool Fail(const std::string& what, const std::string& host);
  // Whether host is now one regular file of one link; else error says why.
  bool OneFile(const std::string& host, const char* what);
  int dir_ = -1;
  std::map<CpmName, File> kept_;
};

// What a debugger needs to undo the Disk's changes: each is told before it is
// made, while what it replaces is still there to be read through dir, the
// folder's descriptor. A change the host then refuses has been told too.
class DiskJournal {
 public:
  virtual ~DiskJournal() = default;
  // host is opened as how says (made new, emptied; kOpen changes nothing).
  virtual void Opening(int dir, const std::string& host, Disk::How how) = 0;
  // record (128 bytes from record * 128) of host, open as fd, gets the bytes at in.
  virtual void Writing(int dir, const std::string& host, int fd, uint32_t record, const uint8_t* in) = 0;
  virtual void Removing(int dir, const std::string& host) = 0;
  virtual void Renaming(int dir, const std::string& from, const std::string& to) = 0;
  virtual void SettingReadOnly(int dir, const std::string& host, bool readOnly) = 0;
};

}  // namespace orvane::runner
