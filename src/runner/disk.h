// Drive A: as a host folder. Files are found by their CP/M names without
// regard to case; every file operation goes through the folder's descriptor
// and never follows a symbolic link, so nothing outside the folder is touched.
// A file a program opens is kept (its host name and descriptor) until it is
// closed, so that reading and writing it never lists the folder again.
//
// Files belong to a user number, as on CP/M: user 0's are the folder's own,
// user N's (1 to 31) those of its subfolder named N ("3"), which is made by
// the first file made there and, like every file, never reached through a
// symbolic link.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "runner/names.h"

namespace orvane::runner {

class DiskJournal;

// The highest user number: BDOS 32 keeps five bits of it.
constexpr int kMaxUser = 31;
// The name of the subfolder that holds user's files ("3"); "" for user 0.
std::string UserFolderName(int user);
// Opens the folder of user's files below the drive's folder top: a new
// descriptor of that subfolder, never through a link, or -1 with errno set
// (ENOENT when there is none). For user 0 it is top itself, not a new one.
int OpenUserFolder(int top, int user);
// The name a message gives a file of user's: "3/a.txt", or "a.txt" for user 0.
std::string UserPath(int user, const std::string& host);

class Disk {
 public:
  // A host name in the folder with a CP/M form.
  struct Entry {
    CpmName name;
    std::string host;  // in its user's folder
    int user = 0;
    bool regular = false;   // a regular file; a link, FIFO, socket, device or folder is no CP/M file
    const char* kind = "";  // what it is when not regular ("a FIFO")
    int64_t size = 0;
    uint64_t links = 1;
    bool readOnly = false;  // CP/M's R/O: its owner may not write it
  };
  // A file kept open from OPEN or MAKE to CLOSE, under the name its FCB gives.
  struct File {
    std::string host;
    int user = 0;
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
  // Every host name of user's whose CP/M form matches pattern, of any kind,
  // sorted by CP/M name and then host name: one listing of user's folder.
  std::vector<Entry> List(int user, const CpmName& pattern);
  // The regular files that match, one per CP/M name (of two host names with
  // one CP/M name, the first in byte order).
  std::vector<Entry> Find(int user, const CpmName& pattern);
  // Every user's regular files, one per CP/M name each: user 0's, then
  // user 1's and so on (only the folders user 0's listing shows are looked
  // into).
  std::vector<Entry> FindEvery();

  // The file of user's kept under key, or null.
  File* Kept(int user, const CpmName& key);
  // Opens host in user's folder (made new, emptied or as it is; the folder
  // too is made for a new file) and keeps it under key; null with error set
  // when the host refuses, or the name is no regular file.
  File* Keep(int user, const CpmName& key, const std::string& host, bool twins, How how);
  // Lets go of the file of user's kept under key.
  void Drop(int user, const CpmName& key);
  // Lets go of every key that holds user's host.
  void DropHost(int user, const std::string& host);
  void CloseAll();

  // Size in bytes; -1 with error set.
  int64_t Size(const File& f);
  // Reads record (128 bytes) into out; returns the bytes there were (0 past
  // the end), or -1 with error set.
  int ReadRecord(const File& f, uint32_t record, uint8_t* out);
  bool WriteRecord(const File& f, uint32_t record, const uint8_t* in);
  bool Remove(int user, const std::string& host);
  // Never over another name: false with error set (EEXIST) when to is there.
  bool Rename(int user, const std::string& from, const std::string& to);
  // The read-only attribute, kept as the host file's write permission.
  bool ReadOnly(int user, const std::string& host);
  bool SetReadOnly(int user, const std::string& host, bool readOnly);
  // The bytes the host has free for the folder (UINT64_MAX when it cannot tell).
  uint64_t FreeBytes();

  std::string error;
  // Set with error when a user's folder name holds something else (a file,
  // a link): that user can have no files.
  bool notAFolder = false;
  // Told before each change to a file in the folder; may be null.
  DiskJournal* journal = nullptr;

 private:
  bool Fail(const std::string& what, const std::string& host);
  // Whether host (in the folder dir) is now one regular file of one link;
  // else error says why.
  bool OneFile(int dir, int user, const std::string& host, const char* what);
  // The descriptor of user's folder, made first when make is set; -1 with
  // error set when there is none. Closed by Done.
  int Folder(int user, bool make);
  void Done(int folder) const;
  std::vector<Entry> ListIn(int folder, int user, const CpmName& pattern);
  int dir_ = -1;
  std::map<std::pair<int, CpmName>, File> kept_;
};

// What a debugger needs to undo the Disk's changes: each is told before it is
// made, while what it replaces is still there to be read through dir, the
// drive's folder's descriptor, and user's folder below it (OpenUserFolder).
// A change the host then refuses has been told too.
class DiskJournal {
 public:
  virtual ~DiskJournal() = default;
  // user's folder is made (for the first file made in it).
  virtual void MakingFolder(int dir, int user) = 0;
  // host is opened as how says (made new, emptied; kOpen changes nothing).
  virtual void Opening(int dir, int user, const std::string& host, Disk::How how) = 0;
  // record (128 bytes from record * 128) of host, open as fd, gets the bytes at in.
  virtual void Writing(int dir, int user, const std::string& host, int fd, uint32_t record, const uint8_t* in) = 0;
  virtual void Removing(int dir, int user, const std::string& host) = 0;
  virtual void Renaming(int dir, int user, const std::string& from, const std::string& to) = 0;
  virtual void SettingReadOnly(int dir, int user, const std::string& host, bool readOnly) = 0;
};

}  // namespace orvane::runner
