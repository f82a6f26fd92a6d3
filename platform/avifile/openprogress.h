// How far a long open has read, told to the callback the caller set with
// AVIFileSetOpenProgress. Readers that index a file call this now and then.
#pragma once

#include <cstdint>

// done of total bytes; false when the callback asks to cancel (true when none is set).
bool ReportOpenProgress(uint64_t done, uint64_t total);
