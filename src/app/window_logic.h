// The window's event handlers, written against WindowOps so they run the same
// in the Qt window and in tests. Heights are in twips.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "driver/file_ops.h"
#include "app/window_ops.h"
#include "driver/run.h"

namespace orvane {

inline constexpr int kHeightWithoutListing = 3000;
inline constexpr int kHeightWithListing = 6780;
inline constexpr int kListingBoxMargin = 3090;  // window height - box height
inline constexpr std::string_view kSourceFilter =
    "z80 Assembly File|*.z80|Assembly File|*.asm|All FIles|*.*";

// The path fields as the window names them to the user.
inline constexpr const char* kSourceFieldName = "Source file";
inline constexpr const char* kListFieldName = "Listing file";
inline constexpr const char* kObjectFieldName = "Object file";

// A message of the last run, kept for going from one problem to the next,
// with the listing box line its entry starts at (-1 without the box).
struct KeptProblem {
  Problem problem;
  int64_t boxLine = -1;
};

// Ends the status line after a run until F5 (or Ctrl+R) has been used once.
inline constexpr std::string_view kAgainHint = "; F5 assembles again";

// The status line after a completed run: "No errors" or "3 errors, 2
// warnings", the bytes written and their addresses, the two output file names
// and, when there is one, the first problem.
std::string RunSummary(const RunResult& run, const KeptProblem* first);
// "path: reason", or the reason alone where no file is named (an empty field).
std::string FileErrorText(const FileError& e);
// "Error 2 of 3, line 17: Undefined Opcode", with a warning's name and a note.
std::string ProblemStatus(const KeptProblem& problem, size_t index, size_t count);

class WindowLogic {
 public:
  // The run shows how far it has come every so many lines.
  static constexpr int64_t kProgressLines = 1000;
  // Problems kept for going from one to the next; the counts cover them all.
  static constexpr size_t kMaxProblems = 100000;

  WindowLogic(WindowOps& window, FileSystem& files) : window_(window), files_(files) {}

  void OnLoad();
  void OnResize();
  void OnSelectFile();
  // What the dialog does with its answer, for a source chosen another way
  // (dropped on the window, named on the command line). Empty: none chosen.
  void OnSelectFile(const std::string& path);
  // Runs the assembly. Throws FileError (nothing written) for a file problem.
  RunResult OnAssemble();
  // Runs again: the source in the fields when one is given (an empty listing
  // or object field derived from it as a file selection does), else the last
  // run's source and outputs in the last run's format. The fields are left as
  // a run leaves them.
  RunResult OnRunAgain();
  // Assembles for Run (F9): the source in the fields, else the last run's, as
  // a CP/M image, or as Intel HEX for a board when hex is set (an object path
  // of the other format replaced by the source's .com or .HEX). The status
  // line says so, or, with errors, that the program was not run. The fields
  // are left as a run leaves them.
  RunResult OnAssembleForRun(bool hex = false);
  void OnOptIntelHex();
  void OnOptCpm();
  void OnChkListing();
  // A message of the run going on; kept in source-line order.
  void OnReported(const Problem& problem, int64_t boxLine);
  // Selects the next (or previous) problem's entry in the listing box and
  // shows its message below the run's counts, wrapping around.
  void OnGoToProblem(bool backwards);

  bool Running() const { return running_; }
  // The source of the last run, whether it was a CP/M image.
  const std::string& LastSource() const { return last_.source; }
  bool LastRunCpm() const { return !last_.intelHex; }

  // When set, called with every pass-2 statement of a run and the listing-box
  // line its entry starts at (-1 without the box).
  std::function<void(const Statement&, int64_t boxLine)> onStatement;
  // When set, called with the symbols at the end of a run's pass 2.
  std::function<void(const SymbolTable&)> onSymbols;

 private:
  class Observer;
  void DeriveEmptyOutputs();
  // Throws FileError naming the path field that is empty.
  static void CheckPathsGiven(const RunRequest& request);
  struct LastRun {
    std::string source, list, object;
    bool intelHex = true;
    bool listingBox = false;
  };
  // The run behind OnAssemble and OnAssembleForRun, with these paths.
  RunResult Assemble(LastRun paths);

  WindowOps& window_;
  FileSystem& files_;
  bool running_ = false;
  LastRun last_;
  std::vector<KeptProblem> problems_;
  size_t current_ = 0;  // the problem shown, when shown_
  bool shown_ = false;
  int64_t linesDone_ = 0;
  int64_t boxLines_ = 0, entryLine_ = 0;  // listing-box lines so far, and where this entry starts
  std::string counts_;  // the first line of the last run's summary
  bool againUsed_ = false;  // F5 or Ctrl+R used in this session
};

}  // namespace orvane
