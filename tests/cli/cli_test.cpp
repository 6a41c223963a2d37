// The command-line program run as a separate process in a scratch directory:
// exit status, messages on standard error, default output paths, --screen,
// --help/--version, and what is left on disk after good and failed runs.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

struct Outcome {
  int status = -1;
  std::string out, err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orvane-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    base_ = tmpl;
    dir_ = base_ + "/work";
    ASSERT_EQ(::mkdir(dir_.c_str(), 0755), 0);
  }
  void TearDown() override {
    // Read-only directories made by a test must be writable to be removed.
    std::string cmd = "chmod -R u+w '" + base_ + "' && rm -rf '" + base_ + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << base_;
  }

  std::string P(const std::string& name) const { return dir_ + "/" + name; }

  // Runs the program in the scratch directory.
  Outcome Run(const std::vector<std::string>& args) {
    const std::string outPath = base_ + "/stdout", errPath = base_ + "/stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
      int o = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::chdir(dir_.c_str()) != 0) ::_exit(127);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(ORVANE_ASM));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(ORVANE_ASM, argv.data());
      ::_exit(126);
    }
    Outcome r;
    int wstatus = 0;
    if (pid > 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    return r;
  }

  // Names in the scratch directory; no temporary output may be left behind.
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir_.c_str())) {
      while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.insert(n);
      }
      ::closedir(d);
    }
    return names;
  }

  std::string base_, dir_;
};

const std::string kGood = "  DB 1\n  DW 4660\n  END\n";
const std::string kGoodHexListing =
    "prog.z80\r\n"
    "0000  01                    DB      1               \r\n"
    "0001  3412                  DW      4660            \r\n"
    "0003  @ 0000                END                     \r\n";
const std::string kGoodHex = ":1000000001341200000000000000000000000000A9\r\n:00000001FF\r\n";
const std::string kGoodCpmListing =
    "prog.z80\r\n"
    "0100  01                    DB      1               \r\n"
    "0101  3412                  DW      4660            \r\n"
    "0103  0000                  END                     \r\n";
const std::string kGoodCpmBox =
    "0100 01                  DB    1               \r\n"
    "0101 3412                DW    4660            \r\n"
    "0103 0000                END                   \r\n";

