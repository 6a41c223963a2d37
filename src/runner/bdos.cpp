// The BDOS functions and the BIOS entries, each a handler that reads its
// arguments from the registers and memory and answers through Return.
#include <algorithm>
#include <cstdio>

#include "runner/machine.h"

namespace orvane::runner {

const Machine::Handler Machine::kBdos[] = {
    &Machine::WarmBoot,        // 0 system reset
    &Machine::ConsoleIn,       // 1
    &Machine::ConsoleOut,      // 2
    &Machine::ReaderIn,        // 3
    &Machine::PunchOut,        // 4
    &Machine::ListOut,         // 5
    &Machine::DirectIo,        // 6
    &Machine::GetIoByte,       // 7
    &Machine::SetIoByte,       // 8
    &Machine::PrintString,     // 9
    &Machine::ReadBuffer,      // 10
    &Machine::ConsoleStatus,   // 11
    &Machine::Version,         // 12
    &Machine::ResetDisks,      // 13
    &Machine::SelectDisk,      // 14
    &Machine::OpenFile,        // 15
    &Machine::CloseFile,       // 16
    &Machine::SearchFirst,     // 17
    &Machine::SearchNext,      // 18
    &Machine::DeleteFile,      // 19
    &Machine::ReadSequential,  // 20
    &Machine::WriteSequential, // 21
    &Machine::MakeFile,        // 22
    &Machine::RenameFile,      // 23
    &Machine::LoginVector,     // 24
    &Machine::CurrentDisk,     // 25
    &Machine::SetDma,          // 26
    &Machine::AllocationVector, // 27
    &Machine::WriteProtect,    // 28
    &Machine::ReadOnlyVector,  // 29
    &Machine::SetAttributes,   // 30
    &Machine::DiskParameters,  // 31
    &Machine::UserCode,        // 32
    &Machine::ReadRandom,      // 33
    &Machine::WriteRandom,     // 34
    &Machine::FileSize,        // 35
    &Machine::SetRandom,       // 36
    &Machine::ResetDrive,      // 37
    &Machine::Ignored,         // 38 (MP/M's access drive: nothing in CP/M 2.2)
    &Machine::Ignored,         // 39 (MP/M's free drive)
    &Machine::WriteRandom,     // 40 with zero fill: a host file's holes read as zeros already
};
const int Machine::kBdosCount = sizeof kBdos / sizeof kBdos[0];

namespace {

constexpr uint8_t kEof = 0x1A;
constexpr uint32_t kMaxRecords = 65536;  // 8 MiB, the most a CP/M 2.2 file holds
// A program that asks for the console status this many times in a row, each
// within kPollGap instructions of the last and with no other call between,
// after the input has ended, is waiting for a key that will not come.
constexpr uint64_t kIdlePolls = 100000, kPollGap = 50;
constexpr int64_t kEntryRecords = 512;  // the records one directory entry maps
constexpr uint32_t kBlock = 8192, kBlocks = 1024, kDirBlocks = 4;  // as the DPB at kDpb says

// FCB fields.
constexpr int kEx = 12, kS2 = 14, kRc = 15, kCr = 32, kR0 = 33;

std::string Hex4(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04XH", v & 0xFFFF);
  return b;
}

}  // namespace

// The console.

bool Machine::Out(const uint8_t* bytes, size_t n) {
  if (console_.Write(bytes, n)) return true;
  Stop(kHostError, "cannot write to the console: " + console_.error, caller_);
  return false;
}

int Machine::In() {
  const int c = console_.Read();
  if (c >= 0) return c;
  if (console_.QuitRequested())
    Stop(kStopped, "stopped from the keyboard (Ctrl+] q) at " + Hex4(caller_), caller_);
  else if (console_.Ended() && sys_.readsAtEnd++ > 0)
    InputEnded();
  return c;
}

bool Machine::Polled() {
  if (console_.Ready()) return true;
  if (console_.QuitRequested()) {
    Stop(kStopped, "stopped from the keyboard (Ctrl+] q) at " + Hex4(caller_), caller_);
  } else if (console_.Ended()) {
    const bool inRow = sys_.calls == sys_.lastPollCall + 1 && instructions_ - sys_.lastPollAt <= kPollGap;
    sys_.idlePolls = inRow ? sys_.idlePolls + 1 : 1;
    sys_.lastPollCall = sys_.calls;
    sys_.lastPollAt = instructions_;
    if (sys_.idlePolls >= kIdlePolls) InputEnded();
  }
  return false;
}

void Machine::InputEnded() {
  Stop(kInputEnded,
       (bios_ ? "BIOS " + std::string(bios_) : "BDOS function " + std::to_string(function_)) + " " + CallerText() +
           ": the program is waiting for console input, and the input has ended",
       caller_);
}

void Machine::WarmBoot() { ended_ = true; }

void Machine::Typed(uint8_t c, std::vector<uint8_t>& out) {
  uint8_t& column = sys_.column;
  if (c == '\t') {
    do out.push_back(' ');
    while (++column % 8 != 0);
    return;
  }
  out.push_back(c);
  if (c == '\r') column = 0;
  else if (c == '\b') column -= column > 0;
  else if (c >= 0x20 && c < 0x7F) ++column;
}

bool Machine::Paused() {
  // The BDOS listing's conbrk, before each character out: a Ctrl+S typed
  // ahead stops the output until the next key, which is dropped unless it is
  // Ctrl+C (a warm boot). Any other key stays for the program.
  if (console_.Peek() != 0x13) return false;
  console_.Read();
  const int c = console_.Read();
  if (console_.QuitRequested())
    Stop(kStopped, "stopped from the keyboard (Ctrl+] q) at " + Hex4(caller_), caller_);
  else if (c == 3)
    ended_ = true;
  return stopped_ || ended_;
}

bool Machine::Put(uint8_t c) {
  if (Paused()) return false;
  std::vector<uint8_t> out;
  Typed(c, out);
  if (sys_.listEcho && opt_.list) opt_.list->write(reinterpret_cast<const char*>(out.data()), out.size());
  return Out(out.data(), out.size());
}

bool Machine::Shown(uint8_t c) {
  if (c < 0x20 && c != '\r' && c != '\n' && c != '\t' && c != '\b') return Put('^') && Put(c | 0x40);
  return Put(c);
}

int Machine::Width(int column, uint8_t c) {
  if (c == '\t') return (column / 8 + 1) * 8;
  return column + (c < 0x20 ? 2 : 1);
}

void Machine::ConsoleIn() {
  // The BDOS listing's conech: graphic characters, CR, LF, TAB and BS are
  // echoed; other control characters (Ctrl+S and Ctrl+P too) only returned.
  const int c = In();
  if (c >= 0x20 || c == '\r' || c == '\n' || c == '\t' || c == '\b') Put(static_cast<uint8_t>(c));
  Return(c < 0 ? kEof : static_cast<uint16_t>(c));
}

void Machine::ConsoleOut() { Put(static_cast<uint8_t>(cpu_->Get(Reg::DE))); }

void Machine::ReaderIn() { Return(kEof); }  // no reader: always at its end

void Machine::PunchOut() {}

void Machine::ListOut() {
  if (opt_.list) opt_.list->put(static_cast<char>(cpu_->Get(Reg::DE) & 0xFF));
}

void Machine::DirectIo() {
  const uint8_t e = cpu_->Get(Reg::DE) & 0xFF;
  // FFH: a key if one is waiting, else 0; FEH: the status. CP/M 2.2 gives
  // every other byte (FDH too) to the console.
  if (e == 0xFF) {
    if (!Polled()) return Return(0);
    const int c = In();
    return Return(c < 0 ? kEof : static_cast<uint16_t>(c));
  }
  if (e == 0xFE) return Return(Polled() ? 0xFF : 0);
  Out(e);
}

void Machine::GetIoByte() { Return(mem_->bytes[3]); }
void Machine::SetIoByte() { mem_->bytes[3] = cpu_->Get(Reg::DE) & 0xFF; }

void Machine::PrintString() {
  const uint16_t de = cpu_->Get(Reg::DE);
  std::vector<uint8_t> text;
  size_t n = 0;
  for (uint16_t a = de; mem_->bytes[a] != '$'; ++a) {
    Typed(mem_->bytes[a], text);
    if (++n == 65536) {
      Refuse("no '$' ends the text at " + Hex4(de));
      return;
    }
  }
  if (Paused()) return;  // once for the whole text
  if (sys_.listEcho && opt_.list) opt_.list->write(reinterpret_cast<const char*>(text.data()), text.size());
  Out(text.data(), text.size());
}

void Machine::ReadBuffer() {
  // DE -> max, count, characters; the editing of the BDOS listing's read
  // routine. CR or LF ends the line, so does a full buffer (both echo CR) or
  // the end of input (stored as 1AH). BS takes the last character back and
  // rubs out the columns it took; DEL takes it back and echoes it again.
  // Ctrl+X rubs out the line, Ctrl+U ends it with # and starts again below,
  // Ctrl+R retypes it below, Ctrl+E goes on on a new line, Ctrl+P turns the
  // copy to the list device on or off. Control characters are kept and
  // shown as ^ and a letter; Ctrl+C as the line's first is a warm boot.
  const uint16_t buf = cpu_->Get(Reg::DE);
  const uint8_t max = mem_->bytes[buf];
  std::vector<uint8_t> line;
  bool atEnd = false;
  int start = sys_.column;  // where the line began, for Ctrl+X, U, R and BS
  const auto Backup = [this] { Out(reinterpret_cast<const uint8_t*>("\b \b"), 3); };
  const auto Below = [this, &start] {  // # and a new line at the line's column
    Put('#'), Put('\r'), Put('\n');
    while (sys_.column < start && !ended_ && !stopped_) Put(' ');
  };
  while (line.size() < max && !stopped_ && !ended_) {
    int c = In();
    if (c < 0) {
      if (stopped_) return;
      mem_->Write(static_cast<uint16_t>(buf + 2 + line.size()), static_cast<uint8_t>(kEof));
      line.push_back(static_cast<uint8_t>(kEof));
      atEnd = true;
      break;
    }
    c &= 0x7F;
    if (c == '\r' || c == '\n') break;
    if (c == 8) {
      if (line.empty()) continue;
      line.pop_back();
      int column = start;
      for (const uint8_t k : line) column = Width(column, k);
      for (; sys_.column > column; --sys_.column) Backup();
      continue;
    }
    if (c == 0x7F) {
      if (line.empty()) continue;
      const uint8_t gone = line.back();
      line.pop_back();
      Shown(gone);
      continue;
    }
    if (c == 0x05) {
      Put('\r'), Put('\n');
      start = 0;
      continue;
    }
    if (c == 0x10) {
      sys_.listEcho = !sys_.listEcho;
      continue;
    }
    if (c == 0x18 || c == 0x15) {
      if (c == 0x18)
        for (; sys_.column > start; --sys_.column) Backup();
      else
        Below();
      line.clear();
      start = sys_.column;
      continue;
    }
    if (c == 0x12) {
      Below();
      for (const uint8_t k : line) Shown(k);
      continue;
    }
    mem_->Write(static_cast<uint16_t>(buf + 2 + line.size()), static_cast<uint8_t>(c));
    line.push_back(static_cast<uint8_t>(c));
    Shown(static_cast<uint8_t>(c));
    if (c == 3 && line.size() == 1) ended_ = true;
  }
  mem_->Write(static_cast<uint16_t>(buf + 1), static_cast<uint8_t>(line.size()));
  if (max > 0 && !atEnd && !ended_ && !stopped_) Put('\r');
}

// The real BDOS answers 01H for a key waiting (the Interface Guide says FFH).
void Machine::ConsoleStatus() { Return(Polled() ? 0x01 : 0); }

void Machine::Version() { Return(0x0022); }

void Machine::ResetDisks() {
  sys_.dma = 0x0080;
  sys_.readOnly = 0;
  Return(0);
}

void Machine::SelectDisk() {
  const uint8_t e = cpu_->Get(Reg::DE) & 0xFF;
  if (e != 0) SelectError(e);
}

void Machine::SelectError(int drive) {
  BdosError(static_cast<char>('A' + drive), "Select",
            "select error: there is no drive " +
                (drive < 16 ? std::string(1, static_cast<char>('A' + drive)) + ":"
                            : "number " + std::to_string(drive) + " (CP/M has A: to P:)") +
                "; drive A: is the only one");
}

void Machine::BdosError(char drive, const char* tail, const std::string& why, int status) {
  // CP/M's BDOS prints CR LF, "Bdos Err On ", the drive, ": " and the tail,
  // reads one key without echo and warm boots; the CCP then starts a new
  // line. The program goes no further, whatever the key.
  const std::string shown = std::string("\r\nBdos Err On ") + drive + ": " + tail;
  if (!Out(reinterpret_cast<const uint8_t*>(shown.data()), shown.size())) return;
  if (console_.Read() < 0 && console_.QuitRequested())
    return void(Stop(kStopped, "stopped from the keyboard (Ctrl+] q) at " + Hex4(caller_), caller_));
  if (!Out(reinterpret_cast<const uint8_t*>("\r\n"), 2)) return;
  Stop(status, "BDOS function " + std::to_string(function_) + " " + CallerText() + ": " + why, caller_);
}

void Machine::LoginVector() { Return(0x0001); }
void Machine::CurrentDisk() { Return(0); }
void Machine::SetDma() { sys_.dma = cpu_->Get(Reg::DE); }

void Machine::AllocationVector() {
  // The directory's blocks, then one block for each started 8 KiB of every
  // file, then as many as the host lacks: the free blocks are the ones
  // STAT counts.
  uint64_t used = kDirBlocks;
  for (const Disk::Entry& e : disk_.FindEvery())
    if (e.size > 0) used += (static_cast<uint64_t>(e.size) + kBlock - 1) / kBlock;
  const uint64_t hostFree = disk_.FreeBytes() / kBlock;
  if (used > kBlocks) used = kBlocks;
  if (kBlocks - used > hostFree) used = kBlocks - hostFree;
  for (uint32_t b = 0; b < kBlocks; b += 8) {
    uint8_t bits = 0;
    for (uint32_t i = 0; i < 8; ++i)
      if (b + i < used) bits |= static_cast<uint8_t>(0x80 >> i);
    mem_->bytes[kAlv + b / 8] = bits;
    system_[kAlv - kBdosEntry + b / 8] = bits;
  }
  Return(kAlv);
}

void Machine::WriteProtect() {
  sys_.readOnly |= 1;
  Return(0);
}

void Machine::ReadOnlyVector() { Return(sys_.readOnly); }

void Machine::DiskParameters() { Return(kDpb); }

void Machine::ResetDrive() {
  sys_.readOnly &= static_cast<uint16_t>(~cpu_->Get(Reg::DE));
  Return(0);
}

void Machine::Ignored() { Return(0); }

bool Machine::ReadOnly() {
  if (!(sys_.readOnly & 1)) return false;
  BdosError('A', "R/O", "drive A: is read-only (BDOS function 28 made it so)");
  return true;
}

void Machine::SetAttributes() {
  // t1' (bit 7 of the first type byte) is read-only, kept as the host file's
  // write permission; SYS (t2') and f1'-f4' are accepted and not kept.
  const uint16_t fcb = cpu_->Get(Reg::DE);
  CpmName pattern;
  if (!FcbName(fcb, true, pattern) || ReadOnly()) return;
  const bool readOnly = mem_->bytes[uint16_t(fcb + 9)] & 0x80;
  // All or nothing, as for a delete: a file shared by hard links or named
  // twice on the host keeps its attributes. A read-only file may be made
  // writable again.
  const auto found = disk_.List(sys_.user, pattern);
  bool any = false;
  for (const Disk::Entry& e : found) {
    if (!e.regular) continue;
    if (!Unique(found, e.name)) return Return(0xFF);
    if (!MayChange(e.user, e.host, e.links, false)) return;
    any = true;
  }
  for (const Disk::Entry& e : found)
    if (e.regular && !disk_.SetReadOnly(e.user, e.host, readOnly)) return HostFailed();
  Return(any ? 0 : 0xFF);
}

void Machine::UserCode() {
  // E=FFH asks; any other E sets the user number to its low five bits, as the
  // BDOS listing's func32 keeps them (ani 1fh; the Interface Guide says
  // modulo 16, but the real BDOS has users 16 to 31 too).
  const uint8_t e = cpu_->Get(Reg::DE) & 0xFF;
  if (e == 0xFF) return Return(sys_.user);
  sys_.user = e & kMaxUser;
}

void Machine::ReturnCode() {
  const uint16_t de = cpu_->Get(Reg::DE);
  if (de == 0xFFFF) return Return(sys_.returnCode);
  sys_.returnCode = de;
  sys_.hasReturnCode = true;
}

// Files.

void Machine::Refuse(const std::string& why) {
  Stop(kFault, "BDOS function " + std::to_string(function_) + " " + CallerText() + ": " + why, caller_);
}

void Machine::HostFailed() {
  Stop(kHostError, "BDOS function " + std::to_string(function_) + " " + CallerText() + ": " + disk_.error, caller_);
}

void Machine::Note(const std::string& text) {
  if (opt_.note) opt_.note("BDOS function " + std::to_string(function_) + " " + CallerText() + ": " + text);
}

bool Machine::FcbName(uint16_t fcb, bool wildcards, CpmName& name) {
  uint8_t bytes[12];
  for (int i = 0; i < 12; ++i) bytes[i] = mem_->bytes[static_cast<uint16_t>(fcb + i)];
  // A blank name (an FCB the CCP left empty) names no file: a lookup answers
  // FFH, as CP/M's does; only a file cannot be made with it.
  const bool makes = function_ == 22 || (function_ == 23 && fcb != cpu_->Get(Reg::DE));
  if ((bytes[1] & 0x7F) == ' ' && !makes) {
    Return(0xFF);
    return false;
  }
  // The BDOS takes the drive from the low five bits: 0 the current drive,
  // 1 A:, 2 B: and so on; only a search takes '?' there.
  const int drive = bytes[0] & 0x1F;
  if (drive > 1 && !(wildcards && bytes[0] == '?')) {
    SelectError(drive - 1);
    return false;
  }
  const std::string why = CheckFcbName(bytes + 1, wildcards, name);
  if (why.empty()) return true;
  Refuse("the FCB at " + Hex4(fcb) + " holds no file name: " + why);
  return false;
}

namespace {

// The host names of several files that one CP/M name matches.
std::string Twins(const std::vector<Disk::Entry>& found, const CpmName& name) {
  std::string text;
  for (const Disk::Entry& e : found)
    if (e.regular && e.name == name) text += (text.empty() ? "" : " and ") + e.host;
  return text;
}

}  // namespace

bool Machine::MayChange(int user, const std::string& host, uint64_t links, bool readOnly) {
  if (links > 1)
    disk_.error = "cannot change " + UserPath(user, host) + ": it has " + std::to_string(links) +
                  " hard links, so it is shared with places outside the folder";
  else if (readOnly)
    return BdosError('A', "File R/O", "the file " + UserPath(user, host) + " is read-only"), false;
  else
    return true;
  HostFailed();
  return false;
}

bool Machine::Unique(const std::vector<Disk::Entry>& found, const CpmName& name) {
  int n = 0;
  for (const Disk::Entry& e : found) n += e.regular && e.name == name;
  if (n < 2) return true;
  Note(CpmText(name) + " is " + Twins(found, name) + ", which a CP/M name cannot tell apart; neither is changed");
  return false;
}

Disk::File* Machine::FcbFile(uint16_t fcb) {
  CpmName name;
  if (!FcbName(fcb, true, name)) return nullptr;
  if (Disk::File* f = disk_.Kept(sys_.user, name)) return f;
  return OpenNamed(name);
}

Disk::File* Machine::OpenNamed(const CpmName& name) {
  const auto found = disk_.List(sys_.user, name);
  const auto first = std::find_if(found.begin(), found.end(), [](const Disk::Entry& e) { return e.regular; });
  if (first == found.end()) {
    Return(0xFF);
    return nullptr;
  }
  int same = 0;
  for (const Disk::Entry& e : found) same += e.regular && e.name == first->name;
  Disk::File* f = disk_.Keep(sys_.user, name, first->host, same > 1, Disk::How::kOpen);
  if (!f) HostFailed();
  return f;
}

bool Machine::MayWrite(const Disk::File& f, uint8_t full) {
  if (f.twins) {
    Note(UserPath(f.user, f.host) + " shares its CP/M name with another host file; it is not written");
    Return(full);
    return false;
  }
  return MayChange(f.user, f.host, f.links, f.readOnly);
}

uint32_t Machine::SequentialRecord(uint16_t fcb) const {
  const Memory& m = *mem_;
  return (static_cast<uint32_t>(m.bytes[uint16_t(fcb + kS2)] & 0x3F) * 32 + (m.bytes[uint16_t(fcb + kEx)] & 0x1F)) *
             128 +
         m.bytes[uint16_t(fcb + kCr)];
}

void Machine::SetPosition(uint16_t fcb, uint32_t record) {
  mem_->Write(static_cast<uint16_t>(fcb + kCr), record % 128);
  mem_->Write(static_cast<uint16_t>(fcb + kEx), (record / 128) % 32);
  mem_->Write(static_cast<uint16_t>(fcb + kS2), static_cast<uint8_t>(record / 4096));
}

bool Machine::FindRecords(uint16_t fcb, int64_t& records) {
  Disk::File* f = FcbFile(fcb);
  if (!f) return false;
  const int64_t size = disk_.Size(*f);
  if (size < 0) {
    HostFailed();
    return false;
  }
  // A CP/M 2.2 file holds at most 65536 records: a larger host file is
  // that long to a program, never a count wrapped to a small one.
  records = std::min<int64_t>((size + 127) / 128, kMaxRecords);
  return true;
}

void Machine::OpenFile() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  CpmName name;
  if (!FcbName(fcb, true, name)) return;
  // The BDOS clears s2 before it looks: programs open static FCBs over old data.
  mem_->Write(static_cast<uint16_t>(fcb + kS2), 0);
  // A name with '?' opens the first file it matches, whose name the FCB
  // then holds.
  if (std::find(name.begin(), name.end(), '?') != name.end()) {
    const auto found = disk_.Find(sys_.user, name);
    if (found.empty()) return Return(0xFF);
    name = found.front().name;
    for (int i = 0; i < 11; ++i) mem_->Write(static_cast<uint16_t>(fcb + 1 + i), static_cast<uint8_t>(name[i]));
  }
  disk_.Drop(sys_.user, name);  // found again: the folder may have changed since
  int64_t records = 0;
  if (!FindRecords(fcb, records)) return;
  const int64_t before = (static_cast<int64_t>(mem_->bytes[uint16_t(fcb + kS2)] & 0x3F) * 32 +
                          (mem_->bytes[uint16_t(fcb + kEx)] & 0x1F)) *
                         128;
  const int64_t rc = records - before;
  mem_->Write(static_cast<uint16_t>(fcb + kRc), static_cast<uint8_t>(rc < 0 ? 0 : rc > 128 ? 128 : rc));
  Return(0);
}

