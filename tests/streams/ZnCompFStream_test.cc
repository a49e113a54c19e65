#include "streams/ZnCompFStream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "system/SystemTestSupport.h"
#include "system/ZnFileUtils.h"

namespace {

using testsupport::Exists;
using testsupport::HaveProgram;
using testsupport::Listing;
using testsupport::MessageTexts;
using testsupport::OwnPipesInVarTmp;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteExecutable;
using testsupport::WriteFile;
using Texts = std::vector<std::string>;

// Lines of text, different enough from one another that compression does not
// shrink them to nothing; n bytes in all.
std::string Sample(size_t n, int seed = 0) {
  std::string data;
  unsigned value = 2463534242u + static_cast<unsigned>(seed);
  while (data.size() < n) {
    value ^= value << 13;
    value ^= value >> 17;
    value ^= value << 5;
    data +=
        "frame " + std::to_string(data.size()) + " glob " + std::to_string(value % 100000) + "\n";
  }
  data.resize(n);
  return data;
}

// Reads to the end through the stream, so that the stream meets its end.
std::string ReadAll(std::istream& in) {
  std::string data;
  char block[4096];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    data.append(block, static_cast<size_t>(in.gcount()));
  }
  return data;
}

std::string Text(const ZnStr& s) { return s.c_str(); }

std::string PipeName(const char* kind, int serial) {
  return "/var/tmp/" + std::string(kind) + std::to_string(serial) + "." + std::to_string(getpid());
}

bool SigpipeIsDefault() {
  struct sigaction current;
  sigaction(SIGPIPE, nullptr, &current);
  return current.sa_handler == SIG_DFL;
}

// Every test checks that no named pipe of this process is left in /var/tmp,
// and removes any it finds so that a failing test cannot disturb the next.
class CompFStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZnClearMessages();
    ASSERT_FALSE(dir_.path().empty());
  }
  void TearDown() override {
    Texts left = OwnPipesInVarTmp();
    for (const std::string& pipe : left) unlink(pipe.c_str());
    EXPECT_TRUE(left.empty()) << "named pipe left behind: " << left.front();
    ZnClearMessages();
  }

  std::string Path(const std::string& name) const { return dir_ / name; }

  // A directory for stand-in programs.
  std::string FakeBin() {
    std::string bin = Path("bin");
    mkdir(bin.c_str(), 0755);
    return bin;
  }

  TempDir dir_;
};

TEST_F(CompFStreamTest, GzipWritesACompleteFileThatReadsBack) {
  std::string path = Path("run.raw.gz");
  std::string data = Sample(1 << 20);  // far more than a pipe holds
  ZnCompOFStream out(path.c_str());
  ASSERT_TRUE(out.good());
  ASSERT_NE(out.pipePath(), nullptr);
  EXPECT_EQ(out.pipePath(), PipeName("compofstream", out.serial()));
  EXPECT_TRUE(ZnIsNamedPipe(out.pipePath()));
  EXPECT_EQ(Text(out.command()),
            (testsupport::GzipCompressor() + " -9 <" + PipeName("compofstream", out.serial()) +
             " >" + path + " &"));
  out << data;
  out.close();
  EXPECT_FALSE(out.fail());
  EXPECT_EQ(out.pipePath(), nullptr);
  EXPECT_TRUE(OwnPipesInVarTmp().empty());
  EXPECT_EQ(MessageTexts(), Texts());

  // Complete when close() returns: gzip itself agrees, right away.
  ASSERT_EQ(RunProgram({"gunzip", "-c"}, path, Path("check")), 0);
  EXPECT_EQ(ReadFile(Path("check")), data);

  ZnCompIFStream in(path.c_str());
  ASSERT_TRUE(in.good());
  EXPECT_EQ(in.pipePath(), PipeName("compifstream", in.serial()));
  EXPECT_EQ(Text(in.command()),
            ("gunzip -c " + path + " >" + PipeName("compifstream", in.serial()) + " &"));
  EXPECT_EQ(ReadAll(in), data);
  EXPECT_FALSE(in.filterFailed());
  EXPECT_TRUE(in.close());
  EXPECT_EQ(MessageTexts(), Texts());
}

