// libfaultpoint.so: a fault at an exact byte of what a program writes.
//
// Loaded into a program with LD_PRELOAD, the library counts the bytes the
// program writes to the files whose path holds a given text, and raises a
// signal in the program the moment that count reaches a threshold. Tests use
// it to stop, kill or interrupt a run at a point they choose, in bytes rather
// than in time, so that the point is the same on any machine, however busy.
//
//   LD_PRELOAD=/path/to/libfaultpoint.so FAULTPOINT_PATH=... FAULTPOINT_BYTES=N PROGRAM ...
//
// Environment, read once per process, at its first write:
//   FAULTPOINT_PATH     required. A write counts when the path of its file
//                       descriptor, as readlink("/proc/self/fd/N") gives it,
//                       contains this text (a named pipe has its path; an
//                       anonymous pipe is "pipe:[inode]").
//   FAULTPOINT_BYTES    required. A decimal number, 0 or more. The fault fires
//                       once the bytes written to matching descriptors reach
//                       it. The write that crosses it is cut: exactly that
//                       many bytes are written, then the fault fires. With 0 it
//                       fires at the first write to a matching descriptor,
//                       before any of its bytes.
//   FAULTPOINT_SIGNAL   the signal raised at that point, as a number; default
//                       9 (SIGKILL). 15, 2 and 1 reach the program's handlers
//                       as SIGTERM, SIGINT and SIGHUP from outside would; 19
//                       (SIGSTOP) pauses it there, for the caller to act and
//                       then send SIGCONT or SIGKILL.
//   FAULTPOINT_PROGRAM  act only in a process whose /proc/self/exe has this
//                       base name (for example "hdrmend", or "gzip"); the
//                       others pass everything through. LD_PRELOAD and the
//                       environment reach every program the first one starts.
//   FAULTPOINT_LINKS    "refuse": every linkat() fails with EPERM, as
//                       fs.protected_hardlinks refuses a user a link to a
//                       file that is not theirs, for the way a program takes
//                       where it cannot link.
//   FAULTPOINT_REPORT   a file to which the process appends the line
//                       "fired <bytes>\n" just before it raises the signal,
//                       <bytes> being the count at that moment (the threshold).
//                       A test reads it to prove that the fault happened where
//                       it claims. Created with mode 0600 where missing.
//
// The fault fires at most once per process. If the process goes on (a
// stopping signal, or one it handles), the cut call carries on with the rest
// of its bytes and returns as if nothing had happened, unless the rest fails:
// then it returns the bytes it wrote before the fault. Everything written
// after the fault passes through uncounted, also from signal handlers.
//
// Interposed calls: write, writev, pwrite, pwrite64, pwritev, pwritev64,
// pwritev2 and copy_file_range (counted on the output descriptor, the data of
// a copy may go in that way); linkat, a link made to a new path (as given)
// that contains FAULTPOINT_PATH being a write of no bytes, so that with
// FAULTPOINT_BYTES 0 the fault fires right after the link is made; and close
// and fclose, which forget what was
// learned about a descriptor. A descriptor's path is looked up once and kept
// with the file's identity (device and inode), so a number reused for another
// file, after a close or a dup2 that bypassed the interposed calls, is looked
// up again. Calls made inside the C library (fwrite through stdio, for
// example) reach the kernel without passing here and are not counted.
//
// Failure: a missing FAULTPOINT_PATH or FAULTPOINT_BYTES leaves the library
// inert; a malformed number is reported once on standard error, and the
// library stays inert. A descriptor whose path cannot be read never matches.
// Writes from several threads at once may be counted out of order: meant for
// single-threaded programs.
//
// Sanitizer builds: AddressSanitizer insists on coming first among the loaded
// libraries; a program built with it needs verify_asan_link_order=0 in
// ASAN_OPTIONS to run with this library preloaded. The library itself is built
// without sanitizers, so that it loads into programs that have none.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// What is known of a descriptor: whether its path matched, and the file it
// was then, to notice when the number has come to mean another file.
struct Descriptor {
  bool known = false;
  bool matches = false;
  dev_t device = 0;
  ino_t inode = 0;
};

constexpr int kCachedDescriptors = 1024;

struct State {
  bool initialised = false;
  bool active = false;
  bool fired = false;
  bool refuseLinks = false;
  const char* pathPart = nullptr;
  long long threshold = 0;
  long long written = 0;  // to matching descriptors, up to the fault
  int signal = SIGKILL;
  const char* report = nullptr;
  Descriptor descriptors[kCachedDescriptors];
};

State state;

template <typename Function>
Function Real(Function* slot, const char* name) {
  if (*slot == nullptr) *slot = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
  return *slot;
}