void Machine::CloseFile() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  CpmName name;
  if (!FcbName(fcb, true, name)) return;
  if (disk_.Kept(sys_.user, name)) {
    disk_.Drop(sys_.user, name);
    return Return(0);
  }
  Return(disk_.Find(sys_.user, name).empty() ? 0xFF : 0);
}

void Machine::PutDirEntry(const Disk::Entry& entry, uint32_t firstBlock) {
  // One directory entry at the DMA address, the rest of the record empty.
  const int64_t records = std::min<int64_t>((entry.size + 127) / 128, kMaxRecords);
  const int64_t last = records == 0 ? 0 : (records - 1) / 128;
  uint8_t rec[128];
  for (uint8_t& b : rec) b = 0xE5;
  rec[0] = static_cast<uint8_t>(entry.user);
  for (int i = 0; i < 11; ++i) rec[1 + i] = static_cast<uint8_t>(entry.name[i]);
  if (disk_.ReadOnly(entry.user, entry.host)) rec[9] |= 0x80;  // t1': read-only
  rec[kEx] = static_cast<uint8_t>(last % 32);
  rec[13] = 0;
  rec[kS2] = static_cast<uint8_t>(last / 32);
  rec[kRc] = static_cast<uint8_t>(records - last * 128);
  for (int i = 16; i < 32; ++i) rec[i] = 0;
  // The block map: eight 16-bit block numbers (DSM is over 255), one for each
  // started 8 KiB of the records this entry maps, from the file's first
  // block in the allocation vector's order; none past the drive's last block.
  const int64_t entry1 = records == 0 ? 0 : (records - 1) / kEntryRecords;
  const int64_t mapped = records - entry1 * kEntryRecords;
  const int64_t perBlock = kBlock / 128;
  for (int64_t i = 0; i < (mapped + perBlock - 1) / perBlock && i < 8; ++i) {
    const uint64_t block = firstBlock + static_cast<uint64_t>(entry1 * 8 + i);
    if (block >= kBlocks) break;
    rec[16 + 2 * i] = static_cast<uint8_t>(block & 0xFF);
    rec[17 + 2 * i] = static_cast<uint8_t>(block >> 8);
  }
  for (int i = 0; i < 128; ++i) mem_->Write(static_cast<uint16_t>(sys_.dma + i), rec[i]);
}