TEST_F(CompFStreamTest, EachClassNumbersItsStreamsInOrder) {
  WriteFile(Path("plain"), "x");
  ZnCompOFStream a(Path("a.gz").c_str());
  ZnCompIFStream r(Path("plain").c_str());
  ZnCompOFStream b(Path("b.gz").c_str());
  ZnCompIFStream s(Path("plain").c_str());
  ASSERT_TRUE(a.good() && b.good() && r.good() && s.good());
  EXPECT_EQ(b.serial(), a.serial() + 1);
  EXPECT_EQ(s.serial(), r.serial() + 1);
  // Both pipes exist side by side, each under its own number.
  EXPECT_EQ(a.pipePath(), PipeName("compofstream", a.serial()));
  EXPECT_EQ(b.pipePath(), PipeName("compofstream", b.serial()));
  EXPECT_TRUE(ZnIsNamedPipe(a.pipePath()) && ZnIsNamedPipe(b.pipePath()));
}

// The counters start at 0 in a new process; the child re-runs this test alone.
TEST(CompFStreamSerialTest, FirstStreamsOfAProcessAreNumberedFromZero) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        bool ok;
        {
          TempDir dir;
          ZnCompOFStream a((dir / "a.gz").c_str());
          ZnCompOFStream b((dir / "b.gz").c_str());
          WriteFile(dir / "plain", "x");
          ZnCompIFStream c((dir / "plain").c_str());
          ok = a.serial() == 0 && b.serial() == 1 && c.serial() == 0 &&
               a.pipePath() == PipeName("compofstream", 0) &&
               b.pipePath() == PipeName("compofstream", 1);
          a.close();
          b.close();
          c.close();
          ok = ok && OwnPipesInVarTmp().empty();
        }
        exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(CompFStreamTest, PlainNameFallsBackToItsGzipForm) {
  std::string data = Sample(5000);
  WriteFile(Path("run.raw.src"), data);
  ASSERT_EQ(RunProgram({"gzip", "-c"}, Path("run.raw.src"), Path("run.raw.gz")), 0);
  {
    ZnCompIFStream in(Path("run.raw").c_str());
    ASSERT_TRUE(in.good());
    EXPECT_EQ(Text(in.command()), ("gunzip -c " + Path("run.raw.gz") + " >" +
                                   PipeName("compifstream", in.serial()) + " &"));
    EXPECT_EQ(ReadAll(in), data);
  }
  // With the plain file present, that is what is read.
  WriteFile(Path("run.raw"), "plain text");
  {
    ZnCompIFStream in(Path("run.raw").c_str());
    ASSERT_TRUE(in.good());
    EXPECT_EQ(Text(in.command()), "");
    EXPECT_EQ(ReadAll(in), "plain text");
  }
  EXPECT_EQ(MessageTexts(), Texts());
}

TEST_F(CompFStreamTest, MissingFileAndVariantsReportTheOpen) {
  std::string path = Path("run.raw");
  ZnCompIFStream in(path.c_str());
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(MessageTexts(), Texts({"File does not exist.", "Unable to open \"" + path + "\"."}));
}

TEST_F(CompFStreamTest, CompressFormRoundTripsAndIsFoundForAPlainName) {
  if (!HaveProgram("compress") || !HaveProgram("uncompress")) {
    GTEST_SKIP() << "compress or uncompress is not installed";
  }
  std::string data = Sample(200000, 1);
  {
    ZnCompOFStream out(Path("run.raw.Z").c_str());
    ASSERT_TRUE(out.good());
    EXPECT_EQ(Text(out.command()), ("compress <" + PipeName("compofstream", out.serial()) + " >" +
                                    Path("run.raw.Z") + " &"));
    out << data;
    out.close();
    ASSERT_FALSE(out.fail());
  }
  ASSERT_EQ(RunProgram({"uncompress", "-c"}, Path("run.raw.Z"), Path("check")), 0);
  EXPECT_EQ(ReadFile(Path("check")), data);
  ZnCompIFStream in(Path("run.raw").c_str());
  ASSERT_TRUE(in.good());
  EXPECT_EQ(Text(in.command()), ("uncompress -c " + Path("run.raw.Z") + " >" +
                                 PipeName("compifstream", in.serial()) + " &"));
  EXPECT_EQ(ReadAll(in), data);
  EXPECT_TRUE(in.close());
  EXPECT_EQ(MessageTexts(), Texts());
}

