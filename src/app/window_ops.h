// What the run and the window's handlers may do to the window. The Qt window
// implements it for real; HeadlessWindow stands in for the command line and
// for tests.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "output/sink.h"

namespace orvane {

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
  // optIntelHex and optCPMcom form one group; SelectIntelHex runs its click
  // handler as a user's click would.
  virtual void SelectIntelHex() = 0;
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
  // Called in pass 2 for every statement that reported messages.
  virtual void StatementMessages(int64_t /*line*/, const std::vector<std::string_view>& /*messages*/) {}
};

// A window without a screen: fields in memory, the listing box into a string
// or a sink (the command line's standard output).
class HeadlessWindow : public WindowOps {
 public:
  std::string source, list, object, listing;
  bool intelHex = true;
  bool listingChecked = false;
  bool assembleVisible = false;
  bool listingVisible = false;
  int windowHeight = 0;
  int listingHeight = 0;
  std::string dialogAnswer;
  OutputSink* listingSink = nullptr;  // when set, the box text goes here
  int64_t eventsProcessed = 0;

  bool IntelHexSelected() override { return intelHex; }
  bool CpmSelected() override { return !intelHex; }
  std::string Text(TextField field) override;
  void SetText(TextField field, std::string_view text) override;
  void AppendListing(std::string_view text) override;
  void SelectIntelHex() override { intelHex = true; }
  bool ListingChecked() override { return listingChecked; }
  void SetVisible(Control control, bool visible) override;
  int WindowHeight() override { return windowHeight; }
  void SetWindowHeight(int twips) override { windowHeight = twips; }
  void SetListingHeight(int twips) override { listingHeight = twips; }
  std::string ShowOpenDialog(std::string_view) override { return dialogAnswer; }
  void ProcessEvents() override { ++eventsProcessed; }
};

}  // namespace orvane