void Machine::SearchFirst() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  CpmName pattern(11, '?');
  sys_.search.reset();
  sys_.searchNext = 0;
  // '?' as the drive byte: every directory entry of every user, each with its
  // user number in byte 0. The BDOS listing's func17 then searches with a
  // length of 0, so the name is not looked at (the Interface Guide, SEARCH
  // FOR FIRST: "any matched entry, allocated or free, belonging to any user
  // number"). The runner's directory has no free entries between its files.
  const bool everyUser = mem_->bytes[fcb] == '?';
  if (!everyUser && !FcbName(fcb, true, pattern)) return;
  // Every user's files once, so each match's blocks follow the files before
  // it as the allocation vector counts them.
  auto found = std::make_shared<std::vector<Disk::Entry>>();
  auto blocks = std::make_shared<std::vector<uint32_t>>();
  uint64_t next = kDirBlocks;
  for (Disk::Entry& e : disk_.FindEvery()) {
    const uint64_t size = e.size > 0 ? static_cast<uint64_t>(e.size) : 0;
    if (everyUser || (e.user == sys_.user && Matches(pattern, e.name))) {
      blocks->push_back(static_cast<uint32_t>(std::min<uint64_t>(next, kBlocks)));
      found->push_back(std::move(e));
    }
    next += (size + kBlock - 1) / kBlock;
  }
  sys_.search = std::move(found);
  sys_.searchBlocks = std::move(blocks);
  SearchNext();
}

