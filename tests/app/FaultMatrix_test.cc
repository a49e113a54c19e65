// The repair under faults: writes that fail, the command or its filters
// killed, filters missing, /var/tmp unusable or holding stale pipes, files
// the user may not read or replace, names meant to reach a shell. After every
// run the recording holds its old bytes or, where the run succeeded, the
// repaired ones; the exit status and the message say what happened; no pipe
// of the run is left in /var/tmp; and the run ended within its timeout.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandRunner.h"
#include "app/FaultPoint.h"
#include "app/LoopFileSystem.h"
#include "app/UnprivilegedCommand.h"
#include "support/TestSupport.h"
#include "support/Unprivileged.h"

namespace {

using testsupport::EndsWith;
using testsupport::FindProgram;
using testsupport::Listing;
using testsupport::MessageBlock;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

long long FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// The names in a listing that a stream of process `pid` gives its pipes.
std::set<std::string> PipesOf(pid_t pid, const std::set<std::string>& listing) {
  std::set<std::string> pipes;
  const std::string suffix = "." + std::to_string(pid);
  for (const std::string& name : listing) {
    if ((name.rfind("compifstream", 0) == 0 || name.rfind("compofstream", 0) == 0) &&
        EndsWith(name, suffix)) {
      pipes.insert(name);
    }
  }
  return pipes;
}

// The copy's name for process `pid`, as the command forms it.
std::string TemporaryName(const std::string& name, pid_t pid) {
  const std::string id = "." + std::to_string(pid);
  return EndsWith(name, ".gz") ? name.substr(0, name.size() - 3) + id + ".gz" : name + id;
}

// The text with every "<copy>" replaced by the copy's name.
std::string NamingCopy(std::string text, const std::string& copy) {
  for (size_t at; (at = text.find("<copy>")) != std::string::npos;) text.replace(at, 6, copy);
  return text;
}

std::string CountReport(int specified, int counted) {
  return std::to_string(specified) + " frames specified in the file\n" + std::to_string(counted) +
         " frames actually in the file\n";
}


std::vector<pid_t> Children(pid_t pid) {
  std::istringstream in(
      ReadFile("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
  std::vector<pid_t> children;
  for (pid_t child; in >> child;) children.push_back(child);
  return children;
}

// The child of `pid` whose standard input is `pipe`: the filter that reads
// it, at whatever stage between its shell and the program itself; 0 when
// there is none.
pid_t ChildReading(pid_t pid, const std::string& pipe) {
  for (pid_t child : Children(pid)) {
    char target[4096] = {};
    const std::string input = "/proc/" + std::to_string(child) + "/fd/0";
    if (readlink(input.c_str(), target, sizeof target - 1) > 0 && target == pipe) return child;
  }
  return 0;
}

// The program that writes what gunzip decompresses, by the name the fault
// library knows it: gunzip itself where it is a program, gzip where it is a
// script that runs gzip (as Debian's is).
std::string DecompressingProgram() {
  const std::string gunzip = FindProgram("gunzip");
  const bool script = ReadFile(gunzip).compare(0, 2, "#!") == 0;
  char resolved[PATH_MAX];
  if (realpath((script ? FindProgram("gzip") : gunzip).c_str(), resolved) == nullptr) return "";
  const std::string program = resolved;
  return program.substr(program.rfind('/') + 1);
}

class FaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    // The unprivileged runs must reach the directory.
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    haveGzip_ = !FindProgram("gzip").empty() && !FindProgram("gunzip").empty();
  }

  std::string path(const std::string& name) const { return dir_ / name; }

  // Writes a recording of `frames` frames whose header claims five more.
  void Generate(const std::string& name, int frames, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--frames", std::to_string(frames), "--cameras",
                                     "3",        "--header-offset",      "5"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(name);
    CommandOptions options;
    options.directory = dir_.path();
    CommandResult r = RunCommand(HDRMEND_RDGEN, args, options);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // The recording's frames as bytes: decompressed for a ".gz" name.
  std::string Content(const std::string& name) {
    if (!EndsWith(name, ".gz")) return ReadFile(path(name));
    CommandResult r = RunCommand(FindProgram("gzip"), {"-dc", path(name)});
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    return r.out;
  }

  // What the file holds once repaired, learned from a repair of a copy in a
  // directory of its own: its content, and `size`, the size of the copy the
  // command writes.
  std::string Repaired(const std::string& name, long long* size = nullptr) {
    mkdir(path("reference").c_str(), 0755);
    const std::string copy = "reference/" + name;
    WriteFile(path(copy), ReadFile(path(name)));
    CommandResult r = Run(copy);
    EXPECT_EQ(r.status, 0) << r.err;
    if (size != nullptr) *size = FileSize(path(copy));
    std::string content = Content(copy);
    unlink(path(copy).c_str());
    return content;
  }

  // Runs the command (`program`: a copy of it) on `name`, relative to the
  // scratch directory.
  // A further argument, when given, follows `name` (`name` is then an option).
  CommandResult Start(const std::string& name, CommandOptions options = CommandOptions(),
                      const std::string& program = HDRMEND_BINARY,
                      const std::string& file = "") {
    if (options.directory.empty()) options.directory = dir_.path();
    options.timeoutSeconds = 60;
    std::vector<std::string> args = {name};
    if (!file.empty()) args.push_back(file);
    return RunCommand(program, args, options);
  }

  // Start() for a run that must end on its own, and leave no pipe.
  CommandResult Run(const std::string& name, CommandOptions options = CommandOptions(),
                    const std::string& program = HDRMEND_BINARY, const std::string& file = "") {
    CommandResult r = Start(name, options, program, file);
    EXPECT_FALSE(r.timedOut) << r.err;
    EXPECT_EQ(r.out, "");
    ExpectNoPipesOf(r.pid);
    return r;
  }

  // Writes `name`, a recording of 4000 frames with a stretch of garbage in
  // the middle, compressed for a ".gz" name; returns its bytes.
  std::string WriteDamaged(const std::string& name) {
    Generate("whole.raw", 4000);
    std::string bytes = ReadFile(path("whole.raw"));
    for (std::size_t k = bytes.size() / 2; k < bytes.size() / 2 + 300; ++k) bytes[k] = 'x';
    unlink(path("whole.raw").c_str());
    if (EndsWith(name, ".gz")) {
      WriteFile(path("plain"), bytes);
      bytes = RunCommand(FindProgram("gzip"), {"-9", "-c", path("plain")}).out;
      unlink(path("plain").c_str());
    }
    WriteFile(path(name), bytes);
    return bytes;
  }

  void ExpectNoPipesOf(pid_t pid) {
    EXPECT_EQ(PipesOf(pid, Listing("/var/tmp")), std::set<std::string>()) << "of process " << pid;
  }

  TempDir dir_;
  bool haveGzip_ = false;
};

// The file-size limit makes the copy's writes fail, as a full disk would, at
// ten points spread over the copy; for ".gz" it is gzip's writes that fail.
TEST_F(FaultMatrix, WriteFailureAnywhereInTheCopyKeepsTheRecording) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
  } cases[] = {
      {"take.raw", {"--format", "binary"}},
      {"take.txt", {"--format", "text"}},
      {"take.raw.gz", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool compressed = EndsWith(c.name, ".gz");
    if (compressed && !haveGzip_) continue;
    Generate(c.name, 4000, c.options);
    const std::string original = ReadFile(path(c.name));
    long long copySize = 0;
    Repaired(c.name, &copySize);
    for (int tenth = 0; tenth < 10; ++tenth) {
      // Below a few kilobytes the limit would stop the messages as well:
      // they go to a file.
      const long long limit = std::max(4096LL, copySize * tenth / 10);
      SCOPED_TRACE(limit);
      CommandOptions options;
      options.fileSizeLimit = limit;
      options.ignoreSigxfsz = true;
      CommandResult r = Run(c.name, options);
      const std::string temporary = TemporaryName(c.name, r.pid);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(ReadFile(path(c.name)), original);
      EXPECT_EQ(Listing(dir_.path()), std::set<std::string>({c.name, "reference"}));
      const std::string top =
          "Unable to repair \"" + std::string(c.name) + "\".  The file was not changed.";
      if (!compressed) {
        EXPECT_EQ(r.err,
                  CountReport(4005, 4000) +
                      MessageBlock({top, "Unable to write \"" + temporary + "\".", "File too large."}));
      } else {
        // gzip prints its own complaint before the block.
        EXPECT_NE(r.err.find("\n\nERROR: " + top + "\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Compressor '" + testsupport::GzipCompressor() + "' failed for \"" +
                             temporary + "\"."),
                  std::string::npos)
            << r.err;
      }
    }
    unlink(path(c.name).c_str());
  }
}

// A killed process cleans up nothing: its copy, and for ".gz" its pipes, stay
// where they are. The recording itself is never missing or partial. The
// fault-injection library kills the command when it has written exactly 0 %,
// 10 %, ... 90 % of the copy, or for ".gz" of the data it hands its
// compressor, and reports that it did. The compressor, left on its own, ends
// the copy where the data stopped.
TEST_F(FaultMatrix, KillAnywhereInTheCopyNeverHarmsTheRecording) {
  struct Case {
    const char* name;
    int frames;
  } cases[] = {{"take.raw", 100000}, {"take.raw.gz", 20000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool compressed = EndsWith(c.name, ".gz");
    if (compressed && !haveGzip_) continue;
    Generate(c.name, c.frames);
    const std::string original = ReadFile(path(c.name));
    const std::string repaired = Repaired(c.name);
    // The copy "take.raw.<pid>", or the pipe to its compressor.
    const std::string written = compressed ? "/var/tmp/compofstream0." : path(c.name) + ".";
    for (int tenth = 0; tenth < 10; ++tenth) {
      SCOPED_TRACE(tenth);
      const long long point = static_cast<long long>(repaired.size()) * tenth / 10;
      FaultPoint fault("hdrmend", written, point, SIGKILL);
      CommandOptions options;
      options.env = fault.environment();
      CommandResult r = Start(c.name, options);
      ASSERT_EQ(fault.report(), fault.firedHere()) << "the kill did not come there: " << r.err;
      EXPECT_EQ(r.signal, SIGKILL) << r.err;

      EXPECT_EQ(ReadFile(path(c.name)), original);
      const std::string temporary = TemporaryName(c.name, r.pid);
      EXPECT_EQ(Listing(dir_.path()), std::set<std::string>({c.name, "reference", temporary}));
      EXPECT_EQ(Content(temporary), repaired.substr(0, point))
          << "the copy left behind is not the beginning of the repaired file";
      unlink(path(temporary).c_str());
      // The pipes of the second reading stream and of the writing one.
      const std::string id = "." + std::to_string(r.pid);
      const std::set<std::string> pipes = PipesOf(r.pid, Listing("/var/tmp"));
      EXPECT_EQ(pipes, compressed
                           ? std::set<std::string>({"compifstream1" + id, "compofstream0" + id})
                           : std::set<std::string>());
      for (const std::string& pipe : pipes) unlink(("/var/tmp/" + pipe).c_str());
    }
    unlink(path(c.name).c_str());
  }
}

// A salvage under the same faults: a write that fails, or a kill, at points
// spread over its copy leaves the damaged recording as it was and keeps no
// original, since the original is kept only once the copy is complete.
TEST_F(FaultMatrix, SalvageUnderFaultsKeepsTheRecording) {
  for (const char* name : {"take.raw", "take.raw.gz"}) {
    SCOPED_TRACE(name);
    const bool compressed = EndsWith(name, ".gz");
    if (compressed && !haveGzip_) continue;
    const std::string bytes = WriteDamaged(name);
    mkdir(path("reference").c_str(), 0755);
    WriteFile(path(std::string("reference/") + name), bytes);
    CommandOptions reference;
    reference.directory = path("reference");
    ASSERT_EQ(RunCommand(HDRMEND_BINARY, {"--salvage", name}, reference).status, 0);
    const long long copySize = FileSize(path(std::string("reference/") + name));
    const std::string salvaged = Content(std::string("reference/") + name);
    for (const std::string& left : Listing(path("reference"))) unlink(path("reference/" + left).c_str());
    const std::string written = compressed ? "/var/tmp/compofstream0." : path(name) + ".";
    for (int part : {1, 5, 9}) {
      SCOPED_TRACE(part);
      {
        CommandOptions options;
        options.fileSizeLimit = std::max(4096LL, copySize * part / 10);
        options.ignoreSigxfsz = true;
        CommandResult r = Run(std::string("--salvage"), options, HDRMEND_BINARY, name);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(ReadFile(path(name)), bytes);
        EXPECT_EQ(Listing(dir_.path()), std::set<std::string>({name, "reference"}));
      }
      {
        FaultPoint fault("hdrmend", written, static_cast<long long>(salvaged.size()) * part / 10,
                         SIGKILL);
        CommandOptions options;
        options.env = fault.environment();
        CommandResult r = Start(std::string("--salvage"), options, HDRMEND_BINARY, name);
        ASSERT_EQ(fault.report(), fault.firedHere()) << r.err;
        EXPECT_EQ(r.signal, SIGKILL);
        EXPECT_EQ(ReadFile(path(name)), bytes);
        const std::string temporary = TemporaryName(name, r.pid);
        EXPECT_EQ(Listing(dir_.path()), std::set<std::string>({name, "reference", temporary}));
        unlink(path(temporary).c_str());
        for (const std::string& pipe : PipesOf(r.pid, Listing("/var/tmp"))) {
          unlink(("/var/tmp/" + pipe).c_str());
        }
      }
    }
    unlink(path(name).c_str());
  }
}

// The original kept by a salvage until the recording is replaced: SIGINT,
// SIGTERM or SIGHUP right after its hard link is made, or, where links are
// refused (fs.protected_hardlinks), anywhere in its copy, from before the
// first byte to after the last, removes it with the copy and the pipes.
TEST_F(FaultMatrix, InterruptWhileTheOriginalIsKeptLeavesNothing) {
  for (const char* name : {"take.raw", "take.raw.gz"}) {
    SCOPED_TRACE(name);
    if (EndsWith(name, ".gz") && !haveGzip_) continue;
    const std::string bytes = WriteDamaged(name);
    const long long size = static_cast<long long>(bytes.size());
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      for (long long point : {-1LL, 0LL, size / 2, size}) {
        SCOPED_TRACE(testing::Message() << "signal " << signal << " at " << point);
        const bool link = point < 0;
        FaultPoint fault("hdrmend", ".orig", link ? 0 : point, signal);
        CommandOptions options;
        options.env = fault.environment();
        if (!link) options.env.push_back("FAULTPOINT_LINKS=refuse");
        CommandResult r = Run("--salvage", options, HDRMEND_BINARY, name);
        ASSERT_EQ(fault.report(), fault.firedHere()) << r.err;
        EXPECT_EQ(r.signal, signal) << r.err;
        EXPECT_EQ(r.leftBehind, 0);
        EXPECT_EQ(ReadFile(path(name)), bytes);
        EXPECT_EQ(Listing(dir_.path()), std::set<std::string>({name}));
      }
    }
    unlink(path(name).c_str());
  }
}

// --in-place killed before its write, and between its steps: after the
// count's bytes and before the empty tail is cut, the recording reads with
// the right count.
TEST_F(FaultMatrix, InPlaceKilledBetweenItsStepsReadsWithTheRightCount) {
  Generate("take.raw", 4000);
  const std::string original = ReadFile(path("take.raw")) + std::string(5000, '\0');
  for (long long point : {0, 4}) {
    SCOPED_TRACE(point);
    WriteFile(path("take.raw"), original);
    FaultPoint fault("hdrmend", path("take.raw"), point, SIGKILL);
    CommandOptions options;
    options.env = fault.environment();
    CommandResult r = Start("--in-place", options, HDRMEND_BINARY, "take.raw");
    ASSERT_EQ(fault.report(), fault.firedHere()) << r.err;
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_EQ(FileSize(path("take.raw")), static_cast<long long>(original.size()));
    r = Start("--check", CommandOptions(), HDRMEND_BINARY, "take.raw");
    EXPECT_EQ(r.out, point == 0 ? "take.raw: needs repair (header 4005, frames 4000)\n"
                                : "take.raw: ok (4000 frames)\n");
  }
}

// Faults on real file systems, made on files and mounted through loop
// devices: a disk the recording filled, and the copy made as a clone.
class FaultMatrixOnFileSystem : public FaultMatrix,
                                public ::testing::WithParamInterface<const char*> {
 protected:
  LoopFileSystem fs_{GetParam(), std::string(GetParam()) == "xfs" ? 300 : 128};
};

// A recording that filled the disk (a filler file stands for the rest): the
// copy cannot fit, so the repair refuses at once and writes nothing, and
// --in-place repairs it; where extents are shared a clone repairs it.
TEST_P(FaultMatrixOnFileSystem, DiskFilledByTheRecording) {
  if (!fs_.whyNot().empty()) GTEST_SKIP() << fs_.whyNot();
  const bool shares = std::string(GetParam()) != "ext4";
  Generate("take.raw", 20000, {"--cameras", "8"});
  // A recorder stopped by a full disk may leave zeros after its last frame.
  const std::string original = ReadFile(path("take.raw")) + std::string(4096, '\0');
  WriteFile(path("take.raw"), original);
  const std::string repaired = Repaired("take.raw");
  WriteFile(fs_ / "take.raw", original);
  ASSERT_TRUE(fs_.fillLeaving(1 << 20));
  const std::set<std::string> listing = Listing(fs_ / ".");
  const long long free = fs_.freeBytes();
  ASSERT_LT(free, static_cast<long long>(original.size()));
  CommandOptions options;
  options.directory = fs_ / ".";
  CommandResult r = Run("take.raw", options);
  if (!shares) {
    EXPECT_EQ(r.status, 1);
    const long long mb = 1 << 20;
    EXPECT_EQ(r.err, CountReport(20005, 20000) +
                         MessageBlock({"Unable to repair \"take.raw\".  The file was not changed.",
                                       "There is not room for a copy of \"take.raw\": " +
                                           std::to_string((original.size() + mb - 1) / mb) +
                                           " MB needed, " + std::to_string(free / mb) +
                                           " MB free.",
                                       "hdrmend --in-place take.raw changes only its header."}));
    EXPECT_EQ(ReadFile(fs_ / "take.raw"), original);
    EXPECT_EQ(Listing(fs_ / "."), listing);
    r = Run("--in-place", options, HDRMEND_BINARY, "take.raw");
  }
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(fs_ / "take.raw"), repaired);
  EXPECT_EQ(Listing(fs_ / "."), listing);
}

