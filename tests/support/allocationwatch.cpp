#include "allocationwatch.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace testutil {

namespace {
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};
std::atomic<size_t> g_count{0};
std::atomic<size_t> g_failAt{SIZE_MAX};  // the count at which an allocation throws
}  // namespace

AllocationWatch::AllocationWatch() {
  g_largest = 0;
  g_count = 0;
  g_failAt = SIZE_MAX;
  g_watching = true;
}
AllocationWatch::~AllocationWatch() {
  g_watching = false;
  g_failAt = SIZE_MAX;
}
size_t AllocationWatch::largest() const {
  return g_largest;
}
size_t AllocationWatch::count() const {
  return g_count;
}
void AllocationWatch::FailAllocation(size_t n) {
  g_failAt = g_count + n;
}

}  // namespace testutil

// Every allocation of the test programs passes here, so that AllocationWatch sees the sizes the
// code under test asks for. malloc and free on both sides keep sanitizers' pairing checks happy.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // malloc'd by the new above
#endif
void* operator new(size_t size) {
  if (testutil::g_watching) {
    if (size > testutil::g_largest) testutil::g_largest = size;
    if (testutil::g_count++ == testutil::g_failAt) {
      testutil::g_failAt = SIZE_MAX;
      throw std::bad_alloc();
    }
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  return ::operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