void Machine::SearchNext() {
  if (!sys_.search || sys_.searchNext >= sys_.search->size()) return Return(0xFF);
  const size_t i = sys_.searchNext++;
  PutDirEntry((*sys_.search)[i], (*sys_.searchBlocks)[i]);
  Return(0);
}

void Machine::DeleteFile() {
  CpmName pattern;
  if (!FcbName(cpu_->Get(Reg::DE), true, pattern) || ReadOnly()) return;
  const auto found = disk_.List(sys_.user, pattern);
  // All or nothing: every file is checked before the first is removed.
  bool any = false;
  for (const Disk::Entry& e : found) {
    if (!e.regular) continue;
    if (!Unique(found, e.name)) return Return(0xFF);
    if (!MayChange(e.user, e.host, e.links, e.readOnly)) return;
    any = true;
  }
  for (const Disk::Entry& e : found)
    if (e.regular && !disk_.Remove(e.user, e.host)) return HostFailed();
  Return(any ? 0 : 0xFF);
}

int Machine::ReadRecordTo(const Disk::File& f, uint32_t record) {
  uint8_t rec[128];
  if (record >= kMaxRecords) return 0;
  const int n = disk_.ReadRecord(f, record, rec);
  // A record the host cannot read is CP/M's bad sector.
  if (n < 0) return BdosError('A', "Bad Sector", disk_.error, kHostError), -1;
  for (int i = n; i < 128; ++i) rec[i] = kEof;  // a last partial record ends in 1AH
  if (n > 0)
    for (int i = 0; i < 128; ++i) mem_->Write(static_cast<uint16_t>(sys_.dma + i), rec[i]);
  return n;
}