// The clone under faults: a file-size limit below the recording's size
// refuses the clone, and the copy made instead stops at the limit; a kill or
// an interrupt before or inside the clone's only write, its header. The
// recording stays as it was.
TEST_P(FaultMatrixOnFileSystem, CloneUnderFaultsKeepsTheRecording) {
  if (!fs_.whyNot().empty()) GTEST_SKIP() << fs_.whyNot();
  if (std::string(GetParam()) == "ext4") GTEST_SKIP() << "ext4 shares no extents";
  Generate("take.raw", 20000);
  const std::string original = ReadFile(path("take.raw"));
  WriteFile(fs_ / "take.raw", original);
  CommandOptions options;
  options.directory = fs_ / ".";
  for (int tenth : {1, 5, 9}) {
    SCOPED_TRACE(tenth);
    CommandOptions limited = options;
    limited.fileSizeLimit = static_cast<long>(original.size()) * tenth / 10;
    limited.ignoreSigxfsz = true;
    CommandResult r = Run("take.raw", limited);
    EXPECT_EQ(r.status, 1);
    const std::string temporary = TemporaryName("take.raw", r.pid);
    EXPECT_EQ(r.err, CountReport(20005, 20000) +
                         MessageBlock({"Unable to repair \"take.raw\".  The file was not changed.",
                                       "Unable to write \"" + temporary + "\".", "File too large."}));
    EXPECT_EQ(ReadFile(fs_ / "take.raw"), original);
    EXPECT_EQ(Listing(fs_ / "."), std::set<std::string>({"take.raw"}));
  }
  for (int signal : {SIGKILL, SIGTERM}) {
    for (long long point : {0, 19}) {
      SCOPED_TRACE(testing::Message() << "signal " << signal << " at byte " << point);
      FaultPoint fault("hdrmend", fs_ / "take.raw.", point, signal);
      CommandOptions faulted = options;
      faulted.env = fault.environment();
      CommandResult r = Start("take.raw", faulted);
      ASSERT_EQ(fault.report(), fault.firedHere()) << r.err;
      EXPECT_EQ(r.signal, signal);
      EXPECT_EQ(ReadFile(fs_ / "take.raw"), original);
      const std::string temporary = TemporaryName("take.raw", r.pid);
      EXPECT_EQ(Listing(fs_ / "."), signal == SIGKILL
                                        ? std::set<std::string>({"take.raw", temporary})
                                        : std::set<std::string>({"take.raw"}));
      // Left by a kill: the clone, whose header's first bytes are the
      // recording's, written or not.
      if (signal == SIGKILL) {
        EXPECT_EQ(ReadFile(fs_ / temporary), original);
      }
      unlink((fs_ / temporary).c_str());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, FaultMatrixOnFileSystem,
                         ::testing::Values("xfs", "btrfs", "ext4"));

// SIGINT, SIGTERM and SIGHUP (Ctrl-C, timeout, a closed terminal) at points
// spread over the copy: the command stops its filters, removes its copy and
// its pipes, and ends by the same signal; the recording is as it was.
TEST_F(FaultMatrix, InterruptAnywhereLeavesNothingBehind) {
  struct Case {
    const char* name;
    int frames;
  } cases[] = {{"take.raw", 100000}, {"take.txt", 20000}, {"take.raw.gz", 20000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool compressed = EndsWith(c.name, ".gz");
    if (compressed && !haveGzip_) continue;
    Generate(c.name, c.frames, EndsWith(c.name, ".txt") ? std::vector<std::string>{"--format", "text"}
                                                        : std::vector<std::string>{});
    const std::string original = ReadFile(path(c.name));
    const std::string repaired = Repaired(c.name);
    const std::string written = compressed ? "/var/tmp/compofstream0." : path(c.name) + ".";
    // SIGSTOP: stopped there, the command gets SIGTERM and SIGHUP at once,
    // as from `timeout`, which signals it and then its process group; the
    // second waits for the clean-up the first started.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGSTOP}) {
      for (int part : {0, 3, 7}) {
        SCOPED_TRACE(testing::Message() << "signal " << signal << " at " << part << "/10");
        const long long point = static_cast<long long>(repaired.size()) * part / 10;
        FaultPoint fault("hdrmend", written, point, signal);
        CommandOptions options;
        options.env = fault.environment();
        if (signal == SIGSTOP) {
          options.whenStopped = [](pid_t pid) {
            kill(pid, SIGTERM);
            kill(pid, SIGHUP);
          };
        }
        CommandResult r = Run(c.name, options);
        ASSERT_EQ(fault.report(), fault.firedHere()) << "the signal did not come there: " << r.err;
        EXPECT_EQ(r.signal, signal == SIGSTOP ? SIGHUP : signal) << r.err;
        EXPECT_EQ(r.leftBehind, 0) << "filters left running";
        EXPECT_EQ(ReadFile(path(c.name)), original);
        EXPECT_EQ(Listing(dir_.path()), std::set<std::string>({c.name, "reference"}));
      }
    }
    unlink(path(c.name).c_str());
  }
}

// gzip or gunzip killed with SIGKILL half-way through: the reading pass, or
// the copy, cannot tell a dead filter's end of data from a clean one, so the
// exit status of the filter decides. A decompressor is killed by the fault
// library once it has delivered half of the recording's data. For the
// compressor, the library stops the command once it has handed over half of
// the copy; the test kills the compressor, then lets the command go on.
TEST_F(FaultMatrix, FilterKilledMidwayFailsTheRepairAndKeepsTheRecording) {
  if (!haveGzip_) GTEST_SKIP() << "gzip is not installed";
  const std::string self = std::to_string(getpid());
  if (access(("/proc/" + self + "/task/" + self + "/children").c_str(), R_OK) != 0) {
    GTEST_SKIP() << "this system does not list the children of a process in /proc";
  }
  const std::string name = "take.raw.gz";
  Generate(name, 20000);
  const std::string original = ReadFile(path(name));
  const long long half = static_cast<long long>(Content(name).size()) / 2;
  const std::string decompressing = DecompressingProgram();
  struct Case {
    const char* what;
    std::string program;  // the one that fails at the fault
    const char* pipe;     // what it writes to
    bool stopToKillCompressor;
    std::string message;
  } cases[] = {
      {"compressor", "hdrmend", "/var/tmp/compofstream0.", true,
       "Compressor '" + testsupport::GzipCompressor() + "' failed for \"<copy>\"."},
      {"decompressor, counting", decompressing, "/var/tmp/compifstream0.", false,
       "Decompressor 'gunzip' failed for \"take.raw.gz\"."},
      {"decompressor, copying", decompressing, "/var/tmp/compifstream1.", false,
       "Decompressor 'gunzip' failed for \"take.raw.gz\"."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultPoint fault(c.program, c.pipe, half, c.stopToKillCompressor ? SIGSTOP : SIGKILL);
    CommandOptions options;
    options.env = fault.environment();
    pid_t victim = 0;
    if (c.stopToKillCompressor) {
      options.whenStopped = [&](pid_t pid) {
        victim = ChildReading(pid, c.pipe + std::to_string(pid));
        if (victim != 0) kill(victim, SIGKILL);
      };
    }
    CommandResult r = Run(name, options);
    ASSERT_EQ(fault.report(), fault.firedHere()) << c.program << " never got half-way: " << r.err;
    if (c.stopToKillCompressor) {
      ASSERT_NE(victim, 0) << "no compressor read the pipe when the command stopped";
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadFile(path(name)), original);
    EXPECT_EQ(Listing(dir_.path()), std::set<std::string>({name}));
    const std::string message = NamingCopy(c.message, TemporaryName(name, r.pid));
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
}

TEST_F(FaultMatrix, MissingFilterProgramIsNamed) {
  const std::string gzip = FindProgram("gzip");
  if (gzip.empty()) GTEST_SKIP() << "gzip is not installed";
  // A gunzip that needs no gzip on PATH, for the run where gzip is missing.
  ASSERT_EQ(mkdir(path("bin").c_str(), 0755), 0);
  WriteFile(path("bin/gunzip"), "#!/bin/sh\nexec '" + gzip + "' -d \"$@\"\n");
  ASSERT_EQ(chmod(path("bin/gunzip").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("empty").c_str(), 0755), 0);
  struct Case {
    const char* name;
    const char* pathDirectory;
    int status;
    std::vector<std::string> messages;  // "<copy>" is the copy's name
  } cases[] = {
      {"take.raw.gz",
       "bin",
       1,
       {"Unable to repair \"take.raw.gz\".  The file was not changed.",
        "Unable to open \"<copy>\".",
        "Cannot find command 'gzip' to compress\n'<copy>'.\nThis command needs to be in your "
        "path."}},
      {"take.raw.gz",
       "empty",
       1,
       {"Unable to repair \"take.raw.gz\".  The file was not changed.",
        "Cannot find command 'gunzip' to uncompress\n'take.raw.gz'.\nThis command needs to be "
        "in your path."}},
      // A plain recording needs no program at all.
      {"take.raw", "empty", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " with PATH=" + c.pathDirectory);
    Generate(c.name, 100);
    const std::string original = ReadFile(path(c.name));
    const std::string repaired = Repaired(c.name);
    CommandOptions options;
    options.env = {"PATH=" + path(c.pathDirectory)};
    CommandResult r = Run(c.name, options);
    EXPECT_EQ(r.status, c.status);
    std::vector<std::string> messages = c.messages;
    for (std::string& m : messages) m = NamingCopy(m, TemporaryName(c.name, r.pid));
    if (c.status == 0) {
      EXPECT_EQ(r.err, CountReport(105, 100));
      EXPECT_EQ(Content(c.name), repaired);
    } else {
      // The count comes first when the decompressor was found.
      const std::string counts = c.pathDirectory == std::string("bin") ? CountReport(105, 100) : "";
      EXPECT_EQ(r.err, counts + MessageBlock(messages));
      EXPECT_EQ(ReadFile(path(c.name)), original);
    }
    EXPECT_EQ(Listing(dir_.path()).count(TemporaryName(c.name, r.pid)), 0u);
    unlink(path(c.name).c_str());
  }
}

// Runs the command in a mount and process namespace of its own, over a fresh
// /var/tmp that `setup` prepares. Prints the command's process id there, then
// what /var/tmp holds once it ended; exits with its status.
const char kPrivateVarTmp[] =
    "mount -t tmpfs -o mode=1777 tmpfs /var/tmp || exit 125\n"
    "eval \"$1\" || exit 125\n"
    "shift\n"
    "\"$@\" & pid=$!\n"
    "wait $pid; status=$?\n"
    "echo $pid; ls -A /var/tmp\n"
    "exit $status\n";

TEST_F(FaultMatrix, VarTmpUnusableOrHoldingStalePipes) {
  if (!testsupport::RunningAsRoot()) {
    GTEST_SKIP() << "needs root: a private /var/tmp takes mount and process namespaces, and the "
                    "stale pipes of another user are made by chown";
  }
  const std::string unshare = FindProgram("unshare");
  const std::string setpriv = FindProgram("setpriv");
  const std::vector<std::string> isolated = {"-m", "-p", "-f", "--propagation", "private"};
  std::vector<std::string> probe = isolated;
  probe.push_back("/bin/true");
  if (unshare.empty() || RunCommand(unshare, probe).status != 0) {
    GTEST_SKIP() << "no private mount and process namespaces here (needs unshare and root)";
  }
  if (!haveGzip_) GTEST_SKIP() << "gzip is not installed";
  const UnprivilegedCommand unprivileged(HDRMEND_BINARY);
  // Leftovers for every process id the namespace can give the command.
  std::set<std::string> stale;
  std::string staleNames;
  for (int pid = 1; pid <= 64; ++pid) {
    for (const char* pipe : {"compifstream0.", "compifstream1.", "compofstream0."}) {
      stale.insert(pipe + std::to_string(pid));
      staleNames += " /var/tmp/" + std::string(pipe) + std::to_string(pid);
    }
  }
  struct Case {
    const char* what;
    std::string setup;
    bool unprivileged;
    const char* name;
    const char* error;  // the system's reason; null: the repair succeeds
    bool staleStay;     // the stale pipes, but for the command's own, are left
  } cases[] = {
      {"read-only", "mount -o remount,ro /var/tmp", false, "take.raw.gz", "Read-only file system",
       false},
      {"not writable for the user", "chmod 755 /var/tmp", true, "take.raw.gz", "Permission denied",
       false},
      {"read-only, plain recording", "mount -o remount,ro /var/tmp", false, "take.raw", nullptr,
       false},
      {"stale pipes of ours", "mkfifo -m 600" + staleNames, false, "take.raw.gz", nullptr, true},
      {"stale pipes of another user",
       "mkfifo -m 600" + staleNames + " && chown " +
           std::to_string(testsupport::UnprivilegedUser().uid) + staleNames,
       false, "take.raw.gz", "File exists", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Without setpriv, or a user to switch to, the case cannot be made.
    if (c.unprivileged && (setpriv.empty() || !unprivileged.whyNot().empty())) continue;
    Generate(c.name, 300);
    const std::string original = ReadFile(path(c.name));
    const std::string repaired = Repaired(c.name);
    std::vector<std::string> args = isolated;
    for (const std::string& arg : {std::string("/bin/sh"), std::string("-c"),
                                   std::string(kPrivateVarTmp), std::string("sh"), c.setup}) {
      args.push_back(arg);
    }
    if (c.unprivileged) {
      for (const std::string& arg :
           {setpriv, "--reuid=" + std::to_string(unprivileged.uid()),
            "--regid=" + std::to_string(unprivileged.gid()), std::string("--clear-groups")}) {
        args.push_back(arg);
      }
    }
    // The unprivileged user runs a copy it can reach.
    args.push_back(c.unprivileged ? unprivileged.program() : HDRMEND_BINARY);
    args.push_back(c.name);
    CommandOptions options;
    options.directory = dir_.path();
    options.timeoutSeconds = 60;
    CommandResult r = RunCommand(unshare, args, options);
    ASSERT_NE(r.status, 125) << "the private /var/tmp could not be prepared: " << r.err;

    std::istringstream out(r.out);
    pid_t pid = 0;
    out >> pid;
    std::set<std::string> left;
    for (std::string name; out >> name;) left.insert(name);
    std::set<std::string> expectedLeft;
    if (c.staleStay) {
      expectedLeft = stale;
      // Ours are replaced and then removed; another user's are not touched.
      if (c.error == nullptr) {
        for (const std::string& own : PipesOf(pid, stale)) expectedLeft.erase(own);
      }
    }
    EXPECT_EQ(left, expectedLeft);
    if (c.error == nullptr) {
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, CountReport(305, 300));
      EXPECT_EQ(Content(c.name), repaired);
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, MessageBlock({"Unable to repair \"take.raw.gz\".  The file was not changed.",
                              "Unable to create named pipe \"/var/tmp/compifstream0." +
                                  std::to_string(pid) + "\".",
                              c.error}));
      EXPECT_EQ(ReadFile(path(c.name)), original);
    }
    EXPECT_EQ(Listing(dir_.path()), std::set<std::string>({c.name, "reference"}));
    unlink(path(c.name).c_str());
  }
}

// Run where permissions apply: as this user, or as root switched to an
// unprivileged user, since permissions stop root from nothing.
TEST_F(FaultMatrix, UnreadableFileAndUnwritableDirectoryAsAnUnprivilegedUser) {
  const UnprivilegedCommand unprivileged(HDRMEND_BINARY);
  if (!unprivileged.whyNot().empty()) GTEST_SKIP() << unprivileged.whyNot();
  ASSERT_EQ(mkdir(path("open").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("locked").c_str(), 0755), 0);
  struct Case {
    const char* name;
    mode_t mode;
    mode_t folderMode;                  // while the command runs
    std::vector<std::string> messages;  // under the refusal; none names the copy
  } cases[] = {
      {"open/take.raw",
       0,
       0777,
       {"Unable to read \"open/take.raw\".",
        "Insufficient access to read file.  Check permissions."}},
      {"open/take.raw.gz",
       0,
       0777,
       {"Unable to read \"open/take.raw.gz\".",
        "Insufficient access to read file.  Check permissions."}},
      {"locked/take.raw",
       0644,
       0555,
       {"Insufficient access to create file in \"locked\".  Check permissions."}},
      {"locked/take.raw.gz",
       0644,
       0555,
       {"Insufficient access to create file in \"locked\".  Check permissions."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (EndsWith(c.name, ".gz") && !haveGzip_) continue;
    const std::string name = c.name;
    const std::string folder = path(name.substr(0, name.find('/')));
    Generate(c.name, 100);
    const std::string original = ReadFile(path(c.name));
    ASSERT_EQ(chmod(path(c.name).c_str(), c.mode), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.folderMode), 0);
    CommandResult r = Run(c.name, unprivileged.apply(CommandOptions()), unprivileged.program());
    // Opened up again, so that this user may read and remove what is left.
    chmod(folder.c_str(), 0755);
    chmod(path(c.name).c_str(), 0644);
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> messages = c.messages;
    messages.insert(messages.begin(), "Unable to repair \"" + name + "\".  The file was not changed.");
    const std::string counts = c.mode == 0 ? "" : CountReport(105, 100);
    EXPECT_EQ(r.err, counts + MessageBlock(messages));
    EXPECT_EQ(ReadFile(path(c.name)), original);
    EXPECT_EQ(Listing(folder).size(), 1u);
    unlink(path(c.name).c_str());
  }
}

// A command hidden in a name would create the marker file "pwned".
TEST_F(FaultMatrix, HostileNamesAreOnlyNames) {
  const char* names[] = {"two words",
                         "it's \"quoted\"",
                         "$(touch pwned)",
                         "a;touch pwned;b",
                         "`touch pwned`",
                         "new\nline",
                         "-x"};
  for (const char* extension : {".raw", ".raw.gz"}) {
    const bool compressed = std::string(extension) == ".raw.gz";
    if (compressed && !haveGzip_) continue;
    const std::string made = std::string("made") + extension;
    Generate(made, 50);
    const std::string repaired = Repaired(made);
    const std::string original = ReadFile(path(made));
    unlink(path(made).c_str());
    for (const char* base : names) {
      const std::string name = base + std::string(extension);
      SCOPED_TRACE(name);
      WriteFile(path(name), original);
      CommandResult r = Run(name);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, CountReport(55, 50));
      EXPECT_EQ(Content(name), repaired);
      EXPECT_EQ(Listing(dir_.path()), std::set<std::string>({name, "reference"}));
      unlink(path(name).c_str());
    }
  }
}

}  // namespace
