// A thousand open / fetch / close cycles per codec must not grow the heap, and every instance's
// end must give back its use of the library. Under AddressSanitizer the allocator's own count
// is used (and LeakSanitizer checks what is left at exit); otherwise glibc's, which is exact
// only with its per-thread cache off (GLIBC_TUNABLES=glibc.malloc.tcache_count=0, as ctest
// runs it): cached free blocks count as in use.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>

#include "classBMPAVI.h"
#include "devicecontext.h"
#include "testutil.h"

#if defined(__SANITIZE_ADDRESS__)
#define DOVREL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DOVREL_ASAN 1
#endif
#endif
#ifdef DOVREL_ASAN
// From the sanitizer runtime (gcc ships no header for it): bytes the program holds.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// Bytes a run may grow by once warm: less than one leaked block a cycle.
int64_t Slack() {
#ifndef DOVREL_ASAN
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (!tunables || !std::strstr(tunables, "tcache_count=0")) return 256 << 10;  // the cache's noise
#endif
  return 4096;
}

int64_t HeapInUse() {
#ifdef DOVREL_ASAN
  return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
  struct mallinfo2 m = mallinfo2();
  return static_cast<int64_t>(m.uordblks + m.hblkhd);
#endif
}

// One viewer-like visit: open, a few steps forward and back in both views, paint, end.
void Cycle(const std::string& path, int frames) {
  testutil::MessageRecorder shown;
  {
    classBMPAVI source;
    ASSERT_EQ(source.GetEnable(path), kFalse);
    DeviceContext dc(64, 48);
    for (int32_t pos : {frames - 1, 1, 0, frames / 2}) {
      source.GetDIBAVI(pos);
      source.SeparateDIB(static_cast<int16_t>(pos & 1));
      source.PutToDC(&dc, 0, 20, 720, 480);
    }
    // A failed open on the same instance releases as much as a successful one.
    ASSERT_EQ(source.GetEnable(path + ".missing"), kTrue);
  }
  ASSERT_EQ(AVIFileUseCount(), 0);
}

void NoGrowth(const std::string& path, int frames, int cycles) {
  {  // The measure sees a block that is held.
    const int64_t empty = HeapInUse();
    auto* held = static_cast<volatile uint8_t*>(std::malloc(100000));
    held[0] = 1;
    ASSERT_GE(HeapInUse() - empty, 100000);
    std::free(const_cast<uint8_t*>(held));
  }
  for (int i = 0; i < 20; ++i) ASSERT_NO_FATAL_FAILURE(Cycle(path, frames));  // caches and tables
  const int64_t before = HeapInUse();
  for (int i = 0; i < cycles; ++i) ASSERT_NO_FATAL_FAILURE(Cycle(path, frames));
  const int64_t growth = HeapInUse() - before;
  EXPECT_LT(growth, Slack()) << growth << " bytes more after " << cycles << " cycles";
}

constexpr int kCycles = 1000;
#ifdef DOVREL_ASAN
constexpr int kDvCycles = 300;  // a 720 x 480 decode each step; LeakSanitizer sees the rest
#else
constexpr int kDvCycles = kCycles;
#endif

}  // namespace

TEST(Leaks, RawCycles) {
  testutil::TempDir dir;
  testutil::WritePatternClip(dir.File("raw.avi"), 16, 8, 5);
  NoGrowth(dir.File("raw.avi"), 5, kCycles);
}

TEST(Leaks, DvCycles) {
  testutil::TempDir dir;
  const std::string path = dir.File("dv.avi");
  ASSERT_TRUE(
      testutil::MakeFfmpegClip(path, 720, 480, 2, {"-c:v", "dvvideo", "-pix_fmt", "yuv411p"}));
  NoGrowth(path, 2, kDvCycles);
}

TEST(Leaks, MjpegCycles) {
  testutil::TempDir dir;
  const std::string path = dir.File("mjpeg.avi");
  ASSERT_TRUE(testutil::MakeFfmpegClip(path, 32, 16, 5, {"-c:v", "mjpeg", "-q:v", "5"}));
  NoGrowth(path, 5, kCycles);
}

TEST(Leaks, Mpeg4Cycles) {
  testutil::TempDir dir;
  const std::string path = dir.File("mpeg4.avi");
  ASSERT_TRUE(testutil::MakeFfmpegClip(path, 32, 32, 9, {"-c:v", "mpeg4", "-bf", "2", "-g", "4"}));
  NoGrowth(path, 9, kCycles);
}