TEST_F(CompFStreamTest, GzipFormIsPreferredOverCompressForm) {
  WriteFile(Path("src"), "from gzip");
  ASSERT_EQ(RunProgram({"gzip", "-c"}, Path("src"), Path("run.raw.gz")), 0);
  WriteFile(Path("run.raw.Z"), "not even compressed");
  ZnCompIFStream in(Path("run.raw").c_str());
  ASSERT_TRUE(in.good());
  EXPECT_EQ(ReadAll(in), "from gzip");
}

TEST_F(CompFStreamTest, JpegGoesThroughCjpegAndDjpeg) {
  if (!HaveProgram("cjpeg") || !HaveProgram("djpeg")) {
    GTEST_SKIP() << "cjpeg or djpeg is not installed";
  }
  std::string image = "P5\n8 8\n255\n" + std::string(64, '\x80');
  WriteFile(Path("image.pgm"), image);
  // Whether this cjpeg knows the options the filter passes decides the outcome;
  // either way the stream must say so.
  bool optionsKnown = RunProgram({"cjpeg", "-gsi"}, Path("image.pgm"), Path("probe.jpeg")) == 0;
  std::string path = Path("image.jpeg");
  ZnCompOFStream out(path.c_str());
  ASSERT_TRUE(out.good());
  EXPECT_EQ(Text(out.command()),
            ("cjpeg -gsi <" + PipeName("compofstream", out.serial()) + " >" + path + " &"));
  out << image;
  out.close();
  if (optionsKnown) {
    EXPECT_FALSE(out.fail());
    ZnCompIFStream in(path.c_str());
    ASSERT_TRUE(in.good());
    EXPECT_EQ(ReadAll(in).substr(0, 2), "P5");
    EXPECT_TRUE(in.close());
    EXPECT_EQ(MessageTexts(), Texts());
  } else {
    EXPECT_TRUE(out.fail());
    EXPECT_EQ(MessageTexts(), Texts({"Compressor 'cjpeg' failed for \"" + path + "\"."}));
    ZnClearMessages();
    ASSERT_EQ(RunProgram({"cjpeg"}, Path("image.pgm"), path), 0);
    ZnCompIFStream in(path.c_str());
    ASSERT_TRUE(in.good());
    EXPECT_EQ(Text(in.command()),
              ("djpeg -gsi " + path + " >" + PipeName("compifstream", in.serial()) + " &"));
    ReadAll(in);
    EXPECT_FALSE(in.close());
    EXPECT_TRUE(in.fail());
    EXPECT_EQ(MessageTexts(), Texts({"Decompressor 'djpeg' failed for \"" + path + "\"."}));
  }
}

TEST_F(CompFStreamTest, UnrecognisedExtensionsAreWrittenAsTheyAre) {
  for (const char* name : {"run.raw.GZ", "run.raw.jpg", "run.raw.z", "run.raw.gzip"}) {
    SCOPED_TRACE(name);
    {
      ZnCompOFStream out(Path(name).c_str());
      ASSERT_TRUE(out.good());
      EXPECT_EQ(out.pipePath(), nullptr);
      EXPECT_EQ(Text(out.command()), "");
      out << "plain";
    }
    EXPECT_EQ(ReadFile(Path(name)), "plain");
  }
}

// Run from inside the directory, so that names are used as given.
class CompFStreamInDirTest : public CompFStreamTest {
 protected:
  void SetUp() override {
    CompFStreamTest::SetUp();
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldDir_ = cwd;
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(oldDir_.c_str()), 0);
    CompFStreamTest::TearDown();
  }
  std::string oldDir_;
};

