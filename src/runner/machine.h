// A CP/M 2.2 machine: 64 KiB of RAM, page zero as the CCP leaves it, a BDOS
// and a BIOS jump table that trap into the handlers here, drive A: on a host
// folder and the console on a Console. It runs one program to its end.
#pragma once
#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "runner/console.h"
#include "runner/cpu.h"
#include "runner/disk.h"
#include "profile/observer.h"

namespace orvane::runner {

// Where an address came from in the source the program was assembled from.
struct SourceLocation {
  std::string file;
  int line = 0;
  std::string text;
};
// Fills where for an address that starts a statement; false for any other.
using SourceLookup = std::function<bool(uint16_t address, SourceLocation& where)>;

// The memory map. All of it is RAM the program may write, as on CP/M 2.2;
// the BDOS and the BIOS are served where PC reaches their entries, whatever
// the bytes there hold.
constexpr uint16_t kLoad = 0x0100;
constexpr uint16_t kStackTop = 0xFE00;   // SP starts here less the 0000H pushed
constexpr uint16_t kBdosEntry = 0xFE06;  // the word at 0006H: the BDOS is served here
constexpr uint16_t kDpb = 0xFE10;        // drive A:'s disk parameter block (BDOS 31)
constexpr uint16_t kAlv = 0xFE80;        // its allocation vector, 128 bytes (BDOS 27)
constexpr uint16_t kBios = 0xFF00;       // the jump table: JP BOOT, JP WBOOT, ... three bytes each
constexpr int kBiosEntries = 17;
// Where each BIOS entry is served: the table's JPs lead here, one byte per
// entry (BOOT at FFE0H, WBOOT at FFE1H, ...). A table entry the program has
// pointed elsewhere leads where it now points.
constexpr uint16_t kBiosTraps = 0xFFE0;
// Under --strict, writes below this (the jump at 0000H that every warm boot
// goes through) and from kBdosEntry up stop the run, as a help to find a
// stray pointer. The IOBYTE, the drive/user byte and the BDOS jump at 0005H
// are the program's to change either way.
constexpr uint16_t kPageZeroGuard = 0x0003;
constexpr size_t kMaxImage = kStackTop - 2 - kLoad;

// "the program is 70000 bytes; at most 64766 fit ..."
std::string ImageTooLarge(uint64_t size);

// The exit statuses of orvane-run besides a program's own return code.
enum Status {
  kUsage = 2,        // usage, or a program file that cannot be read or does not fit
  kUnknownCall = 3,  // a BDOS function or BIOS entry the machine does not have
  kLimit = 4,        // --max-tstates reached
  kHalt = 5,         // HALT
  kFault = 6,        // the program broke the machine: a jump into the system where
                     // it has no entry, a write to it under --strict, an FCB that
                     // names no file
  kHostError = 7,    // the host failed: a file write (disk full), a closed output
  kStopped = 8,      // stopped from outside, or from the keyboard (Ctrl+] q)
  kInputEnded = 9,   // the program waits for a key after the console input has ended
};

struct RunOptions {
  uint64_t maxTstates = 0;           // 0: no limit
  std::ostream* trace = nullptr;     // one line per instruction
  std::ostream* list = nullptr;      // the list device; nowhere when null
  SourceLookup source;               // may be empty
  const std::atomic<bool>* stop = nullptr;
  // An unknown BDOS function stops the run (exit 3) instead of answering
  // A=0, HL=0 as CP/M 2.2 does, and a write to 0000H-0002H or to the BDOS
  // and BIOS from kBdosEntry up stops it (exit 6).
  bool strict = false;
  // A note for the first call of each BDOS function CP/M 2.2 does not have
  // (real CP/M answers them silently; programs probe for CP/M 3 with them).
  bool verbose = false;
  // One line for the user that does not end the run (an unknown function's
  // first call); dropped when empty.
  std::function<void(const std::string&)> note;
  // Why an output (the trace, the list device) could not be written, or "".
  std::function<std::string()> outputError;
  // Told of every instruction (a profile, coverage); the run then steps one
  // instruction at a time.
  profile::ExecutionObserver* observer = nullptr;
};

struct RunResult {
  int status = 0;              // the exit status
  bool ended = false;          // the program ended by warm boot
  std::string message;         // empty when ended without a fault or a limit
  bool hasSource = false;      // where holds the faulting statement
  SourceLocation where;
  uint16_t address = 0;        // the instruction the message names
  uint64_t tstates = 0, instructions = 0;
  double seconds = 0;
};

class Machine {
 public:
  // cpu may be null: the machine then makes a libz80ex CPU on its memory.
  Machine(Console& console, Disk& disk, RunOptions options, std::unique_ptr<Cpu> cpu = nullptr);
  ~Machine();

