#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "app/window_ops.h"

namespace orvane {

// A window without a screen, for tests that drive the window's logic: fields
// in memory, the listing box into a string.
class HeadlessWindow : public WindowOps {
 public:
  std::string source, list, object, listing;
  bool intelHex = true;
  bool listingChecked = false;
  std::vector<std::string> statuses;  // every status line shown, in order

  bool IntelHexSelected() override { return intelHex; }
  bool CpmSelected() override { return !intelHex; }
  std::string Text(TextField field) override { return *Field(field); }
  void SetText(TextField field, std::string_view text) override { Field(field)->assign(text); }
  void AppendListing(std::string_view text) override { listing.append(text); }
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
  void SetStatus(std::string_view text) override { statuses.emplace_back(text); }

 private:
  std::string* Field(TextField field) {
    switch (field) {
      case TextField::kSource: return &source;
      case TextField::kList: return &list;
      case TextField::kObject: return &object;
      case TextField::kAsmListing: break;
    }
    return &listing;
  }
};

}  // namespace orvane