TEST_F(CompFStreamInDirTest, AnyFileNameReachesTheFilterAsThatFile) {
  const std::vector<std::string> names = {
      "with space.gz",
      "two  spaces .gz",
      "single'quote.gz",
      "double\"quote.gz",
      "dollar$HOME.gz",
      "$(touch MARKER).gz",
      "`touch MARKER`.gz",
      "semi;touch MARKER;.gz",
      "new\nline.gz",
      "-leading-dash.gz",
      "--.gz",
      "back\\slash.gz",
      "glob*?[a].gz",
      "amp&touch MARKER.gz",
      "pipe|touch MARKER.gz",
      "<in>out.gz",
  };
  std::set<std::string> expected;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    SCOPED_TRACE(name);
    std::string data = Sample(3000 + i, static_cast<int>(i));
    ZnCompOFStream out(name.c_str());
    ASSERT_TRUE(out.good());
    out << data;
    out.close();
    ASSERT_FALSE(out.fail());
    expected.insert(name);
    // The file under exactly that name is gzip data, read without any shell.
    ASSERT_EQ(RunProgram({"gunzip", "-c"}, name, "check"), 0);
    EXPECT_EQ(ReadFile("check"), data);
    unlink("check");
    ZnCompIFStream in(name.c_str());
    ASSERT_TRUE(in.good());
    EXPECT_EQ(ReadAll(in), data);
    // The plain name finds the same file.
    ZnCompIFStream plain(name.substr(0, name.size() - 3).c_str());
    ASSERT_TRUE(plain.good());
    EXPECT_EQ(ReadAll(plain), data);
  }
  EXPECT_FALSE(Exists("MARKER")) << "a file name was run as a command";
  // Nothing but the named files appeared: no name was split or redirected.
  EXPECT_EQ(Listing("."), expected);
  EXPECT_EQ(MessageTexts(), Texts());
}

TEST_F(CompFStreamInDirTest, BareExtensionIsAnOrdinaryName) {
  {
    ZnCompOFStream out(".gz");
    ASSERT_TRUE(out.good());
    EXPECT_EQ(out.pipePath(), nullptr);
    out << "not compressed";
  }
  EXPECT_EQ(ReadFile(".gz"), "not compressed");
  ZnCompIFStream in(".gz");
  ASSERT_TRUE(in.good());
  EXPECT_EQ(Text(in.command()), "");
  EXPECT_EQ(ReadAll(in), "not compressed");
}

// With the programs missing from PATH no filter starts, the message names the
// program and the file, and the pipe made before the look-up is gone.
// pigz writes ".gz" files where it is installed, gzip where it is not; both
// give a file that gunzip reads back whole, and reading is gunzip's either way.
TEST_F(CompFStreamTest, GzipFilesAreWrittenByPigzWhereInstalledElseByGzip) {
  struct Case {
    const char* compressor;
    std::vector<std::string> installed;
  } cases[] = {
      {"pigz", {"pigz", "gzip", "gunzip"}},
      {"gzip", {"gzip", "gunzip"}},
  };
  const std::string data = Sample(300000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.compressor);
    if (!HaveProgram(c.compressor)) {
      std::cout << "[  SKIPPED ] " << c.compressor << " is not installed\n";
      continue;
    }
    TempDir bin;
    for (const std::string& program : c.installed) {
      ASSERT_EQ(symlink(testsupport::FindProgram(program).c_str(), (bin / program).c_str()), 0);
    }
    ScopedEnv path("PATH", bin.path().c_str());
    ZnClearMessages();
    std::string file = Path(std::string(c.compressor) + ".raw.gz");
    ZnCompOFStream out(file.c_str());
    ASSERT_TRUE(out.good());
    EXPECT_EQ(Text(out.command()), std::string(c.compressor) + " -9 <" +
                                       PipeName("compofstream", out.serial()) + " >" + file + " &");
    out << data;
    EXPECT_TRUE(out.close());
    ZnCompIFStream in(file.c_str());
    ASSERT_TRUE(in.good());
    EXPECT_EQ(Text(in.command()),
              "gunzip -c " + file + " >" + PipeName("compifstream", in.serial()) + " &");
    EXPECT_EQ(ReadAll(in), data);
    EXPECT_TRUE(in.close());
    EXPECT_EQ(MessageTexts(), Texts());
  }
}