  // Loads the image at 0100H and sets up page zero with the arguments; false
  // with error set when the image or the arguments do not fit.
  bool Load(const std::vector<uint8_t>& image, const std::vector<std::string>& args, std::string& error);
  RunResult Run();
  Memory& memory() { return *mem_; }
  Cpu& cpu() { return *cpu_; }

  // For a debugger that runs the program on cpu() itself, one instruction at
  // a time. An instruction that ends AtSystem, had a write refused or halted
  // is handed to Serve, which does what Run does then: serves the BDOS or BIOS
  // call and returns to the program (kNone), ends the run by warm boot (kEnd)
  // or stops it with a status and a message (kStop).
  enum class Trap { kNone, kEnd, kStop };
  Trap Serve(uint16_t from);
  int stopStatus() const { return stopStatus_; }
  const std::string& stopMessage() const { return stopMessage_; }  // without the source
  uint16_t stopAddress() const { return caller_; }
  // The exit status of a run ended by warm boot.
  int EndStatus() const;
  uint64_t tstates() const { return tstates_; }
  // Everything the BDOS keeps between calls that a call may change, in one
  // value: a debugger's history saves and restores it whole with each
  // checkpoint and call record, so nothing the BDOS keeps is left out. A
  // copy is cheap (the search list is shared, and replaced, never changed).
  struct SystemState {
    uint16_t dma = 0x0080;
    uint8_t user = 0;  // BDOS 32's user number: whose files the file functions see
    bool hasReturnCode = false;
    uint16_t returnCode = 0;
    uint16_t readOnly = 0;  // the read-only vector (BDOS 28, 29)
    // SEARCH FIRST's matches and the next one SEARCH NEXT gives.
    std::shared_ptr<const std::vector<Disk::Entry>> search;
    size_t searchNext = 0;
    // The first block of each match, counted as BDOS 27 counts them.
    std::shared_ptr<const std::vector<uint32_t>> searchBlocks;
    // The end of input: reads answered since, and the run of polls
    // answered "no key" with nothing else between them.
    int readsAtEnd = 0;
    uint64_t idlePolls = 0, lastPollAt = 0, calls = 0, lastPollCall = 0;
    std::bitset<256> noted;  // unknown functions already named
    uint8_t column = 0;      // printable characters since the last CR (TAB stops)
    bool listEcho = false;   // Ctrl+P in a line read: console output copied to the list device
  };
  SystemState SaveSystem() const { return sys_; }
  void RestoreSystem(const SystemState& s) { sys_ = s; }

  // The BDOS functions by number; an empty slot is an unknown function.
  using Handler = void (Machine::*)();
  static const Handler kBdos[];
  static const int kBdosCount;

 private:
  Trap Dispatch(uint16_t pc);
  // What the system does when PC reaches pc (one that is AtSystem): a BIOS
  // entry's number, or one of these.
  enum Entry { kProgram = -1, kStray = -2, kEndRun = -3, kBdosCall = -4 };
  int EntryAt(uint16_t pc) const;
  // Whether the three bytes at at are still the system's JP to target.
  bool JumpsTo(uint16_t at, uint16_t target) const;
  Trap Stop(int status, const std::string& message, uint16_t at);
  void Return(uint16_t value);
  void TraceLine(uint16_t pc);
  std::string Where(uint16_t address);
  std::string CallerText() const;

  // BDOS handlers (bdos.cpp).
  void WarmBoot();
  void ConsoleIn();
  void ConsoleOut();
  void ReaderIn();
  void PunchOut();
  void ListOut();
  void DirectIo();
  void GetIoByte();
  void SetIoByte();
  void PrintString();
  void ReadBuffer();
  void ConsoleStatus();
  void Version();
  void ResetDisks();
  void SelectDisk();
  void OpenFile();
  void CloseFile();
  void SearchFirst();
  void SearchNext();
  void DeleteFile();
  void ReadSequential();
  void WriteSequential();
  void MakeFile();
  void RenameFile();
  void LoginVector();
  void CurrentDisk();
  void SetDma();
  void AllocationVector();
  void WriteProtect();
  void ReadOnlyVector();
  void SetAttributes();
  void DiskParameters();
  void UserCode();
  void ReadRandom();
  void WriteRandom();
  void FileSize();
  void SetRandom();
  void ResetDrive();
  void Ignored();
  void ReturnCode();
  void Bios(int entry);

