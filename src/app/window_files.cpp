#include "app/window_files.h"

#include <sys/stat.h>

namespace orvane {

namespace {

// A path that names a FIFO or a socket, followed through its links.
void RefuseStream(const std::string& path, const char* use) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return;
  const char* kind = S_ISFIFO(st.st_mode) ? "a FIFO (named pipe)" : S_ISSOCK(st.st_mode) ? "a socket" : nullptr;
  if (kind == nullptr) return;
  throw FileError(path, std::string("is ") + kind + ": the window " + use +
                            " regular files only (orvane-asm reads and writes pipes)");
}

}  // namespace

std::unique_ptr<LineSource> WindowFileSystem::OpenRead(const std::string& path) {
  RefuseStream(path, "reads");
  return disk_.OpenRead(path);
}

std::unique_ptr<CommitSink> WindowFileSystem::Create(const std::string& path) {
  RefuseStream(path, "writes");
  return disk_.Create(path);
}

}  // namespace orvane
