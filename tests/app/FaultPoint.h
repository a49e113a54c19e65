// A fault at an exact byte of a run, raised by the fault-injection library
// (tools/faultpoint.cc, whose header describes it) preloaded into the program
// the test runs: what to add to the run's environment, and the library's
// report of where the fault fired, so that a test proves the fault happened
// at the point it claims before it judges what followed.
//
// The object owns a scratch directory for the report and removes it.
#ifndef HDRMEND_TESTS_APP_FAULTPOINT_H_
#define HDRMEND_TESTS_APP_FAULTPOINT_H_

#include <string>
#include <vector>

#include "support/TestSupport.h"

class FaultPoint {
 public:
  // Raises `signal` in the process whose executable's base name is `program`
  // once it has written `bytes` bytes to files whose path contains
  // `pathPart`.
  FaultPoint(const std::string& program, const std::string& pathPart, long long bytes, int signal);
  FaultPoint(const FaultPoint&) = delete;
  FaultPoint& operator=(const FaultPoint&) = delete;

  // NAME=value entries for CommandOptions::env: the library preloaded, its
  // settings, and the option a sanitizer build needs to accept the preload
  // (added to what ASAN_OPTIONS holds here).
  std::vector<std::string> environment() const;
  // The report's lines so far, "fired <bytes>\n" for each process the fault
  // fired in; "" while it has not fired.
  std::string report() const;
  // The report of one firing at the point asked for.
  std::string firedHere() const { return "fired " + std::to_string(bytes_) + "\n"; }

 private:
  testsupport::TempDir dir_;
  std::string program_;
  std::string pathPart_;
  long long bytes_;
  int signal_;
};

#endif  // HDRMEND_TESTS_APP_FAULTPOINT_H_
