// What an assembly gives the CP/M runner: the image, and for each address
// where a statement's bytes start, that statement's line, so that runtime
// messages and trace lines can name the source.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "encoder/result.h"
#include "runner/machine.h"

namespace orvane {

class AssembledProgram {
 public:
  // Called with every pass-2 statement, in order.
  void Add(const Statement& s);
  const std::vector<uint8_t>& image() const { return image_; }
  // Looks addresses up as FILE:LINE: TEXT; the lookup keeps what it needs
  // alive, so it may outlive this object.
  runner::SourceLookup Lookup(std::string file) const;

 private:
  struct Line {
    int line;
    std::string text;
  };
  std::vector<uint8_t> image_;
  // By the address the bytes land at: 0100H plus where they are in the image.
  std::shared_ptr<std::map<uint16_t, Line>> lines_ = std::make_shared<std::map<uint16_t, Line>>();
};

}  // namespace orvane