int Machine::WriteRecordFrom(const Disk::File& f, uint32_t record) {
  if (record >= kMaxRecords) return 0;
  uint8_t rec[128];
  for (int i = 0; i < 128; ++i) rec[i] = mem_->bytes[static_cast<uint16_t>(sys_.dma + i)];
  if (!disk_.WriteRecord(f, record, rec)) return HostFailed(), -1;
  return 1;
}

void Machine::SetRecordCount(uint16_t fcb, const Disk::File& f) {
  // rc: the records of the extent the FCB stands in, as the BDOS keeps it.
  const int64_t size = disk_.Size(f);
  const int64_t records = size < 0 ? 0 : std::min<int64_t>((size + 127) / 128, kMaxRecords);
  const int64_t extent = (static_cast<int64_t>(mem_->bytes[uint16_t(fcb + kS2)] & 0x3F) * 32 +
                          (mem_->bytes[uint16_t(fcb + kEx)] & 0x1F));
  const int64_t rc = std::clamp<int64_t>(records - extent * 128, 0, 128);
  mem_->Write(static_cast<uint16_t>(fcb + kRc), static_cast<uint8_t>(rc));
}

void Machine::ReadSequential() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  Disk::File* f = FcbFile(fcb);
  if (!f) return;
  const uint32_t record = SequentialRecord(fcb);
  const int n = ReadRecordTo(*f, record);
  if (n <= 0) return Return(1);  // end of file
  // After the last record of an extent the FCB stays in it with cr=80H;
  // the next read moves to the next extent (and its record count).
  if ((record + 1) % 128 == 0) {
    mem_->Write(static_cast<uint16_t>(fcb + kCr), 0x80);
  } else {
    const uint8_t ex = mem_->bytes[uint16_t(fcb + kEx)], s2 = mem_->bytes[uint16_t(fcb + kS2)];
    SetPosition(fcb, record + 1);
    if (ex != mem_->bytes[uint16_t(fcb + kEx)] || s2 != mem_->bytes[uint16_t(fcb + kS2)]) SetRecordCount(fcb, *f);
  }
  Return(0);
}

