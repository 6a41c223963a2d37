#include "app/window_logic.h"

#include <algorithm>

#include "app/paths.h"
#include "output/listing.h"

namespace orvane {

namespace {

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

}  // namespace

std::string RunSummary(const RunResult& run, const KeptProblem* first) {
  std::string s = run.messages == 0 && run.warnings == 0
                      ? std::string("No errors")
                      : Counted(run.messages, "error") + ", " + Counted(run.warnings, "warning");
  s += "; " + BytesWritten(run);
  s += "\nlisting " + FileName(run.listingPath) + ", object " + FileName(run.objectPath);
  if (first) {
    const Problem& p = first->problem;
    s += "\nline " + std::to_string(p.span.line) + ": ";
    s += (p.severity == Severity::kWarning ? "warning: " : p.severity == Severity::kNote ? "note: " : "") + p.text;
  }
  return s;
}

std::string FileErrorText(const FileError& e) { return e.path().empty() ? e.reason() : e.what(); }

std::string ProblemStatus(const KeptProblem& kept, size_t index, size_t count) {
  const Problem& problem = kept.problem;
  std::string s = problem.severity == Severity::kWarning ? "Warning "
                  : problem.severity == Severity::kNote  ? "Note "
                                                          : "Error ";
  s += std::to_string(index + 1) + " of " + std::to_string(count) + ", line " + std::to_string(problem.span.line) + ": " +
       problem.text;
  if (!problem.name.empty()) s += " [-W" + std::string(problem.name) + ']';
  if (!problem.note.empty()) s += "\nnote: " + problem.note;
  return s;
}

// The run as the window follows it: the listing box, the problems kept for
// F8, progress on the status line, and the events processed once per
// statement so that the window repaints and can stop the run.
class WindowLogic::Observer : public RunObserver {
 public:
  explicit Observer(WindowLogic& logic) : logic_(logic), w_(logic.window_) {}
  void Started() override { w_.SetText(TextField::kAsmListing, ""); }
  void ListingBox(std::string_view text) override {
    w_.AppendListing(text);
    logic_.boxLines_ += std::count(text.begin(), text.end(), '\n');
  }
  void Reported(const Problem& p, const Statement&, int64_t boxLine) override { logic_.OnReported(p, boxLine); }
  void StatementDone(const Statement& s) override {
    if (logic_.onStatement) logic_.onStatement(s, logic_.last_.listingBox ? logic_.entryLine_ : -1);
    logic_.entryLine_ = logic_.boxLines_;
    if (++logic_.linesDone_ % kProgressLines == 0) w_.SetStatus("Assembling: line " + std::to_string(logic_.linesDone_));
    w_.ProcessEvents();
  }
  void Symbols(const SymbolTable& symbols, const CrossReference&) override {
    if (logic_.onSymbols) logic_.onSymbols(symbols);
  }
  bool StopRequested() override { return w_.StopRequested(); }

