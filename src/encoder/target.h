// What the encoder needs to know of the object file it assembles for: where
// PC starts, whether the file holds the bytes one after another from there,
// how END reads its start address, and the check that warns when bytes will
// not land where the listing says. The object formats (output/) fill one of
// these each; the encoder never asks which format it is.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

// A warning about where bytes land: its name and text.
struct PlacementWarning {
  std::string_view name;
  std::string text;
};

// Follows one pass's object bytes and ORGs. Each call answers a warning for
// the statement that caused it, or nothing.
class PlacementCheck {
 public:
  virtual ~PlacementCheck() = default;
  // An ORG to `pc`.
  virtual std::optional<PlacementWarning> Org(int32_t /*pc*/) { return std::nullopt; }
  // `count` object bytes from `address`.
  virtual std::optional<PlacementWarning> Bytes(int32_t /*address*/, size_t /*count*/) { return std::nullopt; }
};

struct AssemblyTarget {
  int32_t origin;  // PC at the start of each pass
  // The file holds the bytes one after another from the origin, whatever
  // addresses the listing gives them (so an ORG leaves no room).
  bool loadsFromOrigin;
  // How many times END reads its start address: a file that writes it again
  // (the HEX end record) reads it again, so its messages come twice.
  int endOperandReads;
  std::unique_ptr<PlacementCheck> (*makeCheck)();
};

// Bytes from 0000H, nothing checked: what an assembler runs for when it is
// given no target.
extern const AssemblyTarget kPlainTarget;

}  // namespace orvane
