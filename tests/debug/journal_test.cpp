// The file journal on a real folder: what it forgets stays forgotten.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "debug/history.h"

namespace fs = std::filesystem;

TEST(FileJournal, ChangesForgottenAreNotMadeAgain) {
  char tmpl[] = "/tmp/orvane-journal-XXXXXX";
  const fs::path dir = mkdtemp(tmpl);
  std::ofstream(dir / "A.TXT") << "a";
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  orvane::debug::FileJournal j;
  j.now = 10;  // the BDOS renames A.TXT to B.TXT at instruction 10
  j.Renaming(fd, 0, "A.TXT", "B.TXT");
  fs::rename(dir / "A.TXT", dir / "B.TXT");
  j.Forget(100);
  EXPECT_EQ(j.Bytes(), 0u);
  // Every change kept is made: nothing to do, and the rename is not tried again.
  EXPECT_FALSE(j.Sync(200));
  EXPECT_EQ(j.error, "");
  EXPECT_TRUE(fs::exists(dir / "B.TXT"));
  close(fd);
  fs::remove_all(dir);
}