void Machine::WriteSequential() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  if (ReadOnly()) return;
  Disk::File* f = FcbFile(fcb);
  if (!f || !MayWrite(*f, 1)) return;
  const uint32_t record = SequentialRecord(fcb);
  const int n = WriteRecordFrom(*f, record);
  if (n <= 0) return Return(2);  // the disk (here: the file's 8 MiB) is full
  SetPosition(fcb, record + 1);
  SetRecordCount(fcb, *f);
  Return(0);
}

void Machine::MakeFile() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  CpmName name;
  if (!FcbName(fcb, false, name) || ReadOnly()) return;
  mem_->Write(static_cast<uint16_t>(fcb + kS2), 0);  // as OPEN
  const int user = sys_.user;
  const auto found = disk_.List(user, name);
  if (!Unique(found, name)) return Return(0xFF);
  Disk::File* f = nullptr;
  if (const auto e = std::find_if(found.begin(), found.end(), [](const Disk::Entry& x) { return x.regular; });
      e != found.end()) {
    if (!MayChange(user, e->host, e->links, e->readOnly)) return;
    disk_.DropHost(user, e->host);
    f = disk_.Keep(user, name, e->host, false, Disk::How::kTruncate);
  } else if (!found.empty()) {
    // A FIFO, socket, device, folder or link has the name: no file is made
    // over it or through it; the program sees a make that failed.
    Note(UserPath(user, found.front().host) + " is " + found.front().kind + ", not a file; nothing is made");
    return Return(0xFF);
  } else {
    f = disk_.Keep(user, name, NewHostName(name), false, Disk::How::kCreate);
    // The user's folder name is something else (a file, a link): no file
    // of that user's can be made, as on a full directory.
    if (!f && disk_.notAFolder) {
      Note(disk_.error + "; nothing is made");
      return Return(0xFF);
    }
  }
  if (!f) return HostFailed();
  mem_->Write(static_cast<uint16_t>(fcb + kRc), 0);
  Return(0);
}

