#include "allocationwatch.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace testutil {

namespace {
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};
}  // namespace

AllocationWatch::AllocationWatch() {
  g_largest = 0;
  g_watching = true;
}
AllocationWatch::~AllocationWatch() {
  g_watching = false;
}
size_t AllocationWatch::largest() const {
  return g_largest;
}

}  // namespace testutil

// Every allocation of the test programs passes here, so that AllocationWatch sees the sizes the
// code under test asks for. malloc and free on both sides keep sanitizers' pairing checks happy.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // malloc'd by the new above
#endif
void* operator new(size_t size) {
  if (testutil::g_watching && size > testutil::g_largest) testutil::g_largest = size;
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