TEST_F(CompFStreamTest, ProgramMissingFromPathFailsTheOpen) {
  struct Case {
    const char* name;
    const char* program;
    const char* command;  // with the pipe and the file in their places
  };
  const Case writing[] = {
      {"x.gz", "gzip", "gzip -9 <%P >%F &"},
      {"x.Z", "compress", "compress <%P >%F &"},
      {"x.jpeg", "cjpeg", "cjpeg -gsi <%P >%F &"},
  };
  const Case reading[] = {
      {"y.gz", "gunzip", "gunzip -c %F >%P &"},
      {"y.Z", "uncompress", "uncompress -c %F >%P &"},
      {"y.jpeg", "djpeg", "djpeg -gsi %F >%P &"},
  };
  auto fill = [](std::string text, const std::string& pipe, const std::string& file) {
    text.replace(text.find("%P"), 2, pipe);
    text.replace(text.find("%F"), 2, file);
    return text;
  };
  ScopedEnv path("PATH", FakeBin().c_str());
  for (const Case& c : writing) {
    SCOPED_TRACE(c.name);
    ZnClearMessages();
    std::string file = Path(c.name);
    ZnCompOFStream out(file.c_str());
    EXPECT_TRUE(out.fail());
    EXPECT_EQ(MessageTexts(),
              Texts({std::string("Cannot find command '") + c.program + "' to compress\n'" + file +
                     "'.\nThis command needs to be in your path."}));
    EXPECT_EQ(Text(out.command()), fill(c.command, PipeName("compofstream", out.serial()), file));
    EXPECT_TRUE(OwnPipesInVarTmp().empty());
    EXPECT_FALSE(Exists(file));
  }
  for (const Case& c : reading) {
    SCOPED_TRACE(c.name);
    ZnClearMessages();
    std::string file = Path(c.name);
    WriteFile(file, "data");
    ZnCompIFStream in(file.c_str());
    EXPECT_TRUE(in.fail());
    EXPECT_EQ(MessageTexts(),
              Texts({std::string("Cannot find command '") + c.program + "' to uncompress\n'" +
                     file + "'.\nThis command needs to be in your path."}));
    EXPECT_EQ(Text(in.command()), fill(c.command, PipeName("compifstream", in.serial()), file));
    EXPECT_TRUE(OwnPipesInVarTmp().empty());
  }
}

// A directory named gzip passes the look-up, but the shell cannot run it.
// Neither direction may wait for good, and both report the failure.
TEST_F(CompFStreamTest, FilterThatCannotRunIsReportedWithoutHanging) {
  std::string bin = FakeBin();
  mkdir((bin + "/gzip").c_str(), 0755);
  mkdir((bin + "/gunzip").c_str(), 0755);
  ScopedEnv path("PATH", bin.c_str());

  std::string target = Path("out.gz");
  ZnCompOFStream out(target.c_str());
  if (out.good()) {
    out << Sample(100000);
    out.close();
  }
  EXPECT_TRUE(out.fail());
  ASSERT_FALSE(MessageTexts().empty());
  EXPECT_EQ(MessageTexts().back(), "Compressor 'gzip' failed for \"" + target + "\".");

  ZnClearMessages();
  std::string source = Path("in.gz");
  WriteFile(source, "data");
  ZnCompIFStream in(source.c_str());
  ASSERT_TRUE(in.good());
  EXPECT_EQ(ReadAll(in), "");
  EXPECT_TRUE(in.filterFailed());
  EXPECT_FALSE(in.close());
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(MessageTexts(), Texts({"Decompressor 'gunzip' failed for \"" + source + "\"."}));
}

TEST_F(CompFStreamTest, DamagedCompressedInputIsAnError) {
  std::string whole = Path("whole.gz");
  WriteFile(Path("src"), Sample(300000));
  ASSERT_EQ(RunProgram({"gzip", "-c"}, Path("src"), whole), 0);
  std::string compressed = ReadFile(whole);
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"garbage.gz", "this was never gzip data\n"},
      {"truncated.gz", compressed.substr(0, compressed.size() / 2)},
      {"empty.gz", ""},
      {"flipped.gz", compressed.substr(0, 100) + "\xff\xff\xff\xff" + compressed.substr(104)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZnClearMessages();
    std::string path = Path(c.name);
    WriteFile(path, c.bytes);
    ZnCompIFStream in(path.c_str());
    ASSERT_TRUE(in.good());
    ReadAll(in);
    EXPECT_TRUE(in.eof());
    EXPECT_TRUE(in.filterFailed());
    EXPECT_FALSE(in.close());
    EXPECT_TRUE(in.fail());
    EXPECT_EQ(MessageTexts(), Texts({"Decompressor 'gunzip' failed for \"" + path + "\"."}));
  }
  // The intact file, for contrast, ends cleanly.
  ZnClearMessages();
  ZnCompIFStream in(whole.c_str());
  ReadAll(in);
  EXPECT_FALSE(in.filterFailed());
  EXPECT_TRUE(in.close());
  EXPECT_EQ(MessageTexts(), Texts());
}

