// The three ways an output reaches its file, each a CommitSink that gathers
// the content in a temporary file first:
// - replaced whole: a regular file; the temporary lies beside it and is
//   exchanged with it, so the path holds the old or the new file at every
//   moment and the old one can be put back until the run's outputs are all in
//   place;
// - rewritten in place: a regular file with several links, or one in a
//   directory where no temporary can be made; room is reserved, the file is
//   written over and cut to length;
// - streamed: a device, a FIFO, a socket, or a standard stream, written from
//   the start to the end once.
#pragma once
#include <sys/stat.h>

#include <memory>
#include <string>

#include "driver/file_ops.h"

namespace orvane {

// `target` is the file with its links followed, `old` the file there if any.
// Throws FileError, with its errno, when no temporary can be made beside it.
std::unique_ptr<CommitSink> MakeReplacingSink(std::string shown, std::string target, const struct stat* old);
std::unique_ptr<CommitSink> MakeRewritingSink(std::string shown, std::string target);
// With fd set, that open descriptor is written and left open.
std::unique_ptr<CommitSink> MakeStreamingSink(std::string shown, std::string target, int fd = -1);

}  // namespace orvane
