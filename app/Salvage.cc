#include "app/Salvage.h"

#include "app/FrameCountRepair.h"

int SalvageRecording(const char* program, const char* path) {
  // For now the repair; the salvage proper follows.
  return RepairFrameCount(program, path);
}
