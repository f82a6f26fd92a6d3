// The largest single allocation made through operator new while the watch lives, how many were
// made, and a failure on demand. The program that links it (dovrel_allocationwatch) has every
// operator new and delete replaced.
#pragma once

#include <cstddef>

namespace testutil {

class AllocationWatch {
 public:
  AllocationWatch();
  ~AllocationWatch();
  size_t largest() const;
  size_t count() const;          // allocations since the watch began
  void FailAllocation(size_t n);  // the n-th allocation from now (0: the next) throws bad_alloc
};

}  // namespace testutil
