#include "app/FaultPoint.h"

#include <cstdlib>

FaultPoint::FaultPoint(const std::string& program, const std::string& pathPart, long long bytes,
                       int signal)
    : program_(program), pathPart_(pathPart), bytes_(bytes), signal_(signal) {}

std::vector<std::string> FaultPoint::environment() const {
  const char* asan = getenv("ASAN_OPTIONS");
  const char* preload = getenv("LD_PRELOAD");
  return {
      "LD_PRELOAD=" + std::string(HDRMEND_FAULTPOINT) +
          (preload != nullptr && *preload != '\0' ? ":" + std::string(preload) : ""),
      "FAULTPOINT_PROGRAM=" + program_,
      "FAULTPOINT_PATH=" + pathPart_,
      "FAULTPOINT_BYTES=" + std::to_string(bytes_),
      "FAULTPOINT_SIGNAL=" + std::to_string(signal_),
      "FAULTPOINT_REPORT=" + dir_ / "report",
      // AddressSanitizer wants its runtime loaded first; the library comes
      // first instead, and works all the same.
      "ASAN_OPTIONS=" + (asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
          "verify_asan_link_order=0",
  };
}

std::string FaultPoint::report() const { return testsupport::ReadFile(dir_ / "report"); }
