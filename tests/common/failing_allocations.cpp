#include "common/failing_allocations.h"

#include <cstddef>
#include <new>

namespace testing_support {
int nothrow_failures_left = 0;
}

void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
  if (testing_support::nothrow_failures_left > 0) {
    --testing_support::nothrow_failures_left;
    return nullptr;
  }
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
  if (testing_support::nothrow_failures_left > 0) {
    --testing_support::nothrow_failures_left;
    return nullptr;
  }
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}
