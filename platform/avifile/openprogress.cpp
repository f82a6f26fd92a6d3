#include "openprogress.h"

#include "avifile.h"

namespace {
AVIOPENPROGRESS g_callback = nullptr;
void* g_context = nullptr;
}  // namespace

void AVIFileSetOpenProgress(AVIOPENPROGRESS callback, void* context) {
  g_callback = callback;
  g_context = context;
}

bool ReportOpenProgress(uint64_t done, uint64_t total) {
  return !g_callback || g_callback(g_context, done, total);
}
