#include "app/window_ops.h"

namespace orvane {

std::string HeadlessWindow::Text(TextField field) {
  switch (field) {
    case TextField::kSource: return source;
    case TextField::kList: return list;
    case TextField::kObject: return object;
    case TextField::kAsmListing: return listing;
  }
  return {};
}

void HeadlessWindow::SetText(TextField field, std::string_view text) {
  switch (field) {
    case TextField::kSource: source.assign(text); break;
    case TextField::kList: list.assign(text); break;
    case TextField::kObject: object.assign(text); break;
    case TextField::kAsmListing: listing.assign(text); break;
  }
}

void HeadlessWindow::AppendListing(std::string_view text) {
  if (listingSink) {
    listingSink->Write(text);
  } else {
    listing.append(text);
  }
}

}  // namespace orvane
