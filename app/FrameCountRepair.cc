#include "app/FrameCountRepair.h"

#include <iostream>

int RepairFrameCount(const char* /*program*/, const char* /*path*/) {
  std::cerr << "\n\nERROR: The frame-count repair is not available yet.\n\n";
  return 1;
}
