#include "app/window_logic.h"

#include "app/paths.h"

namespace orvane {

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

void WindowLogic::OnSelectFile() {
  const std::string path = window_.ShowOpenDialog(kSourceFilter);
  if (!path.empty()) {
    const std::string stem = WindowStem(path);
    window_.SetText(TextField::kSource, path);
    window_.SetText(TextField::kList, stem + ".LST");
    if (window_.IntelHexSelected()) window_.SetText(TextField::kObject, stem + ".HEX");
    if (window_.CpmSelected()) window_.SetText(TextField::kObject, stem + ".com");
    window_.SetVisible(Control::kAssemble, true);
  }
  window_.SetText(TextField::kAsmListing, "");
}

RunResult WindowLogic::OnAssemble() {
  if (running_) return RunResult{};
  running_ = true;
  window_.SetInputsEnabled(false);
  struct Done {
    WindowLogic& self;
    ~Done() {
      self.running_ = false;
      self.window_.SetInputsEnabled(true);
    }
  } done{*this};
  return AssembleFile(as_, window_, files_);
}

void WindowLogic::OnOptIntelHex() {
  const std::string source = window_.Text(TextField::kSource);
  if (!source.empty()) window_.SetText(TextField::kObject, WindowStem(source) + ".HEX");
}

void WindowLogic::OnOptCpm() {
  const std::string source = window_.Text(TextField::kSource);
  if (!source.empty()) window_.SetText(TextField::kObject, WindowStem(source) + ".com");
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