  // BDOS helpers.
  bool Out(const uint8_t* bytes, size_t n);
  bool Out(uint8_t c) { return Out(&c, 1); }
  // The BDOS's console output (2, 9 and the echo of 1 and 10): a TAB goes
  // as blanks to the next multiple of 8 of the column count.
  void Typed(uint8_t c, std::vector<uint8_t>& out);
  // Put also copies to the list device while Ctrl+P has that on, and first
  // pauses on a Ctrl+S typed ahead (false after a Ctrl+C there: a warm boot).
  bool Put(uint8_t c);
  bool Paused();
  // A character of a line read as CP/M shows it: a control character as ^
  // and a letter; Width gives the column after it.
  bool Shown(uint8_t c);
  static int Width(int column, uint8_t c);
  // The next key, waiting for it; -1 at the end of input. A program that asks
  // again after it has been told the input ended is stopped.
  int In();
  // Whether a key is waiting. A program that does nothing but ask, after the
  // input has ended, is stopped as one that waits for a key.
  bool Polled();
  void InputEnded();
  // Whether the drive is read-only for a call that changes it; stops the
  // run then, where CP/M ends the program with its BDOS error.
  bool ReadOnly();
  bool FcbName(uint16_t fcb, bool wildcards, CpmName& name);
  // The file an FCB names: kept since OPEN or MAKE, else found (one listing)
  // and kept. Null when there is none (the call has answered FFH) or the
  // run stopped.
  Disk::File* FcbFile(uint16_t fcb);
  Disk::File* OpenNamed(const CpmName& name);
  // Whether a call may change or remove a host file: one with several hard
  // links stops the run as a host failure, a read-only one (no write
  // permission for its owner) as CP/M's File R/O error.
  bool MayChange(int user, const std::string& host, uint64_t links, bool readOnly);
  // Whether name is one host file in found, else a note on standard error.
  bool Unique(const std::vector<Disk::Entry>& found, const CpmName& name);
  // Whether f may be written; else the call has answered full (or stopped).
  bool MayWrite(const Disk::File& f, uint8_t full);
  // CP/M's select error for a drive it does not have: the run ends.
  void SelectError(int drive);
  void BdosError(char drive, const char* tail, const std::string& why, int status = kFault);
  void Note(const std::string& text);
  // The file an FCB names and its size in 128-byte records; on false the
  // call has already answered (FFH: no such file) or failed the host.
  bool FindRecords(uint16_t fcb, int64_t& records);
  uint32_t SequentialRecord(uint16_t fcb) const;
  void SetPosition(uint16_t fcb, uint32_t record);
  void SetRecordCount(uint16_t fcb, const Disk::File& f);
  int ReadRecordTo(const Disk::File& f, uint32_t record);
  int WriteRecordFrom(const Disk::File& f, uint32_t record);
  void PutDirEntry(const Disk::Entry& entry, uint32_t firstBlock);
  void HostFailed();
  void Refuse(const std::string& why);

  Console& console_;
  Disk& disk_;
  RunOptions opt_;
  std::unique_ptr<Memory> mem_;
  std::unique_ptr<Cpu> cpu_;
  uint64_t tstates_ = 0, instructions_ = 0;
  uint16_t lastPc_ = 0;               // the last instruction run
  uint16_t caller_ = 0;                // the instruction that entered the BDOS or BIOS
  int function_ = 0;                   // the BDOS function being served
  const char* bios_ = nullptr;         // or the BIOS entry
  SystemState sys_;
  // The bytes the system left from kBdosEntry up: a jump to one the program
  // has not changed, where there is no entry, is a stray jump.
  std::array<uint8_t, 0x10000 - kBdosEntry> system_{};
  // Set by a handler that ends the run.
  bool ended_ = false, stopped_ = false;
  int stopStatus_ = 0;
  std::string stopMessage_;
};

}  // namespace orvane::runner
