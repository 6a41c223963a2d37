// File operations: the source read line by line, listing and object written to
// a temporary file beside the target and renamed into place only when the run
// completes, so a failed run leaves earlier outputs untouched.
#pragma once
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "output/sink.h"

namespace orvane {

// A file that cannot be opened, read or written. Front ends catch it; the
// core never exits.
class FileError : public std::runtime_error {
 public:
  FileError(std::string path, std::string reason)
      : std::runtime_error(path + ": " + reason), path_(std::move(path)), reason_(std::move(reason)) {}
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

// Reads lines ended by LF, CR LF or a lone CR; a last line without an end is
// read too. Memory is bounded by the longest line.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // The next line without its end, valid until the next call; false at end.
  virtual bool Next(std::string_view& line) = 0;
};

// An output that becomes the real file only on Commit.
class CommitSink : public OutputSink {
 public:
  virtual void Commit() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual std::unique_ptr<LineSource> OpenRead(const std::string& path) = 0;
  virtual std::unique_ptr<CommitSink> Create(const std::string& path) = 0;
  // True when both paths name the same existing file.
  virtual bool SameFile(const std::string& a, const std::string& b) = 0;
};

// The real disk.
class DiskFileSystem : public FileSystem {
 public:
  std::unique_ptr<LineSource> OpenRead(const std::string& path) override;
  std::unique_ptr<CommitSink> Create(const std::string& path) override;
  bool SameFile(const std::string& a, const std::string& b) override;
};

// Splits a buffer held in memory into lines, with the same rules.
class MemoryLineSource : public LineSource {
 public:
  explicit MemoryLineSource(std::string text) : text_(std::move(text)) {}
  bool Next(std::string_view& line) override;

 private:
  std::string text_;
  size_t pos_ = 0;
};

}  // namespace orvane