ssize_t RealWrite(int fd, const void* data, size_t size) {
  static ssize_t (*real)(int, const void*, size_t);
  return Real(&real, "write")(fd, data, size);
}

// Reads a decimal number of 0 or more; false when the text is not one.
bool ParseCount(const char* text, long long* value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  long long parsed = strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *value = parsed;
  return true;
}

void Complain(const char* what, const char* text) {
  char line[512];
  int length =
      snprintf(line, sizeof line, "faultpoint: %s \"%s\" is not valid; no fault.\n", what, text);
  if (length > 0) RealWrite(2, line, strnlen(line, sizeof line));
}

bool ThisIsTheProgram(const char* program) {
  if (program == nullptr) return true;
  char exe[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (length <= 0) return false;
  exe[length] = '\0';
  const char* slash = strrchr(exe, '/');
  return strcmp(slash != nullptr ? slash + 1 : exe, program) == 0;
}

void Initialise() {
  if (state.initialised) return;
  state.initialised = true;
  const char* path = getenv("FAULTPOINT_PATH");
  const char* bytes = getenv("FAULTPOINT_BYTES");
  if (path == nullptr || bytes == nullptr || !ThisIsTheProgram(getenv("FAULTPOINT_PROGRAM"))) {
    return;
  }
  if (!ParseCount(bytes, &state.threshold)) return Complain("FAULTPOINT_BYTES", bytes);
  const char* signal = getenv("FAULTPOINT_SIGNAL");
  if (signal != nullptr) {
    long long number = 0;
    if (!ParseCount(signal, &number) || number < 1 || number >= NSIG) {
      return Complain("FAULTPOINT_SIGNAL", signal);
    }
    state.signal = static_cast<int>(number);
  }
  state.pathPart = path;
  state.report = getenv("FAULTPOINT_REPORT");
  const char* links = getenv("FAULTPOINT_LINKS");
  state.refuseLinks = links != nullptr && strcmp(links, "refuse") == 0;
  state.active = true;
}

bool PathMatches(int fd) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  ssize_t length = readlink(link, target, sizeof target - 1);
  if (length <= 0) return false;
  target[length] = '\0';
  return strstr(target, state.pathPart) != nullptr;
}

// Whether a write to `fd` is one to count.
bool Matches(int fd) {
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) return false;
  if (fd >= kCachedDescriptors) return PathMatches(fd);
  Descriptor& d = state.descriptors[fd];
  if (!d.known || d.device != status.st_dev || d.inode != status.st_ino) {
    d.known = true;
    d.matches = PathMatches(fd);
    d.device = status.st_dev;
    d.inode = status.st_ino;
  }
  return d.matches;
}

void Forget(int fd) {
  if (fd >= 0 && fd < kCachedDescriptors) state.descriptors[fd].known = false;
}

void Fire() {
  state.fired = true;
  if (state.report != nullptr) {
    int fd = open(state.report, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      char line[64];
      int length = snprintf(line, sizeof line, "fired %lld\n", state.written);
      RealWrite(fd, line, static_cast<size_t>(length));
      close(fd);
    }
  }
  raise(state.signal);
}

// Runs one interposed call that asks to write `requested` bytes to `fd`.
// `call(skip, limit)` makes the real call for at most `limit` of those bytes,
// starting `skip` bytes into them, and returns what it returns.
template <typename Call>
ssize_t Guarded(int fd, size_t requested, Call call) {
  Initialise();
  if (!state.active || state.fired || !Matches(fd)) return call(0, requested);
  const long long before = state.written;
  if (before + static_cast<long long>(requested) < state.threshold) {
    ssize_t result = call(0, requested);
    if (result > 0) state.written += result;
    return result;
  }
  const size_t cut = static_cast<size_t>(state.threshold - before);
  size_t done = 0;
  while (done < cut) {
    ssize_t result = call(done, cut - done);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) {
      // The threshold was not reached (a failed write, or a copy whose input
      // ended); what was written is the call's answer.
      state.written += static_cast<long long>(done);
      return done > 0 ? static_cast<ssize_t>(done) : result;
    }
    done += static_cast<size_t>(result);
  }
  state.written += static_cast<long long>(done);
  Fire();
  // Still running: a stopping signal, or one the program handles.
  if (done == requested) return static_cast<ssize_t>(done);
  ssize_t rest = call(done, requested - done);
  if (rest < 0) return done > 0 ? static_cast<ssize_t>(done) : rest;
  return static_cast<ssize_t>(done) + rest;
}

size_t Total(const struct iovec* iov, int count) {
  size_t total = 0;
  for (int i = 0; i < count; ++i) total += iov[i].iov_len;
  return total;
}

