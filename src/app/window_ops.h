// What the run and the window's handlers may do to the window. The Qt window
// implements it for real; HeadlessWindow stands in for the command line and
// for tests.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "front/diagnostics.h"
#include "output/sink.h"

namespace orvane {

// One message of a statement, as the run hands it on.
struct Problem {
  int64_t line = 0;          // source line, from 1
  int column = 0;            // the column it points at, from 1; 0: the whole statement
  Severity severity = Severity::kError;
  std::string_view name;     // a warning's name; empty for an error
  std::string_view text;     // an error's exact text, or a warning's
  std::string_view note;     // what the text alone would not say, or empty
  std::string_view source;   // the source line as read
  int64_t boxLine = -1;      // the listing box line its entry starts at (from 0), or -1 without the box
};

enum class TextField { kSource, kList, kObject, kAsmListing };
enum class Control { kAssemble, kAsmListing };

class WindowOps {
 public:
  virtual ~WindowOps() = default;
  // optIntelHex and optCPMcom.
  virtual bool IntelHexSelected() = 0;
  virtual bool CpmSelected() = 0;
  // Text of txtSource, txtList or txtObject.
  virtual std::string Text(TextField field) = 0;
  virtual void SetText(TextField field, std::string_view text) = 0;
  virtual void AppendListing(std::string_view text) = 0;
  // optIntelHex and optCPMcom form one group; SelectIntelHex and SelectCpm
  // run the button's click handler as a user's click would.
  virtual void SelectIntelHex() = 0;
  virtual void SelectCpm() = 0;
  virtual bool ListingChecked() = 0;
  virtual void SetVisible(Control control, bool visible) = 0;
  // Heights in twips. Setting the window's height raises its resize event.
  virtual int WindowHeight() = 0;
  virtual void SetWindowHeight(int twips) = 0;
  virtual void SetListingHeight(int twips) = 0;
  // The chosen path, or empty when none was chosen.
  virtual std::string ShowOpenDialog(std::string_view filter) = 0;
  virtual void ProcessEvents() = 0;

  // Beyond the window's own controls.
  // The run stops cleanly (outputs discarded) when this turns true.
  virtual bool StopRequested() { return false; }
  // Input controls are disabled while a run is going on.
  virtual void SetInputsEnabled(bool /*enabled*/) {}
  // Called in pass 2 for every message of every statement, in order.
  virtual void Reported(const Problem& /*problem*/) {}
  // The status line: what the last run found, or what is going on.
  virtual void SetStatus(std::string_view /*text*/) {}
  // Selects a line of the listing box (from 0) and scrolls it into view.
  virtual void SelectBoxLine(int64_t /*line*/) {}
};

// A window without a screen: fields in memory, the listing box into a string
// or a sink (the command line's standard output).
class HeadlessWindow : public WindowOps {
 public:
  std::string source, list, object, listing;
  bool intelHex = true;
  bool listingChecked = false;
  OutputSink* listingSink = nullptr;  // when set, the box text goes here

  bool IntelHexSelected() override { return intelHex; }
  bool CpmSelected() override { return !intelHex; }
  std::string Text(TextField field) override;
  void SetText(TextField field, std::string_view text) override;
  void AppendListing(std::string_view text) override;
  void SelectIntelHex() override { intelHex = true; }
  void SelectCpm() override { intelHex = false; }
  bool ListingChecked() override { return listingChecked; }
  // Nothing to show, size, ask or repaint without a screen.
  void SetVisible(Control, bool) override {}
  int WindowHeight() override { return 0; }
  void SetWindowHeight(int) override {}
  void SetListingHeight(int) override {}
  std::string ShowOpenDialog(std::string_view) override { return {}; }
  void ProcessEvents() override {}
};

}  // namespace orvane