// A compressor that dies early breaks our pipe: the process must survive the
// writes, and close() must not pass the file off as written.
TEST_F(CompFStreamTest, CompressorThatFailsIsReportedAtClose) {
  struct Case {
    const char* what;
    const char* script;
  };
  const Case cases[] = {
      {"exits at once", "#!/bin/sh\nexit 3\n"},
      {"reads everything, then fails", "#!/bin/sh\ncat >/dev/null\nexit 1\n"},
      {"killed", "#!/bin/sh\nkill -9 $$\n"},
  };
  std::string bin = FakeBin();
  std::string oldPath = getenv("PATH") != nullptr ? getenv("PATH") : "";
  ScopedEnv path("PATH", (bin + ":" + oldPath).c_str());
  ASSERT_TRUE(SigpipeIsDefault());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZnClearMessages();
    // In the place of the compressor that runs: pigz where it is installed.
    ASSERT_TRUE(WriteExecutable(bin + "/" + testsupport::GzipCompressor(), c.script));
    std::string target = Path("out.gz");
    ZnCompOFStream out(target.c_str());
    ASSERT_TRUE(out.good());
    EXPECT_FALSE(SigpipeIsDefault());
    out << Sample(1 << 20);
    out.close();
    EXPECT_TRUE(out.fail());
    EXPECT_TRUE(out.filterFailed());
    EXPECT_EQ(MessageTexts(), Texts({"Compressor '" + testsupport::GzipCompressor() + "' failed for \"" + target + "\"."}));
    EXPECT_TRUE(SigpipeIsDefault());
  }
}

TEST_F(CompFStreamTest, DestructorWaitsAndReportsLikeClose) {
  std::string bin = FakeBin();
  ASSERT_TRUE(WriteExecutable(bin + "/" + testsupport::GzipCompressor(),
                              "#!/bin/sh\ncat >/dev/null\nexit 1\n"));
  std::string oldPath = getenv("PATH") != nullptr ? getenv("PATH") : "";
  {
    ScopedEnv path("PATH", (bin + ":" + oldPath).c_str());
    ZnCompOFStream out(Path("bad.gz").c_str());
    ASSERT_TRUE(out.good());
    out << "data";
  }
  EXPECT_TRUE(ZnMessages.errorPending());
  EXPECT_EQ(MessageTexts(), Texts({"Compressor '" + testsupport::GzipCompressor() + "' failed for \"" + Path("bad.gz") + "\"."}));

  // With the real gzip the destructor leaves a complete file behind.
  ZnClearMessages();
  std::string data = Sample(100000);
  {
    ZnCompOFStream out(Path("good.gz").c_str());
    out << data;
  }
  EXPECT_EQ(MessageTexts(), Texts());
  ASSERT_EQ(RunProgram({"gunzip", "-c"}, Path("good.gz"), Path("check")), 0);
  EXPECT_EQ(ReadFile(Path("check")), data);
}

TEST_F(CompFStreamTest, ReaderThatStopsEarlyIsNotAFailure) {
  std::string path = Path("big.gz");
  WriteFile(Path("src"), Sample(4 << 20));
  ASSERT_EQ(RunProgram({"gzip", "-c"}, Path("src"), path), 0);
  {
    ZnCompIFStream in(path.c_str());
    char head[100];
    in.read(head, sizeof head);
    EXPECT_EQ(std::string(head, sizeof head), Sample(100));
    EXPECT_FALSE(in.filterFailed());
    EXPECT_TRUE(in.close());
  }
  {
    ZnCompIFStream untouched(path.c_str());
    ASSERT_TRUE(untouched.good());
  }
  EXPECT_EQ(MessageTexts(), Texts());
}

// Each filter must see only its own pipe: were the first pipe's writing side
// inherited by the second gzip, the first would never see its end of input
// and closing it would wait for ever.
TEST_F(CompFStreamTest, StreamsOpenAtOnceCloseIndependently) {
  std::string first = Sample(50000, 1);
  std::string second = Sample(50000, 2);
  ZnCompOFStream a(Path("a.gz").c_str());
  ZnCompOFStream b(Path("b.gz").c_str());
  WriteFile(Path("src"), first);
  ZnCompIFStream r(Path("src").c_str());  // a plain reader open meanwhile
  ASSERT_TRUE(a.good() && b.good() && r.good());
  a << first;
  b << second;
  a.close();
  ASSERT_FALSE(a.fail());
  ASSERT_EQ(RunProgram({"gunzip", "-c"}, Path("a.gz"), Path("check")), 0);
  EXPECT_EQ(ReadFile(Path("check")), first);
  b.close();
  ASSERT_FALSE(b.fail());
  ASSERT_EQ(RunProgram({"gunzip", "-c"}, Path("b.gz"), Path("check")), 0);
  EXPECT_EQ(ReadFile(Path("check")), second);
}

