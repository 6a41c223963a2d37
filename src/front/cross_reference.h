// Where each symbol is used, as pass 2 records it.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "front/source_span.h"

namespace orvane {

struct CrossReference {
  // A use of a defined symbol: its slot and where the name stands.
  struct Use {
    int32_t slot;
    SourceSpan span;
  };
  std::vector<Use> uses;
  // Uses of names that are not defined, and later definitions of a defined
  // name (the earliest wins): the name and where it stands.
  std::vector<std::pair<std::string, SourceSpan>> undefined, duplicates;
};

}  // namespace orvane
