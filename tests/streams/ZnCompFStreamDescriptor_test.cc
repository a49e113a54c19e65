// The compressing streams on descriptors the caller opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ZnMessage.h"
#include "streams/ZnCompFStream.h"
#include "system/SystemTestSupport.h"
#include "system/ZnCleanup.h"

namespace {

using testsupport::EndsWith;
using testsupport::Exists;
using testsupport::HaveProgram;
using testsupport::MessageTexts;
using testsupport::OwnPipesInVarTmp;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::WriteFile;
using Texts = std::vector<std::string>;

std::string Sample(size_t n) {
  std::string data;
  for (unsigned i = 0; data.size() < n; ++i) {
    data += "frame " + std::to_string(i) + " glob " + std::to_string(i * 2654435761u % 9973) + "\n";
  }
  data.resize(n);
  return data;
}

std::string ReadAll(std::istream& in) {
  std::ostringstream data;
  char block[4096];
  while (in.read(block, sizeof block) || in.gcount() > 0) data.write(block, in.gcount());
  return data.str();
}

// A new file as the command creates its copy: exclusively, never through a
// link.
int CreateExclusive(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

bool DescriptorOpen(int fd) { return fcntl(fd, F_GETFD) >= 0; }

class CompFStreamDescriptorTest : public ::testing::Test {
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

  TempDir dir_;
};

// The name only chooses the filter and names the file. A link planted at
// that name must stay untouched: nothing opens the name, the filter included.
TEST_F(CompFStreamDescriptorTest, DataGoesThroughTheDescriptorsNeverThroughTheName) {
  struct Case {
    const char* extension;
    const char* compressor;    // "" for none
    const char* decompressor;  // to check what was written, "" for none
  };
  // Debian's gzip brings an uncompress of its own; compress comes only with
  // ncompress.
  const Case cases[] = {{"", "", ""}, {".gz", "gzip", "gunzip"}, {".Z", "compress", "uncompress"}};
  const std::string data = Sample(600000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extension);
    if (c.decompressor[0] != '\0' && (!HaveProgram(c.compressor) || !HaveProgram(c.decompressor))) {
      std::cout << "skipped: " << c.compressor << " or " << c.decompressor << " is not installed\n";
      continue;
    }
    ZnClearMessages();
    const std::string name = Path(std::string("take.raw") + c.extension);
    const std::string real = Path(std::string("copy") + c.extension);
    ASSERT_TRUE(WriteFile(Path("victim"), "keep me"));
    unlink(name.c_str());
    ASSERT_EQ(symlink(Path("victim").c_str(), name.c_str()), 0);

    const int fd = CreateExclusive(real);
    ASSERT_GE(fd, 0);
    {
      ZnCompOFStream out(fd, name.c_str());
      ASSERT_TRUE(out.good());
      if (c.decompressor[0] != '\0') {
        EXPECT_NE(std::string(out.command().c_str()).find(" >" + name + " &"), std::string::npos)
            << out.command().c_str();
      }
      out << data;
      EXPECT_TRUE(out.close());
    }
    EXPECT_TRUE(DescriptorOpen(fd)) << "the caller's descriptor is the caller's to close";
    close(fd);
    EXPECT_EQ(ReadFile(Path("victim")), "keep me");
    if (c.decompressor[0] == '\0') {
      EXPECT_EQ(ReadFile(real), data);
    } else {
      ASSERT_EQ(RunProgram({c.decompressor, "-c"}, real, Path("check")), 0);
      EXPECT_EQ(ReadFile(Path("check")), data);
    }

    const int in = open(real.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(in, 0);
    {
      ZnCompIFStream back(in, name.c_str());
      ASSERT_TRUE(back.good());
      EXPECT_EQ(ReadAll(back), data);
      EXPECT_TRUE(back.close());
    }
    EXPECT_TRUE(DescriptorOpen(in));
    close(in);
    EXPECT_EQ(MessageTexts(), Texts());
  }
}

// The duplicate shares the file offset, so the caller's own writes between a
// flush and the next stream write land in order.
TEST_F(CompFStreamDescriptorTest, CallersOwnWritesInterleaveWithTheStream) {
  const std::string source = Path("source");
  ASSERT_TRUE(WriteFile(source, "<copied>"));
  const int fd = CreateExclusive(Path("out"));
  ASSERT_GE(fd, 0);
  ZnCompOFStream out(fd, Path("out").c_str());
  ASSERT_TRUE(out.good());
  out << "first|";
  out.flush();
  ASSERT_EQ(write(fd, "<written>", 9), 9);
  const int from = open(source.c_str(), O_RDONLY);
  ASSERT_GE(from, 0);
  ASSERT_EQ(copy_file_range(from, nullptr, fd, nullptr, 8, 0), 8);
  close(from);
  EXPECT_EQ(out.tellp(), std::streampos(23));
  out << "|last";
  EXPECT_TRUE(out.close());
  close(fd);
  EXPECT_EQ(ReadFile(Path("out")), "first|<written><copied>|last");
}

TEST_F(CompFStreamDescriptorTest, PlainInputDescriptorSeeks) {
  const std::string data = Sample(3 * kStreamBufferSize);
  ASSERT_TRUE(WriteFile(Path("data"), data));
  const int fd = open(Path("data").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ZnCompIFStream in(fd, "data");
  close(fd);  // the stream has its own
  ASSERT_TRUE(in.good());
  for (std::streamoff at : {std::streamoff(100), std::streamoff(2 * kStreamBufferSize + 7),
                            std::streamoff(5)}) {
    SCOPED_TRACE(at);
    in.seekg(at);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, data.substr(static_cast<size_t>(at), line.size()));
    EXPECT_EQ(in.tellg(), at + static_cast<std::streamoff>(line.size()) + 1);
  }
}

// The command keeps the recording open while it is renamed; the decompressor
// reads the descriptor, whatever the name now leads to.
TEST_F(CompFStreamDescriptorTest, DecompressorReadsADescriptorWhoseNameMoved) {
  const std::string data = Sample(200000);
  ASSERT_TRUE(WriteFile(Path("plain"), data));
  ASSERT_EQ(RunProgram({"gzip", "-c"}, Path("plain"), Path("take.raw.gz")), 0);
  const int fd = open(Path("take.raw.gz").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(rename(Path("take.raw.gz").c_str(), Path("moved.gz").c_str()), 0);
  ASSERT_TRUE(WriteFile(Path("take.raw.gz"), "not the recording"));
  ZnCompIFStream in(fd, Path("take.raw.gz").c_str());
  close(fd);
  ASSERT_TRUE(in.good());
  EXPECT_EQ(ReadAll(in), data);
  EXPECT_TRUE(in.close());
  EXPECT_EQ(MessageTexts(), Texts());
}

// Failures on descriptors name the file by the name given.
TEST_F(CompFStreamDescriptorTest, FailuresNameTheFileByTheGivenName) {
  {
    ZnCompIFStream in(-1, "missing.raw");
    EXPECT_TRUE(in.fail());
    EXPECT_EQ(MessageTexts(), Texts({strerror(EBADF), "Unable to open \"missing.raw\"."}));
  }
  ZnClearMessages();
  {
    ZnCompOFStream out(-1, "copy.gz");
    EXPECT_TRUE(out.fail());
    EXPECT_EQ(out.pipePath(), nullptr);
    // The writer names the file itself.
    EXPECT_EQ(MessageTexts(), Texts());
  }
  ZnClearMessages();
  {
    // A read that fails must not pass for the end of the data.
    const int dir = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
    ZnCompIFStream in(dir, "take.raw");
    close(dir);
    ASSERT_TRUE(in.good());
    EXPECT_EQ(ReadAll(in), "");
    EXPECT_FALSE(in.close());
    EXPECT_EQ(MessageTexts(), Texts({strerror(EISDIR), "Unable to read \"take.raw\"."}));
  }
  ZnClearMessages();
  {
    ASSERT_TRUE(WriteFile(Path("garbage"), "never gzip data"));
    const int fd = open(Path("garbage").c_str(), O_RDONLY);
    ZnCompIFStream in(fd, "take.raw.gz");
    close(fd);
    ReadAll(in);
    EXPECT_FALSE(in.close());
    EXPECT_EQ(MessageTexts(), Texts({"Decompressor 'gunzip' failed for \"take.raw.gz\"."}));
  }
  ZnClearMessages();
  {
    const int full = open("/dev/full", O_WRONLY);
    ZnCompOFStream out(full, "copy.gz");
    close(full);
    out << Sample(100000);
    EXPECT_FALSE(out.close());
    EXPECT_EQ(MessageTexts(), Texts({"Compressor '" + testsupport::GzipCompressor() + "' failed for \"copy.gz\"."}));
  }
}

// A FIFO without a writer reads as empty instead of holding the open up.
TEST_F(CompFStreamDescriptorTest, NamedOpenOfAFifoNeverWaitsForAWriter) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  ZnCompIFStream in(Path("fifo").c_str());
  ASSERT_TRUE(in.good());
  EXPECT_EQ(ReadAll(in), "");
  EXPECT_TRUE(in.close());
}

// An interrupt while both kinds of stream are open stops their filters and
// removes their pipes before the process ends by that signal.
TEST_F(CompFStreamDescriptorTest, InterruptStopsTheFiltersAndRemovesThePipes) {
  const std::string data = Sample(100000);
  ASSERT_TRUE(WriteFile(Path("plain"), data));
  ASSERT_EQ(RunProgram({"gzip", "-c"}, Path("plain"), Path("in.gz")), 0);
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(report[0]);
    ZnInstallInterruptHandlers();
    ZnCompIFStream in(Path("in.gz").c_str());
    ZnCompOFStream out(Path("out.gz").c_str());
    out << "partial";
    out.flush();
    // The pipes, then the filters, which are this process's only children.
    const std::string self = std::to_string(getpid());
    const std::string text = std::string(in.pipePath() ? in.pipePath() : "-") + "\n" +
                             (out.pipePath() ? out.pipePath() : "-") + "\n" +
                             ReadFile("/proc/" + self + "/task/" + self + "/children");
    if (write(report[1], text.data(), text.size()) < 0) _exit(1);
    close(report[1]);
    raise(SIGTERM);
    _exit(1);
  }
  close(report[1]);
  std::string text;
  char block[256];
  for (ssize_t n; (n = read(report[0], block, sizeof block)) > 0;) text.append(block, n);
  close(report[0]);
  std::istringstream reported(text);
  std::string pipes[2];
  std::getline(reported, pipes[0]);
  std::getline(reported, pipes[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  int filters = 0;
  for (pid_t pid; reported >> pid; ++filters) {
    EXPECT_NE(kill(pid, 0), 0) << "filter " << pid << " still runs";
    kill(pid, SIGKILL);
  }
  EXPECT_EQ(filters, 2);
  for (const std::string& pipe : pipes) {
    ASSERT_TRUE(EndsWith(pipe, "." + std::to_string(child))) << pipe;
    EXPECT_FALSE(Exists(pipe)) << pipe;
    unlink(pipe.c_str());
  }
}

}  // namespace
