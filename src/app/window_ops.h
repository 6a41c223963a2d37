// What the window's handlers may do to the window. The Qt window implements
// it for real; tests have a window without a screen.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>


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
  // The status line: what the last run found, or what is going on.
  virtual void SetStatus(std::string_view /*text*/) {}
  // Selects a line of the listing box (from 0) and scrolls it into view.
  virtual void SelectBoxLine(int64_t /*line*/) {}
  // Marks the listing box entry starting at `line` as one with an error (or,
  // with `error` false, a warning). The box's text stays as it is.
  virtual void MarkBoxEntry(int64_t /*line*/, bool /*error*/) {}
};

}  // namespace orvane
