// writeby: copies a file to one or more targets through one chosen system
// call, for the tests of the fault-injection library (faultpoint.cc), which
// must count the bytes of every call that writes.
//
//   writeby CALL CLOSE CHUNK SOURCE TARGET...
//
// CALL is write, writev, pwrite, pwrite64, pwritev, pwritev64, pwritev2 or
// copy_file_range; each target gets all of SOURCE in calls of at most CHUNK
// bytes (vector calls split each call's bytes over three buffers). The
// targets are created or truncated, mode 0600, one after the other on the same
// descriptor number; CLOSE says how the last one's descriptor goes before the
// next is opened: "close", "fclose" (the target was opened through stdio), or
// "dup2" (the next target's descriptor is moved onto the same number, which
// closes the old file without a call to close).
//
// CALL linkat makes each target a hard link to SOURCE instead (CLOSE and CHUNK
// are not used).
//
// Exit status 0 when every target was written whole; 1, with a message on
// standard error, when a call failed or the arguments are wrong.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Fail(const std::string& what) {
  fprintf(stderr, "writeby: %s: %s\n", what.c_str(), strerror(errno));
  return 1;
}

bool ReadAll(const char* path, std::string* data) {
  FILE* in = fopen(path, "rb");
  if (in == nullptr) return false;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) data->append(buffer, n);
  bool ok = !ferror(in);
  fclose(in);
  return ok;
}

// One call for `size` bytes at `offset` of the data; what the call returns.
ssize_t WriteOnce(const std::string& call, int fd, int source, const std::string& data,
                  size_t offset, size_t size) {
  const char* at = data.data() + offset;
  // Three uneven buffers, the first of them empty when size < 3.
  struct iovec parts[3] = {
      {const_cast<char*>(at), size / 3},
      {const_cast<char*>(at + size / 3), size / 2},
      {const_cast<char*>(at + size / 3 + size / 2), size - size / 3 - size / 2}};
  const off_t position = static_cast<off_t>(offset);
  if (call == "write") return write(fd, at, size);
  if (call == "writev") return writev(fd, parts, 3);
  if (call == "pwrite") return pwrite(fd, at, size, position);
  if (call == "pwrite64") return pwrite64(fd, at, size, position);
  if (call == "pwritev") return pwritev(fd, parts, 3, position);
  if (call == "pwritev64") return pwritev64(fd, parts, 3, position);
  if (call == "pwritev2") return pwritev2(fd, parts, 3, -1, 0);
  if (call == "copy_file_range") {
    off64_t from = position;
    off64_t to = position;
    return copy_file_range(source, &from, fd, &to, size, 0);
  }
  errno = EINVAL;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: writeby CALL close|fclose|dup2 CHUNK SOURCE TARGET...\n");
    return 1;
  }
  const std::string call = argv[1];
  const std::string closing = argv[2];
  const size_t chunk = strtoul(argv[3], nullptr, 10);
  std::string data;
  if (chunk == 0 || !ReadAll(argv[4], &data)) return Fail(std::string("cannot read ") + argv[4]);
  const int source = open(argv[4], O_RDONLY | O_CLOEXEC);
  if (source < 0) return Fail(argv[4]);

  if (call == "linkat") {
    for (int t = 5; t < argc; ++t) {
      if (linkat(AT_FDCWD, argv[4], AT_FDCWD, argv[t], 0) != 0) {
        return Fail(std::string("linkat to ") + argv[t]);
      }
    }
    return 0;
  }
  int fd = -1;
  FILE* stream = nullptr;
  for (int t = 5; t < argc; ++t) {
    const char* target = argv[t];
    if (closing == "fclose") {
      if (stream != nullptr) fclose(stream);
      stream = fopen(target, "wb");
      if (stream == nullptr) return Fail(target);
      fd = fileno(stream);
    } else {
      const bool replace = closing == "dup2" && fd >= 0;
      if (!replace && fd >= 0) close(fd);
      int opened = open(target, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (opened < 0) return Fail(target);
      if (replace) {
        if (dup2(opened, fd) < 0) return Fail("dup2");
        close(opened);
      } else {
        fd = opened;
      }
    }
    for (size_t offset = 0; offset < data.size();) {
      const size_t size = data.size() - offset < chunk ? data.size() - offset : chunk;
      ssize_t written = WriteOnce(call, fd, source, data, offset, size);
      if (written <= 0) return Fail(call + " to " + target);
      offset += static_cast<size_t>(written);
    }
  }
  if (stream != nullptr) fclose(stream);
  return 0;
}