TEST_F(CliTest, CleanProgramExitsZeroAndWritesDefaultOutputs) {
  WriteFile(P("prog.z80"), kGood);
  Outcome r = Run({"prog.z80"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "orvane-asm: 0 errors in 0 statements, 3 bytes; listing prog.LST, object prog.HEX\n");
  EXPECT_EQ(ReadFile(P("prog.LST")), kGoodHexListing);
  EXPECT_EQ(ReadFile(P("prog.HEX")), kGoodHex);
  EXPECT_EQ(Listing(), (std::set<std::string>{"prog.z80", "prog.LST", "prog.HEX"}));
}

TEST_F(CliTest, CpmWritesTheImageBesideTheSource) {
  WriteFile(P("prog.z80"), kGood);
  Outcome r = Run({"--cpm", "prog.z80"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(P("prog.LST")), kGoodCpmListing);
  EXPECT_EQ(ReadFile(P("prog.com")), std::string("\x01\x34\x12"));
  EXPECT_EQ(Listing(), (std::set<std::string>{"prog.z80", "prog.LST", "prog.com"}));
}

TEST_F(CliTest, NewOutputsGetTheUsualPermissions) {
  WriteFile(P("prog.z80"), kGood);
  ASSERT_EQ(Run({"prog.z80"}).status, 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  for (const char* f : {"prog.LST", "prog.HEX"}) {
    struct stat st {};
    ASSERT_EQ(::stat(P(f).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << f;
  }
}

TEST_F(CliTest, ExplicitPathsAndTheLastFormatOptionWins) {
  WriteFile(P("prog.z80"), kGood);
  ASSERT_EQ(::mkdir(P("out").c_str(), 0755), 0);
  Outcome r = Run({"--hex", "-l", "out/a.txt", "--cpm", "-o", "out/b.bin", "prog.z80"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(P("out/a.txt")), kGoodCpmListing);
  EXPECT_EQ(ReadFile(P("out/b.bin")), std::string("\x01\x34\x12"));
  EXPECT_FALSE(Exists(P("prog.LST")));
  EXPECT_NE(r.err.find("listing out/a.txt, object out/b.bin"), std::string::npos) << r.err;
}

TEST_F(CliTest, DefaultPathsReplaceOrAppendTheExtension) {
  struct Row {
    std::string source, list, object;
  };
  ASSERT_EQ(::mkdir(P("sub.d").c_str(), 0755), 0);
  const Row rows[] = {
      {"prog", "prog.LST", "prog.HEX"},
      {"my.prog.asm", "my.prog.LST", "my.prog.HEX"},
      {"sub.d/noext", "sub.d/noext.LST", "sub.d/noext.HEX"},
      {"sub.d/x.Z80", "sub.d/x.LST", "sub.d/x.HEX"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.source);
    WriteFile(P(row.source), kGood);
    Outcome r = Run({row.source});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(P(row.list)), row.source + kGoodHexListing.substr(8));
    EXPECT_EQ(ReadFile(P(row.object)), kGoodHex);
  }
  WriteFile(P("prog"), kGood);
  EXPECT_EQ(Run({"--cpm", "prog"}).status, 0);
  EXPECT_EQ(ReadFile(P("prog.com")), std::string("\x01\x34\x12"));
}

TEST_F(CliTest, ErrorsGiveStatusOneAMessageLinePerMessageAndStillWriteTheFiles) {
  WriteFile(P("prog.z80"), "  DB 1\n  FOO\nTWO DW UNDEF\nTWO DW UNDEF2\n");
  Outcome r = Run({"prog.z80"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "prog.z80:2: error: Undefined Opcode\n"
            "prog.z80:3: error: Undefined Symbol Referenced\n"
            "prog.z80:4: error: Duplicate Label\n"
            "prog.z80:4: error: Undefined Symbol Referenced\n"
            "orvane-asm: 4 errors in 3 statements, 5 bytes; listing prog.LST, object prog.HEX\n");
  EXPECT_EQ(ReadFile(P("prog.LST")),
            "prog.z80\r\n"
            "0000  01                    DB      1               \r\n"
            "0001                        FOO                     \r\n"
            "Undefined Opcode\r\n"
            "0001  0000      TWO         DW      UNDEF           \r\n"
            "Undefined Symbol Referenced\r\n"
            "0003  0000      TWO         DW      UNDEF2          \r\n"
            "Duplicate LabelUndefined Symbol Referenced\r\n");
  EXPECT_EQ(ReadFile(P("prog.HEX")), ":1000000001000000000000000000000000000000EF\r\n:00000001FF\r\n");
}

TEST_F(CliTest, ScreenPrintsTheBoxTextToStandardOutput) {
  WriteFile(P("prog.z80"), kGood);
  Outcome r = Run({"--cpm", "--screen", "prog.z80"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kGoodCpmBox);
  EXPECT_EQ(ReadFile(P("prog.LST")), kGoodCpmListing);
}

TEST_F(CliTest, HelpAndVersion) {
  for (const char* opt : {"--help", "-h"}) {
    Outcome r = Run({opt});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: orvane-asm", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("--screen"), std::string::npos);
    EXPECT_EQ(r.err, "");
  }
  Outcome v = Run({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, std::string("orvane-asm ") + ORVANE_VERSION + "\n");
  EXPECT_EQ(Listing(), std::set<std::string>{});
}

TEST_F(CliTest, UsageErrorsExitTwoAndWriteNothing) {
  WriteFile(P("prog.z80"), kGood);
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus", "prog.z80"},
      {"prog.z80", "-l"},
      {"prog.z80", "-o"},
      {"prog.z80", "other.z80"},
      {"missing.z80"},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    SCOPED_TRACE(shown);
    Outcome r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("orvane-asm: ", 0), 0u) << r.err;
    EXPECT_EQ(Listing(), std::set<std::string>{"prog.z80"});
  }
  EXPECT_NE(Run({"missing.z80"}).err.find("missing.z80"), std::string::npos);
  EXPECT_NE(Run({"--bogus", "prog.z80"}).err.find("--bogus"), std::string::npos);
}

TEST_F(CliTest, UnwritableOutputsExitTwo) {
  WriteFile(P("prog.z80"), kGood);
  Outcome r = Run({"-o", "nodir/prog.HEX", "prog.z80"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("nodir/prog.HEX"), std::string::npos) << r.err;
  r = Run({"-l", "nodir/prog.LST", "prog.z80"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("nodir/prog.LST"), std::string::npos) << r.err;
  EXPECT_EQ(Listing(), std::set<std::string>{"prog.z80"});

  // A path through a plain file.
  r = Run({"-o", "prog.z80/prog.HEX", "prog.z80"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(ReadFile(P("prog.z80")), kGood);
  EXPECT_EQ(Listing(), std::set<std::string>{"prog.z80"});

  if (::geteuid() != 0) {  // root writes into read-only directories
    ASSERT_EQ(::mkdir(P("ro").c_str(), 0555), 0);
    r = Run({"-o", "ro/prog.HEX", "prog.z80"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("ro/prog.HEX"), std::string::npos) << r.err;
    EXPECT_EQ(Listing(), (std::set<std::string>{"prog.z80", "ro"}));
  }
  // A directory is no output file.
  ASSERT_EQ(::mkdir(P("adir").c_str(), 0755), 0);
  r = Run({"-l", "adir", "prog.z80"});
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(Exists(P("prog.HEX")));
}

TEST_F(CliTest, AnOutputNamingTheSourceIsRefused) {
  WriteFile(P("prog.z80"), kGood);
  ASSERT_EQ(::symlink("prog.z80", P("link.LST").c_str()), 0);
  const std::vector<std::vector<std::string>> cases = {
      {"-l", "prog.z80", "prog.z80"},
      {"-o", "prog.z80", "prog.z80"},
      {"-l", "./prog.z80", "prog.z80"},
      {"--cpm", "-o", "./prog.z80", "prog.z80"},
      {"-l", "link.LST", "prog.z80"},
      {"-o", "link.LST", "prog.z80"},
      {"-o", dir_ + "/prog.z80", "prog.z80"},
      {"-l", "../work/prog.z80", "./prog.z80"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[1]);
    Outcome r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(ReadFile(P("prog.z80")), kGood);
    EXPECT_EQ(Listing(), (std::set<std::string>{"prog.z80", "link.LST"}));
    struct stat st {};
    ASSERT_EQ(::lstat(P("link.LST").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
  }
}

// A source whose name gives itself as the default listing or object path.
TEST_F(CliTest, ASourceNamedLikeItsOwnOutputIsRefused) {
  for (const char* name : {"x.LST", "y.HEX"}) {
    SCOPED_TRACE(name);
    WriteFile(P(name), kGood);
    Outcome r = Run({name});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(ReadFile(P(name)), kGood);
  }
  WriteFile(P("z.com"), kGood);
  EXPECT_EQ(Run({"--cpm", "z.com"}).status, 2);
  EXPECT_EQ(ReadFile(P("z.com")), kGood);
  EXPECT_EQ(Listing(), (std::set<std::string>{"x.LST", "y.HEX", "z.com"}));
}

TEST_F(CliTest, AFailedRunLeavesEarlierOutputsUntouched) {
  WriteFile(P("prog.z80"), kGood);
  ASSERT_EQ(Run({"prog.z80"}).status, 0);
  ASSERT_EQ(ReadFile(P("prog.LST")), kGoodHexListing);

  // A different program whose object cannot be written: the listing stays.
  WriteFile(P("prog.z80"), "  DB 7\n");
  EXPECT_EQ(Run({"-o", "nodir/x.HEX", "prog.z80"}).status, 2);
  EXPECT_EQ(ReadFile(P("prog.LST")), kGoodHexListing);
  EXPECT_EQ(ReadFile(P("prog.HEX")), kGoodHex);

  // ... nor the listing: the object stays.
  EXPECT_EQ(Run({"-l", "nodir/x.LST", "prog.z80"}).status, 2);
  EXPECT_EQ(ReadFile(P("prog.LST")), kGoodHexListing);
  EXPECT_EQ(ReadFile(P("prog.HEX")), kGoodHex);

  // The source gone.
  ASSERT_EQ(::rename(P("prog.z80").c_str(), P("keep.z80").c_str()), 0);
  EXPECT_EQ(Run({"prog.z80"}).status, 2);
  EXPECT_EQ(ReadFile(P("prog.LST")), kGoodHexListing);
  EXPECT_EQ(ReadFile(P("prog.HEX")), kGoodHex);
  EXPECT_EQ(Listing(), (std::set<std::string>{"keep.z80", "prog.LST", "prog.HEX"}));
}

TEST_F(CliTest, AShorterProgramLeavesFilesAsLongAsItsOwnOutput) {
  std::string longer;
  for (int i = 0; i < 100; ++i) longer += "  DS 'ABCDEFGHIJ'\n";
  WriteFile(P("prog.z80"), longer);
  ASSERT_EQ(Run({"--cpm", "prog.z80"}).status, 0);
  EXPECT_EQ(ReadFile(P("prog.com")).size(), 1000u);
  ASSERT_EQ(Run({"prog.z80"}).status, 0);
  EXPECT_EQ(ReadFile(P("prog.HEX")).size(), 63u * 45 + 13);

  WriteFile(P("prog.z80"), "  DB 7\n");
  ASSERT_EQ(Run({"--cpm", "prog.z80"}).status, 0);
  EXPECT_EQ(ReadFile(P("prog.com")), "\x07");
  EXPECT_EQ(ReadFile(P("prog.LST")),
            "prog.z80\r\n"
            "0100  07                    DB      7               \r\n");
  ASSERT_EQ(Run({"prog.z80"}).status, 0);
  EXPECT_EQ(ReadFile(P("prog.HEX")), ":1000000007000000000000000000000000000000E9\r\n:00000001FF\r\n");
}

TEST_F(CliTest, SourceLineEnds) {
  struct Row {
    const char* name;
    std::string source;
  };
  const std::string entries =
      "0000  01                    DB      1               \r\n"
      "0001  02                    DB      2               \r\n"
      "0002                                                \r\n"
      "0002  03                    DB      3               \r\n";
  const Row rows[] = {
      {"LF", "  DB 1\n  DB 2\n\n  DB 3\n"},
      {"CR LF", "  DB 1\r\n  DB 2\r\n\r\n  DB 3\r\n"},
      {"lone CR", "  DB 1\r  DB 2\r\r  DB 3\r"},
      {"mixed, no final end", "  DB 1\r\n  DB 2\n\r  DB 3"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFile(P("le.z80"), row.source);
    Outcome r = Run({"le.z80"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(P("le.LST")), "le.z80\r\n" + entries);
    EXPECT_EQ(ReadFile(P("le.HEX")), ":1000000001020300000000000000000000000000EA\r\n:00000001FF\r\n");
  }
}

// The reader takes the file in large pieces; a CR LF or a lone CR that falls
// on the edge of a piece is still one line end.
TEST_F(CliTest, LineEndsAcrossLargeReads) {
  for (size_t firstLine : {65535u, 65534u, 65536u, 131071u}) {
    for (const char* end : {"\r\n", "\r", "\n"}) {
      SCOPED_TRACE(std::to_string(firstLine) + " " + (end[0] == '\n' ? "LF" : end[1] ? "CR LF" : "CR"));
      std::string src = "  ;" + std::string(firstLine - 3, 'X') + end + "  DB 5" + end + "  DB 6";
      WriteFile(P("big.z80"), src);
      Outcome r = Run({"--cpm", "big.z80"});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(ReadFile(P("big.com")), "\x05\x06");
      const std::string lst = ReadFile(P("big.LST"));
      const std::string tail =
          "0100  05                    DB      5               \r\n"
          "0101  06                    DB      6               \r\n";
      ASSERT_GE(lst.size(), tail.size());
      EXPECT_EQ(lst.substr(lst.size() - tail.size()), tail);
      // The header, then the comment line: 52 columns, the comment without
      // its two leading blanks but with one blank added, CR LF.
      EXPECT_EQ(lst.size(), 9 + 52 + (firstLine - 1) + 2 + tail.size());
    }
  }
}

}  // namespace
