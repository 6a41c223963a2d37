#include "app/run.h"

#include <utility>

#include "app/listing.h"
#include "front/operands.h"

namespace orvane {

namespace {

// Listing text is gathered up to this size before it goes to the file.
constexpr size_t kListingChunk = 1 << 17;

int32_t Origin(WindowOps& window) { return window.CpmSelected() ? 256 : 0; }

void CheckOutputPaths(WindowOps& window, FileSystem& files) {
  const std::string source = window.Text(TextField::kSource);
  const std::string list = window.Text(TextField::kList);
  const std::string object = window.Text(TextField::kObject);
  if (list.empty()) throw FileError(list, "no listing path given");
  if (object.empty()) throw FileError(object, "no object path given");
  if (files.NamesSource(source, list)) throw FileError(list, "the listing path names the source file");
  if (files.NamesSource(source, object)) throw FileError(object, "the object path names the source file");
  if (files.SameOutput(list, object)) throw FileError(object, "the listing and object paths name the same file");
}

}  // namespace

RunResult AssembleFile(Assembler& as, WindowOps& window, FileSystem& files) {
  RunResult result;
  const std::string sourcePath = window.Text(TextField::kSource);
  CheckOutputPaths(window, files);

  as.Symbols.Reset();
  window.SetText(TextField::kAsmListing, "");
  as.PC = Origin(window);
  as.SetPass2(false);
  as.Hex.Reset();
  as.Hex.SetSink(nullptr);
  as.Diag.Clear();

  // Pass 1: lengths and labels.
  auto source = files.OpenRead(sourcePath);
  {
    std::string_view line;
    int64_t n = 0;
    while (source->Next(line)) {
      as.LineNo = ++n;
      as.Assemble(line);
      as.PC = static_cast<int32_t>(static_cast<uint32_t>(as.PC) + static_cast<uint32_t>(as.ByteCount));
    }
    result.lines = n;
  }

  // Pass 2: object, listing. A source read into memory is read from there
  // again; a file is opened again.
  as.PC = Origin(window);
  as.SetPass2(true);
  if (!source->Rewind()) {
    source.reset();
    source = files.OpenRead(sourcePath);
  }
  auto listing = files.Create(window.Text(TextField::kList));
  auto object = files.Create(window.Text(TextField::kObject));
  ObjectOutput output(window, as.Hex);
  // The HEX writer must not keep a pointer to the object file past this run,
  // however the run ends.
  struct SinkGuard {
    IntelHexWriter& hex;
    ~SinkGuard() { hex.SetSink(nullptr); }
  } guard{as.Hex};
  if (window.IntelHexSelected()) {
    as.Hex.SetSink(object.get());
  } else {
    output.SetImageSink(object.get());
  }

  std::string fileEntry;
  std::string boxEntry;
  fileEntry.reserve(kListingChunk + 4096);
  fileEntry.append(sourcePath);
  fileEntry.append("\r\n");

  std::string_view line;
  int64_t n = 0;
  while (source->Next(line)) {
    as.Fields.Clear();
    as.NoObject = false;
    as.LineNo = ++n;
    as.Assemble(line);
    if (!as.NoObject) output.ObjectSave(as.PC, as.ObjCode);

    ListingInput entry{as.PC, as.ObjCode, &as.Fields, as.Diag.ErrText};
    // Entries are handed to the file in large pieces, which it writes
    // without copying them again.
    AppendFileEntry(entry, fileEntry);
    if (fileEntry.size() >= kListingChunk) {
      listing->Write(fileEntry);
      fileEntry.clear();
    }
    if (window.ListingChecked()) {
      boxEntry.clear();
      AppendBoxEntry(entry, boxEntry);
      window.AppendListing(boxEntry);
    }
    as.ObjCode.clear();  // the listing consumes the object text

    if (!as.Diag.Messages.empty()) {
      ++result.statementsWithErrors;
      result.messages += static_cast<int64_t>(as.Diag.Messages.size());
      window.StatementMessages(n, as.Diag.Messages);
    }
    window.ProcessEvents();
    if (window.StopRequested()) return result;  // outputs are discarded unwritten
    as.Diag.Clear();
    as.PC = static_cast<int32_t>(static_cast<uint32_t>(as.PC) + static_cast<uint32_t>(as.ByteCount));
  }

  // A program without END still gets its last record and an end record.
  if (window.IntelHexSelected()) as.Hex.Finish();
  result.objectBytes = output.BytesSent();

  listing->Write(fileEntry);
  // Outputs written in place go first: they can still fail while being
  // written, and a failure then leaves the outputs that are replaced whole as
  // they were.
  CommitSink* outputs[] = {listing.get(), object.get()};
  if (object->Kind() < listing->Kind()) std::swap(outputs[0], outputs[1]);
  for (CommitSink* o : outputs) o->Prepare();
  for (CommitSink* o : outputs) o->Commit();

  window.SetVisible(Control::kAssemble, false);
  window.SetText(TextField::kSource, "");
  window.SetText(TextField::kList, "");
  window.SetText(TextField::kObject, "");
  result.completed = true;
  return result;
}

}  // namespace orvane
