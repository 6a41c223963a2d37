#include "driver/run.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "output/listing.h"
#include "output/object_output.h"
#include "output/xref.h"

namespace orvane {

namespace {

// The files a run writes, in the order the run opens them.
struct Output {
  std::string what;
  std::string path;
  std::unique_ptr<CommitSink> sink;
};

// Every output path is given, none names the source, and no two name the
// same file; checked before anything is opened.
void CheckOutputs(const std::string& source, const std::vector<Output>& outputs, FileSystem& files) {
  for (size_t i = 0; i < outputs.size(); ++i) {
    const Output& o = outputs[i];
    if (o.path.empty()) throw FileError(o.path, "no " + o.what + " path given");
    if (files.NamesSource(source, o.path)) throw FileError(o.path, "the " + o.what + " path names the source file");
    for (size_t j = 0; j < i; ++j) {
      if (files.SameOutput(outputs[j].path, o.path))
        throw FileError(o.path, "the " + outputs[j].what + " and " + o.what + " paths name the same file");
    }
  }
}

// Puts every output in place, all or nothing.
void Commit(std::vector<Output>& outputs) {
  std::vector<CommitSink*> order;
  for (Output& o : outputs) order.push_back(o.sink.get());
  CommitAll(order);
}

std::string Address(int64_t a) {
  char text[24];
  std::snprintf(text, sizeof text, "%04llXH", static_cast<unsigned long long>(a));
  return text;
}

}  // namespace

std::string Counted(int64_t n, std::string_view noun) {
  return std::to_string(n) + ' ' + std::string(noun) + (n == 1 ? "" : "s");
}

std::string BytesWritten(const RunResult& run) {
  if (run.objectBytes == 0) return "no bytes";
  std::string s = Counted(static_cast<int64_t>(run.objectBytes), "byte") + " at " + Address(run.lowAddress);
  if (run.highAddress != run.lowAddress) s += '-' + Address(run.highAddress);
  return s;
}

RunResult AssembleFile(Assembler& as, WindowOps& window, FileSystem& files, const ExtraOutputs& extra) {
  const std::string sourcePath = window.Text(TextField::kSource);
  // The inputs are disabled while the run goes on, so its choices are taken
  // once, here.
  const RunOptions options{window.IntelHexSelected(), window.ListingChecked(), !extra.crossReference.empty()};
  std::vector<Output> outputs(2);
  outputs[0] = {"listing", window.Text(TextField::kList), nullptr};
  outputs[1] = {"object", window.Text(TextField::kObject), nullptr};
  const size_t xref = extra.crossReference.empty() ? 0 : outputs.size();
  if (xref) outputs.push_back({"cross-reference", extra.crossReference, nullptr});
  const size_t symbolFile = extra.symbols.empty() ? 0 : outputs.size();
  if (symbolFile) outputs.push_back({"symbol file", extra.symbols, nullptr});
  CheckOutputs(sourcePath, outputs, files);

  RunResult result;
  window.SetText(TextField::kAsmListing, "");
  as.BeginRun(options);

  // Pass 1: lengths and labels.
  auto source = files.OpenRead(sourcePath);
  as.BeginPass(1);
  for (std::string_view line; source->Next(line);) as.Step(line);
  result.lines = as.Line();

  // Pass 2: object, listing. A source read into memory is read from there
  // again; a file is opened again.
  as.BeginPass(2);
  if (!source->Rewind()) {
    source.reset();
    source = files.OpenRead(sourcePath);
  }
  for (Output& o : outputs) o.sink = files.Create(o.path);
  ListingWriter listing(*outputs[0].sink, sourcePath);
  ObjectOutput object(options.intelHex, *outputs[1].sink);
  std::string box;
  int64_t boxLines = 0;
  for (std::string_view line; source->Next(line);) {
    as.Step(line);
    if (!as.NoObject() && !as.ObjCode().empty()) {
      object.ObjectSave(as.Address(), as.ObjCode());
      const int64_t last = as.Address() + static_cast<int64_t>(as.ObjCode().size() / 2) - 1;
      if (result.lowAddress < 0 || as.Address() < result.lowAddress) result.lowAddress = as.Address();
      result.highAddress = std::max(result.highAddress, last);
    }
    if (as.IsEnd()) object.End(as.StartAddress());
    const ListingInput entry{as.Address(), as.ObjCode(), &as.Fields(), as.Diag().ErrText};
    listing.Entry(entry);
    const int64_t boxLine = options.listingBox ? boxLines : -1;
    if (options.listingBox) {
      box.clear();
      AppendBoxEntry(entry, box);
      window.AppendListing(box);
      boxLines += std::count(box.begin(), box.end(), '\n');
    }
    if (!as.Diag().Messages.empty()) ++result.statementsWithErrors;
    for (const Report& r : as.Diag().Reports) {
      ++(r.severity == Severity::kError ? result.messages : result.warnings);
      window.Reported(Problem{as.Line(), r.column, r.severity, r.name, r.text, r.note, line, boxLine});
    }
    window.ProcessEvents();
    if (window.StopRequested()) return result;  // outputs are discarded unwritten
  }
  // A program without END still gets its last record and an end record.
  object.Finish();
  listing.Finish();
  result.objectBytes = object.BytesSent();
  if (xref) WriteCrossReference(as.Symbols(), as.Xref(), *outputs[xref].sink);
  if (symbolFile) WriteSymbolFile(as.Symbols(), *outputs[symbolFile].sink);
  Commit(outputs);
  result.listingPath = outputs[0].path;
  result.objectPath = outputs[1].path;

  window.SetVisible(Control::kAssemble, false);
  window.SetText(TextField::kSource, "");
  window.SetText(TextField::kList, "");
  window.SetText(TextField::kObject, "");
  result.completed = true;
  return result;
}

}  // namespace orvane
