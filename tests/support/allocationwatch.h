// The largest single allocation made through operator new while the watch lives. The program
// that links it (dovrel_allocationwatch) has every operator new and delete replaced.
#pragma once

#include <cstddef>

namespace testutil {

class AllocationWatch {
 public:
  AllocationWatch();
  ~AllocationWatch();
  size_t largest() const;
};

}  // namespace testutil
