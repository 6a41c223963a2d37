// The object formats, one row each: what the encoder needs of it (where a
// program starts, how END reads, the placement check), the file's extension,
// how the listing shows END and the writer that lays the bytes into the
// file. A third format is one more row.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "encoder/target.h"
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

// What the encoder sees of a format is its AssemblyTarget; the rest is for
// the run and the listing.
struct ObjectFormat : AssemblyTarget {
  std::string_view name;       // as the command line and settings name it
  std::string_view extension;  // of the object file, dot included
  // The listing's object column for END: `hasOperand` and the address it gave.
  void (*showEnd)(bool hasOperand, int32_t start, std::string& out);
  std::unique_ptr<ObjectWriter> (*makeWriter)(OutputSink& file);
};

extern const ObjectFormat kIntelHexFormat;
extern const ObjectFormat kCpmFormat;
// The format named `name` ("hex", "cpm"), or nullptr.
const ObjectFormat* FindFormat(std::string_view name);

}  // namespace orvane
