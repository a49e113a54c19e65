#include "foundation/ZnArray.h"

#include <cstdlib>
#include <iostream>

// The heap is exhausted, so nothing here may allocate: std::cerr is unbuffered
// and the numbers are formatted by the stream itself.
void ZnArrayReportAllocationFailure(long long count, long long bytes) {
  std::cerr << "\n"
            << "Unable to allocate memory!\n"
            << "Attempted to allocate " << count << " elements, total size: " << bytes << ".\n"
            << "\n";
  abort();
}