TEST_F(CompFStreamTest, LeftoverPipeOfOursIsReplacedAnythingElseIsKept) {
  // The next output stream takes the serial after this one's.
  ZnCompOFStream numbering(Path("plain").c_str());
  std::string stale = PipeName("compofstream", numbering.serial() + 1);
  ASSERT_EQ(mkfifo(stale.c_str(), 0600), 0);
  {
    ZnCompOFStream out(Path("a.gz").c_str());
    ASSERT_TRUE(out.good());
    EXPECT_EQ(out.pipePath(), stale);
    out << "data";
  }
  EXPECT_FALSE(Exists(stale));
  EXPECT_EQ(MessageTexts(), Texts());

  std::string foreign = PipeName("compofstream", numbering.serial() + 2);
  ASSERT_TRUE(WriteFile(foreign, "someone else's"));
  {
    ZnCompOFStream out(Path("b.gz").c_str());
    EXPECT_TRUE(out.fail());
    EXPECT_EQ(MessageTexts(),
              Texts({strerror(EEXIST), "Unable to create named pipe \"" + foreign + "\"."}));
  }
  EXPECT_EQ(ReadFile(foreign), "someone else's");
  unlink(foreign.c_str());

  // A named pipe of another user may belong to a live process elsewhere.
  if (geteuid() != 0) GTEST_SKIP() << "the rest needs root, to give a pipe to another user";
  ZnClearMessages();
  std::string othersPipe = PipeName("compofstream", numbering.serial() + 3);
  ASSERT_EQ(mkfifo(othersPipe.c_str(), 0600), 0);
  ASSERT_EQ(chown(othersPipe.c_str(), 65534, 65534), 0);
  {
    ZnCompOFStream out(Path("c.gz").c_str());
    EXPECT_TRUE(out.fail());
    EXPECT_EQ(MessageTexts(),
              Texts({strerror(EEXIST), "Unable to create named pipe \"" + othersPipe + "\"."}));
  }
  EXPECT_TRUE(ZnIsNamedPipe(othersPipe.c_str()));
  unlink(othersPipe.c_str());
}

TEST_F(CompFStreamTest, EarlierPendingErrorDoesNotFailTheOpen) {
  ZnReportError("An unrelated failure.");
  ZnCompOFStream out(Path("a.gz").c_str());
  EXPECT_TRUE(out.good());
  ZnCompIFStream in(Path("missing.gz").c_str());
  EXPECT_TRUE(in.fail());
}

TEST_F(CompFStreamTest, UnwritableTargetFailsBeforeAnyPipeIsMade) {
  for (const char* name : {"no/such/dir/out.gz", "no/such/dir/out.raw"}) {
    SCOPED_TRACE(name);
    ZnClearMessages();
    std::string path = Path(name);
    ZnCompOFStream out(path.c_str());
    EXPECT_TRUE(out.fail());
    EXPECT_EQ(out.pipePath(), nullptr);
    EXPECT_EQ(MessageTexts(),
              Texts({"Parent directory \"" + Path("no/such/dir") + "\" does not exist.",
                     "File \"" + path + "\" is unwritable."}));
  }
}

TEST_F(CompFStreamTest, OpenOnAnOpenStreamFailsAndKeepsTheFirst) {
  std::string data = Sample(1000);
  ZnCompOFStream out(Path("a.gz").c_str());
  out.open(Path("b.gz").c_str());
  EXPECT_TRUE(out.fail());
  out.clear();
  out << data;
  out.close();
  EXPECT_FALSE(out.fail());
  EXPECT_FALSE(Exists(Path("b.gz")));
  ASSERT_EQ(RunProgram({"gunzip", "-c"}, Path("a.gz"), Path("check")), 0);
  EXPECT_EQ(ReadFile(Path("check")), data);
  // Closed, it opens again under the same serial.
  int serial = out.serial();
  out.open(Path("c.gz").c_str());
  ASSERT_TRUE(out.good());
  EXPECT_EQ(out.pipePath(), PipeName("compofstream", serial));
}

}  // namespace
