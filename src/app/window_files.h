// The disk as the window uses it: regular files only. Opening a FIFO blocks
// until its other end is opened, and the window's thread must never wait on
// another program; the command line is there for pipes.
#pragma once
#include <memory>
#include <string>

#include "driver/file_ops.h"

namespace orvane {

class WindowFileSystem : public FileSystem {
 public:
  // Refuses a FIFO or a socket before it is opened; the rest as DiskFileSystem.
  std::unique_ptr<LineSource> OpenRead(const std::string& path) override;
  std::unique_ptr<CommitSink> Create(const std::string& path) override;
  bool NamesSource(const std::string& source, const std::string& output) override {
    return disk_.NamesSource(source, output);
  }
  bool SameOutput(const std::string& a, const std::string& b) override { return disk_.SameOutput(a, b); }

 private:
  DiskFileSystem disk_;
};

}  // namespace orvane