void Machine::RenameFile() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  CpmName from, to;
  // The new name's drive byte is the first name's, as the BDOS copies it.
  if (!FcbName(fcb, false, from)) return;
  mem_->Write(static_cast<uint16_t>(fcb + 16), mem_->bytes[fcb]);
  if (!FcbName(static_cast<uint16_t>(fcb + 16), false, to) || ReadOnly()) return;
  const int user = sys_.user;
  const auto found = disk_.List(user, from);
  const auto old = std::find_if(found.begin(), found.end(), [](const Disk::Entry& e) { return e.regular; });
  if (old == found.end()) return Return(0xFF);
  if (!Unique(found, from)) return Return(0xFF);
  if (!MayChange(user, old->host, old->links, old->readOnly)) return;
  if (from == to) return Return(0);  // its own name: nothing to do
  // A name already taken, by a file or anything else, is not given again.
  if (!disk_.List(user, to).empty()) return Return(0xFF);
  if (!disk_.Rename(user, old->host, NewHostName(to))) return HostFailed();
  Return(0);
}

void Machine::ReadRandom() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  const uint32_t record = mem_->Word(static_cast<uint16_t>(fcb + kR0));
  if (mem_->bytes[uint16_t(fcb + kR0 + 2)] != 0) return Return(6);  // past the end of the disk
  int64_t records = 0;
  if (!FindRecords(fcb, records)) return;
  Disk::File* f = FcbFile(fcb);
  if (!f) return;
  SetPosition(fcb, record);
  // A directory entry holds four extents (512 records; EXM 3 in the DPB).
  // A record past those the file's entries hold is in an extent never
  // written: 04H; past the end inside one: 01H, reading unwritten data.
  const int64_t entries = std::max<int64_t>(1, (records + kEntryRecords - 1) / kEntryRecords);
  if (record / kEntryRecords >= entries) return Return(4);
  const int n = ReadRecordTo(*f, record);
  Return(n < 0 ? 0 : n == 0 ? 1 : 0);
}