 private:
  WindowLogic& logic_;
  WindowOps& w_;
};

void WindowLogic::OnLoad() {
  window_.SetVisible(Control::kAssemble, false);
  window_.SetWindowHeight(kHeightWithoutListing);
  window_.SelectIntelHex();
  window_.SetText(TextField::kSource, "");
  window_.SetText(TextField::kList, "");
  window_.SetText(TextField::kObject, "");
  window_.SetText(TextField::kAsmListing, "");
  window_.SetVisible(Control::kAsmListing, false);
}

void WindowLogic::OnResize() {
  const int height = window_.WindowHeight();
  if (window_.ListingChecked()) {
    if (height < kHeightWithListing) {
      window_.SetWindowHeight(kHeightWithListing);
    } else {
      window_.SetListingHeight(height - kListingBoxMargin);
    }
  } else if (height < kHeightWithoutListing) {
    window_.SetWindowHeight(kHeightWithoutListing);
  }
}

void WindowLogic::OnSelectFile() { OnSelectFile(window_.ShowOpenDialog(kSourceFilter)); }

void WindowLogic::OnSelectFile(const std::string& path) {
  if (!path.empty()) {
    const std::string stem = WindowStem(path);
    window_.SetText(TextField::kSource, path);
    window_.SetText(TextField::kList, stem + std::string(kListingExtension));
    if (window_.IntelHexSelected()) window_.SetText(TextField::kObject, stem + std::string(kIntelHexFormat.extension));
    if (window_.CpmSelected()) window_.SetText(TextField::kObject, stem + std::string(kCpmFormat.extension));
    window_.SetVisible(Control::kAssemble, true);
    // What the status line said was about the file before.
    window_.SetStatus("");
  }
  window_.SetText(TextField::kAsmListing, "");
}

RunResult WindowLogic::OnAssemble() {
  if (running_) return RunResult{};
  return Assemble({window_.Text(TextField::kSource), window_.Text(TextField::kList), window_.Text(TextField::kObject),
                   window_.IntelHexSelected()});
}

RunResult WindowLogic::Assemble(LastRun paths) {
  running_ = true;
  window_.SetInputsEnabled(false);
  struct Done {
    WindowLogic& self;
    ~Done() {
      self.running_ = false;
      self.window_.SetInputsEnabled(true);
    }
  } done{*this};
  last_ = std::move(paths);
  problems_.clear();
  shown_ = false;
  linesDone_ = 0;
  boxLines_ = entryLine_ = 0;
  counts_.clear();
  window_.SetStatus("Assembling...");
  RunRequest request;
  request.path = last_.source;
  request.listing = last_.list;
  request.object = last_.object;
  request.format = last_.intelHex ? &kIntelHexFormat : &kCpmFormat;
  request.listingBox = last_.listingBox = window_.ListingChecked();
  Observer observer(*this);
  RunResult result;
  try {
    CheckPathsGiven(request);
    result = Run(request, files_, observer);
  } catch (const FileError& e) {
    // Whatever the box held belongs to an earlier run.
    window_.SetText(TextField::kAsmListing, "");
    window_.SetStatus("Not assembled: " + FileErrorText(e));
    throw;
  }
  if (!result.completed) {
    window_.SetStatus("Stopped: nothing written");
    return result;
  }
  // What the window does after a run: Assemble hidden and the fields emptied
  // until the next file is selected.
  window_.SetVisible(Control::kAssemble, false);
  window_.SetText(TextField::kSource, "");
  window_.SetText(TextField::kList, "");
  window_.SetText(TextField::kObject, "");
  std::string summary = RunSummary(result, problems_.empty() ? nullptr : problems_.data());
  counts_ = summary.substr(0, summary.find('\n'));
  // The hint goes after the file names, where Assemble used to be.
  if (!againUsed_) {
    const size_t names = summary.find('\n', counts_.size() + 1);  // the end of the file names' line
    summary.insert(names == std::string::npos ? summary.size() : names, kAgainHint);
  }
  window_.SetStatus(summary);
  return result;
}

RunResult WindowLogic::OnRunAgain() {
  if (running_) return RunResult{};
  againUsed_ = true;
  if (!window_.Text(TextField::kSource).empty()) {
    DeriveEmptyOutputs();
  } else {
    if (last_.source.empty()) {
      window_.SetStatus("Nothing to run again: select a file first");
      return RunResult{};
    }
    // The format first: its click handler leaves the object path alone while
    // the source field is empty.
    if (last_.intelHex) {
      window_.SelectIntelHex();
    } else {
      window_.SelectCpm();
    }
    window_.SetText(TextField::kSource, last_.source);
    window_.SetText(TextField::kList, last_.list);
    window_.SetText(TextField::kObject, last_.object);
    window_.SetVisible(Control::kAssemble, true);
  }
  return OnAssemble();
}

RunResult WindowLogic::OnAssembleForRun(bool hex) {
  if (running_) return RunResult{};
  LastRun paths{window_.Text(TextField::kSource), window_.Text(TextField::kList), window_.Text(TextField::kObject), hex};
  if (paths.source.empty()) {
    if (last_.source.empty()) {
      window_.SetStatus("Nothing to run: select a file first");
      return RunResult{};
    }
    paths = {last_.source, last_.list, last_.intelHex == hex ? last_.object : std::string(), hex};
  } else if (window_.IntelHexSelected() != hex) {
    paths.object.clear();  // the field holds the other format's path
  }
  const std::string stem = WindowStem(paths.source);
  if (paths.list.empty()) paths.list = stem + std::string(kListingExtension);
  if (paths.object.empty()) paths.object = stem + std::string((hex ? kIntelHexFormat : kCpmFormat).extension);
  const RunResult result = Assemble(std::move(paths));
  if (!result.completed) return result;
  std::string rest = RunSummary(result, nullptr);
  rest = rest.substr(rest.find('\n'));  // the file names
  if (result.statementsWithErrors != 0) {
    window_.SetStatus("Not run: " + Counted(std::max(result.messages, result.statementsWithErrors), "error") +
                      "; F8 goes to the first" + rest);
  } else {
    window_.SetStatus(counts_ + rest + (hex ? "\nassembled as Intel HEX for Run (F9) on the board"
                                            : "\nassembled as a CP/M image for Run (F9)"));
  }
  return result;
}

void WindowLogic::DeriveEmptyOutputs() {
  const std::string stem = WindowStem(window_.Text(TextField::kSource));
  if (window_.Text(TextField::kList).empty()) window_.SetText(TextField::kList, stem + std::string(kListingExtension));
  if (window_.Text(TextField::kObject).empty()) {
    const ObjectFormat& format = window_.CpmSelected() ? kCpmFormat : kIntelHexFormat;
    window_.SetText(TextField::kObject, stem + std::string(format.extension));
  }
  window_.SetVisible(Control::kAssemble, true);
}

void WindowLogic::CheckPathsGiven(const RunRequest& request) {
  const std::pair<const std::string*, const char*> fields[] = {
      {&request.path, kSourceFieldName}, {&request.listing, kListFieldName}, {&request.object, kObjectFieldName}};
  for (const auto& [path, name] : fields) {
    if (path->empty()) throw FileError("", std::string("the ") + name + " field is empty");
  }
}

void WindowLogic::OnReported(const Problem& problem, int64_t boxLine) {
  if (boxLine >= 0 && problem.severity != Severity::kNote) window_.MarkBoxEntry(boxLine, problem.IsError());
  if (problems_.size() >= kMaxProblems) return;
  KeptProblem kept{problem, boxLine};
  const auto at = std::upper_bound(problems_.begin(), problems_.end(), problem.span.line,
                                   [](int64_t line, const KeptProblem& p) { return line < p.problem.span.line; });
  problems_.insert(at, std::move(kept));
}

void WindowLogic::OnGoToProblem(bool backwards) {
  const size_t n = problems_.size();
  if (n == 0) return;
  if (!shown_) {
    current_ = backwards ? n - 1 : 0;
  } else {
    current_ = (current_ + (backwards ? n - 1 : 1)) % n;
  }
  shown_ = true;
  const KeptProblem& p = problems_[current_];
  if (p.boxLine >= 0) window_.SelectBoxLine(p.boxLine);
  // The counts stay in view above the problem.
  window_.SetStatus((counts_.empty() ? "" : counts_ + '\n') + ProblemStatus(p, current_, n));
}

void WindowLogic::OnOptIntelHex() {
  const std::string source = window_.Text(TextField::kSource);
  if (!source.empty()) window_.SetText(TextField::kObject, WindowStem(source) + std::string(kIntelHexFormat.extension));
}

void WindowLogic::OnOptCpm() {
  const std::string source = window_.Text(TextField::kSource);
  if (!source.empty()) window_.SetText(TextField::kObject, WindowStem(source) + std::string(kCpmFormat.extension));
}

void WindowLogic::OnChkListing() {
  if (window_.ListingChecked()) {
    window_.SetWindowHeight(kHeightWithListing);
    window_.SetVisible(Control::kAsmListing, true);
  } else {
    window_.SetWindowHeight(kHeightWithoutListing);
    window_.SetVisible(Control::kAsmListing, false);
  }
}

}  // namespace orvane
