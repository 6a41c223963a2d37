// The window's event handlers, written against WindowOps so they run the same
// in the Qt window and in tests. Heights are in twips.
#pragma once
#include <string>

#include "app/file_ops.h"
#include "app/run.h"
#include "app/window_ops.h"
#include "encoder/assembler.h"

namespace orvane {

inline constexpr int kHeightWithoutListing = 3000;
inline constexpr int kHeightWithListing = 6780;
inline constexpr int kListingBoxMargin = 3090;  // window height - box height
inline constexpr std::string_view kSourceFilter =
    "z80 Assembly File|*.z80|Assembly File|*.asm|All FIles|*.*";

class WindowLogic {
 public:
  WindowLogic(WindowOps& window, FileSystem& files) : window_(window), files_(files) {}

  void OnLoad();
  void OnResize();
  void OnSelectFile();
  // Runs the assembly. Throws FileError (nothing written) for a file problem.
  RunResult OnAssemble();
  void OnOptIntelHex();
  void OnOptCpm();
  void OnChkListing();

  bool Running() const { return running_; }

 private:
  WindowOps& window_;
  FileSystem& files_;
  Assembler as_;
  bool running_ = false;
};

}  // namespace orvane
