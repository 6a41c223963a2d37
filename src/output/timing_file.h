// The timing file: one line per source line, with the statement's address,
// its object bytes, the T-states of its instruction (taken/not taken for a
// conditional one, repeating/last for LDIR and its kin) and the line as
// written.
#pragma once
#include "encoder/result.h"
#include "output/sink.h"

namespace orvane {

class TimingFileWriter {
 public:
  explicit TimingFileWriter(OutputSink& out) : out_(out) {}
  void Entry(const Statement& s);

 private:
  OutputSink& out_;
};

}  // namespace orvane
