#include "driver/run.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "encoder/assembler.h"
#include "output/listing.h"
#include "output/timing_file.h"
#include "output/xref.h"

namespace orvane {

namespace {

// The files a run writes, in the order the run opens them.
struct Output {
  std::string what;
  std::string path;
  std::unique_ptr<CommitSink> sink;
};

// No output path names the source, and no two name the same file; checked
// before anything is opened.
void CheckOutputs(const RunRequest& request, const std::vector<Output>& outputs, FileSystem& files) {
  for (size_t i = 0; i < outputs.size(); ++i) {
    const Output& o = outputs[i];
    if (!request.text && files.NamesSource(request.path, o.path))
      throw FileError(o.path, "the " + o.what + " path names the source file");
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

// The sink of an output, or nullptr when the request names none.
OutputSink* SinkOf(const std::vector<Output>& outputs, const std::string& what) {
  for (const Output& o : outputs)
    if (o.what == what) return o.sink.get();
  return nullptr;
}

}  // namespace

std::string Counted(int64_t n, std::string_view noun) {
  return std::to_string(n) + ' ' + std::string(noun) + (n == 1 ? "" : "s");
}

std::string BytesWritten(const RunResult& run) {
  if (run.objectBytes == 0) return "no bytes";
  std::string s = Counted(static_cast<int64_t>(run.objectBytes), "byte") + " at ";
  // Every address has 16 bits: bytes spread over 64K or more cover it all.
  if (run.highAddress - run.lowAddress >= 0xFFFF) return s + "0000H-FFFFH";
  s += Address(run.lowAddress & 0xFFFF);
  if (run.highAddress != run.lowAddress) s += '-' + Address(run.highAddress & 0xFFFF);
  if ((run.lowAddress >> 16) != (run.highAddress >> 16)) s += " (wrapping past FFFFH)";
  return s;
}

RunResult Run(const RunRequest& request, FileSystem& files, RunObserver& observer) {
  const ObjectFormat& format = *request.format;
  std::vector<Output> outputs;
  for (const auto& [what, path] : {std::pair<const char*, const std::string&>{"listing", request.listing},
                                   {"object", request.object},
                                   {"cross-reference", request.crossReference},
                                   {"symbol file", request.symbols},
                                   {"timing file", request.timing}}) {
    if (!path.empty()) outputs.push_back({what, path, nullptr});
  }
  CheckOutputs(request, outputs, files);

  RunResult result;
  observer.Started();
  auto as = std::make_unique<Assembler>();
  const bool crossReference = !request.crossReference.empty();
  as->BeginRun(RunOptions{&format, crossReference || request.recordUses});

  // Pass 1: lengths and labels.
  auto open = [&] {
    return request.text ? std::make_unique<MemoryLineSource>(*request.text) : files.OpenRead(request.path);
  };
  std::unique_ptr<LineSource> source = open();
  as->BeginPass(1);
  for (std::string_view line; source->Next(line);) as->Step(line);
  result.lines = as->Result().line;

  // Pass 2: object, listing. The source starts again from its first line; a
  // source that cannot (or that changed since pass 1) says so itself.
  as->BeginPass(2);
  if (!source->Rewind()) {
    source.reset();
    source = open();
  }
  for (Output& o : outputs) {
    o.sink = files.Create(o.path);
    for (const std::string& note : o.sink->Notes()) observer.FileNote(note);
  }
  std::optional<ListingWriter> listing;
  if (OutputSink* sink = SinkOf(outputs, "listing")) listing.emplace(*sink, request.path, format);
  std::unique_ptr<ObjectWriter> object;
  if (OutputSink* sink = SinkOf(outputs, "object")) object = format.makeWriter(*sink);
  std::optional<TimingFileWriter> timing;
  if (OutputSink* sink = SinkOf(outputs, "timing file")) timing.emplace(*sink);
  EntryMaker boxEntries(format);
  std::string box;
  int64_t boxLines = 0;
  std::vector<const Problem*> order;
  for (std::string_view line; source->Next(line);) {
    as->Step(line);
    const Statement& s = as->Result();
    if (s.toObject && !s.bytes.empty()) {
      if (object) object->Bytes(s.address, s.bytes);
      result.objectBytes += s.bytes.size();
      const int64_t last = s.address + static_cast<int64_t>(s.bytes.size()) - 1;
      if (result.lowAddress < 0 || s.address < result.lowAddress) result.lowAddress = s.address;
      result.highAddress = std::max(result.highAddress, last);
    }
    if (s.isEnd && object) object->End(s.startAddress);
    if (listing) listing->Entry(s);
    if (timing) timing->Entry(s);
    const int64_t boxLine = boxLines;
    if (request.listingBox) {
      box.clear();
      boxEntries.AppendBoxEntry(s, box);
      observer.ListingBox(box);
      boxLines += std::count(box.begin(), box.end(), '\n');
    }
    if (!s.problems.empty()) {
      if (s.hasErrors) ++result.statementsWithErrors;
      // Reported in the order of their columns (the listing keeps the order
      // they were found in); problems of the same column keep theirs.
      order.clear();
      for (const Problem& p : s.problems) order.push_back(&p);
      std::stable_sort(order.begin(), order.end(),
                       [](const Problem* a, const Problem* b) { return a->span.column < b->span.column; });
      for (const Problem* reported : order) {
        const Problem& p = *reported;
        if (p.severity == Severity::kWarning && !request.warnings.Reported(p.name)) continue;
        if (p.severity != Severity::kNote) ++(p.IsError() ? result.messages : result.warnings);
        observer.Reported(p, s, request.listingBox ? boxLine : -1);
      }
    }
    observer.StatementDone(s);
    if (observer.StopRequested()) return result;  // outputs are discarded unwritten
  }
  // A program without END still gets its last record and an end record.
  if (object) object->Finish();
  if (listing) listing->Finish();
  if (OutputSink* sink = SinkOf(outputs, "cross-reference")) WriteCrossReference(as->Symbols(), as->Xref(), *sink);
  if (OutputSink* sink = SinkOf(outputs, "symbol file")) WriteSymbolFile(as->Symbols(), *sink);
  observer.Symbols(as->Symbols(), as->Xref());
  Commit(outputs);
  if (format.loadsFromOrigin && result.objectBytes != 0) {
    result.lowAddress = format.origin;
    result.highAddress = format.origin + static_cast<int64_t>(result.objectBytes) - 1;
  }
  result.listingPath = request.listing;
  result.objectPath = request.object;
  result.completed = true;
  observer.Finished(as);
  return result;
}

}  // namespace orvane