void Machine::WriteRandom() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  if (ReadOnly()) return;
  const uint32_t record = mem_->Word(static_cast<uint16_t>(fcb + kR0));
  if (mem_->bytes[uint16_t(fcb + kR0 + 2)] != 0) return Return(6);
  Disk::File* f = FcbFile(fcb);
  if (!f || !MayWrite(*f, 5)) return;
  SetPosition(fcb, record);
  if (WriteRecordFrom(*f, record) > 0) SetRecordCount(fcb, *f);
  Return(0);
}

void Machine::FileSize() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  int64_t records = 0;
  if (!FindRecords(fcb, records)) return;
  mem_->Write(static_cast<uint16_t>(fcb + kR0), records & 0xFF);
  mem_->Write(static_cast<uint16_t>(fcb + kR0 + 1), (records >> 8) & 0xFF);
  mem_->Write(static_cast<uint16_t>(fcb + kR0 + 2), records >= 65536 ? 1 : 0);
  Return(0);
}

void Machine::SetRandom() {
  const uint16_t fcb = cpu_->Get(Reg::DE);
  const uint32_t record = SequentialRecord(fcb);
  mem_->Write(static_cast<uint16_t>(fcb + kR0), record & 0xFF);
  mem_->Write(static_cast<uint16_t>(fcb + kR0 + 1), (record >> 8) & 0xFF);
  mem_->Write(static_cast<uint16_t>(fcb + kR0 + 2), record >= 65536 ? 1 : 0);
}

// The BIOS: the entries a program may call directly.

void Machine::Bios(int entry) {
  static const char* const kNames[kBiosEntries] = {"BOOT",   "WBOOT",  "CONST",  "CONIN",  "CONOUT", "LIST",
                                                   "PUNCH",  "READER", "HOME",   "SELDSK", "SETTRK", "SETSEC",
                                                   "SETDMA", "READ",   "WRITE",  "LISTST", "SECTRAN"};
  Cpu& c = *cpu_;
  const uint8_t arg = c.Get(Reg::BC) & 0xFF;
  if (opt_.trace) *opt_.trace << "           BIOS " << kNames[entry] << "\n";
  bios_ = kNames[entry];
  switch (entry) {
    case 0:
    case 1:
      ended_ = true;
      return;
    case 2:
      c.Set(Reg::AF, static_cast<uint16_t>((Polled() ? 0xFF00 : 0) | (c.Get(Reg::AF) & 0xFF)));
      return;
    case 3: {
      const int ch = In();
      c.Set(Reg::AF, static_cast<uint16_t>((ch < 0 ? kEof : ch) << 8 | (c.Get(Reg::AF) & 0xFF)));
      return;
    }
    case 4:
      Out(arg);
      return;
    case 5:
      if (opt_.list) opt_.list->put(static_cast<char>(arg));
      return;
    case 6:
      return;
    case 7:
      c.Set(Reg::AF, static_cast<uint16_t>(kEof << 8 | (c.Get(Reg::AF) & 0xFF)));
      return;
    case 15:
      c.Set(Reg::AF, static_cast<uint16_t>(0xFF00 | (c.Get(Reg::AF) & 0xFF)));
      return;
    default:
      Stop(kUnknownCall,
           "unknown BIOS call " + std::string(kNames[entry]) + " (" + Hex4(kBios + 3 * entry) + ") " + CallerText(),
           caller_);
  }
}

}  // namespace orvane::runner
