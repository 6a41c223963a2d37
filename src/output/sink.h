// Where object and listing text go: a file written by the run, or the
// command line's standard output.
#pragma once
#include <string>
#include <string_view>

namespace orvane {

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void Write(std::string_view bytes) = 0;
  void WriteLine(std::string_view text) {
    Write(text);
    Write("\r\n");
  }
};

}  // namespace orvane