// The part [skip, skip + limit) of an I/O vector, in `part` (as many entries
// as the vector); the number of entries used.
int Slice(const struct iovec* iov, int count, size_t skip, size_t limit, struct iovec* part) {
  int used = 0;
  for (int i = 0; i < count && limit > 0; ++i) {
    size_t length = iov[i].iov_len;
    if (skip >= length) {
      skip -= length;
      continue;
    }
    size_t take = length - skip < limit ? length - skip : limit;
    part[used].iov_base = static_cast<char*>(iov[i].iov_base) + skip;
    part[used].iov_len = take;
    ++used;
    skip = 0;
    limit -= take;
  }
  return used;
}

// An I/O vector call through Guarded(): `call(part, used, skip)` writes the
// slice `part` that starts `skip` bytes into the whole.
template <typename Call>
ssize_t GuardedVector(int fd, const struct iovec* iov, int count, Call call) {
  if (count < 0 || count > IOV_MAX) return call(iov, count, 0);
  return Guarded(fd, Total(iov, count), [&](size_t skip, size_t limit) {
    if (skip == 0 && limit == Total(iov, count)) return call(iov, count, 0);
    struct iovec part[IOV_MAX];
    return call(part, Slice(iov, count, skip, limit, part), skip);
  });
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
  return Guarded(fd, size, [&](size_t skip, size_t limit) {
    return RealWrite(fd, static_cast<const char*>(data) + skip, limit);
  });
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
  static ssize_t (*real)(int, const struct iovec*, int);
  return GuardedVector(fd, iov, count, [&](const struct iovec* part, int used, size_t) {
    return Real(&real, "writev")(fd, part, used);
  });
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static ssize_t (*real)(int, const void*, size_t, off_t);
  return Guarded(fd, size, [&](size_t skip, size_t limit) {
    return Real(&real, "pwrite")(fd, static_cast<const char*>(data) + skip, limit,
                                 offset + static_cast<off_t>(skip));
  });
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset) {
  static ssize_t (*real)(int, const void*, size_t, off64_t);
  return Guarded(fd, size, [&](size_t skip, size_t limit) {
    return Real(&real, "pwrite64")(fd, static_cast<const char*>(data) + skip, limit,
                                   offset + static_cast<off64_t>(skip));
  });
}

ssize_t pwritev(int fd, const struct iovec* iov, int count, off_t offset) {
  static ssize_t (*real)(int, const struct iovec*, int, off_t);
  return GuardedVector(fd, iov, count, [&](const struct iovec* part, int used, size_t skip) {
    return Real(&real, "pwritev")(fd, part, used, offset + static_cast<off_t>(skip));
  });
}

ssize_t pwritev64(int fd, const struct iovec* iov, int count, off64_t offset) {
  static ssize_t (*real)(int, const struct iovec*, int, off64_t);
  return GuardedVector(fd, iov, count, [&](const struct iovec* part, int used, size_t skip) {
    return Real(&real, "pwritev64")(fd, part, used, offset + static_cast<off64_t>(skip));
  });
}

// An offset of -1 writes at the file position, which moves on by itself.
ssize_t pwritev2(int fd, const struct iovec* iov, int count, off_t offset, int flags) {
  static ssize_t (*real)(int, const struct iovec*, int, off_t, int);
  return GuardedVector(fd, iov, count, [&](const struct iovec* part, int used, size_t skip) {
    const off_t at = offset == -1 ? -1 : offset + static_cast<off_t>(skip);
    return Real(&real, "pwritev2")(fd, part, used, at, flags);
  });
}

// Both offsets, given or not, move on with every call, so each part of a cut
// copy starts where the last one ended.
ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t size,
                        unsigned int flags) {
  static ssize_t (*real)(int, off64_t*, int, off64_t*, size_t, unsigned int);
  return Guarded(out, size, [&](size_t, size_t limit) {
    return Real(&real, "copy_file_range")(in, inOffset, out, outOffset, limit, flags);
  });
}

int linkat(int fromDirectory, const char* from, int toDirectory, const char* to, int flags) {
  static int (*real)(int, const char*, int, const char*, int);
  Initialise();
  if (state.active && state.refuseLinks) {
    errno = EPERM;
    return -1;
  }
  const int result = Real(&real, "linkat")(fromDirectory, from, toDirectory, to, flags);
  if (result == 0 && state.active && !state.fired && state.threshold == 0 &&
      strstr(to, state.pathPart) != nullptr) {
    const int saved = errno;
    Fire();
    errno = saved;
  }
  return result;
}

int close(int fd) {
  static int (*real)(int);
  Forget(fd);
  return Real(&real, "close")(fd);
}

int fclose(FILE* stream) {
  static int (*real)(FILE*);
  if (stream != nullptr) Forget(fileno(stream));
  return Real(&real, "fclose")(stream);
}

}  // extern "C"
