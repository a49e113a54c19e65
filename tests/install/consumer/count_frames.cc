// count_frames RECORDING: prints what the recording's header states and what
// its frames hold, read through the installed hdrmend libraries. The install
// test builds it against a scratch installation, once through
// find_package(hdrmend) and once through pkg-config, and compares the line it
// prints. Exit status 0 when every frame up to the end of the data was read,
// 1 with the library's messages otherwise, 2 for a wrong command line.
#include <cstdio>

#include "foundation/ZnMessage.h"
#include "rawdata/ZrRDFileReader.h"
#include "rawdata/ZrRDFrame.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: count_frames <rawdata file>\n");
    return 2;
  }
  ZrRDFileReader reader(argv[1]);
  if (!reader.isOpen() || ZnMessages.errorPending()) {
    ZnFlushMessages();
    return 1;
  }
  ZrRDFrame frame;
  int frames = 0;
  long globs = 0;
  while (reader.readNextFrame(frame)) {
    ++frames;
    globs += frame.totalGlobCount();
  }
  // The read that fails at the end of the data is how every file ends.
  if (!reader.atEndOfData()) {
    ZnFlushMessages();
    return 1;
  }
  ZnClearMessages();
  std::printf("%s, %d cameras, header %d frames, read %d frames with %ld globs\n",
              reader.isBinary() ? "binary" : "text", reader.cameraCount(), reader.frameCount(),
              frames, globs);
  return 0;
}
