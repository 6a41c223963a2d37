// The object formats, one row each: where a program starts, the file's
// extension, how the listing shows END, the writer that lays the bytes into
// the file, and the check that warns when bytes will not land where the
// listing says. A third format is one more row.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "output/sink.h"

namespace orvane {

// Takes a run's object bytes at their addresses, in source order.
class ObjectWriter {
 public:
  virtual ~ObjectWriter() = default;
  virtual void Bytes(int32_t address, std::span<const uint8_t> bytes) = 0;
  // An END statement and the start address it gives.
  virtual void End(int32_t /*start*/) {}
  // After the last statement.
  virtual void Finish() {}
};

// A warning the format has about where bytes land: its name and text.
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

struct ObjectFormat {
  std::string_view name;       // as the command line and settings name it
  std::string_view extension;  // of the object file, dot included
  int32_t origin;              // PC at the start of each pass
  // The file holds the bytes one after another from the origin, whatever
  // addresses the listing gives them.
  bool loadsFromOrigin;
  // How many times END reads its start address: the HEX end record reads it
  // again, so its messages come twice.
  int endOperandReads;
  // The listing's object column for END: `hasOperand` and the address it gave.
  void (*showEnd)(bool hasOperand, int32_t start, std::string& out);
  std::unique_ptr<ObjectWriter> (*makeWriter)(OutputSink& file);
  std::unique_ptr<PlacementCheck> (*makeCheck)();
};

extern const ObjectFormat kIntelHexFormat;
extern const ObjectFormat kCpmFormat;
// The format named `name` ("hex", "cpm"), or nullptr.
const ObjectFormat* FindFormat(std::string_view name);

}  // namespace orvane
