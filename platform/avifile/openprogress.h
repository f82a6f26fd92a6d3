// The open's progress callback that AVIFileSetOpenProgress registers, for the readers that read a
// whole file to index it.
#pragma once

#include <cstdint>

// Tells the callback, if one is set, that done of total bytes are read; false when it cancels.
bool ReportOpenProgress(uint64_t done, uint64_t total);
