// Where object and listing text go. The run gives real files (written to a
// temporary file and renamed into place on success); tests give memory.
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

class StringSink : public OutputSink {
 public:
  std::string data;
  void Write(std::string_view bytes) override { data.append(bytes); }
};

// Which object format the window has selected, read afresh at every use.
class FormatSelection {
 public:
  virtual ~FormatSelection() = default;
  virtual bool IntelHexSelected() = 0;
  virtual bool CpmSelected() = 0;
};

}  // namespace orvane
