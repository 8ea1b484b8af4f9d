// Out-of-memory on demand for tests of code that allocates with
// new (std::nothrow). A test program that lists failing_allocations.cpp among
// its sources gets replacements of those two operators that fail the next few
// allocations on request. Memory still comes from the ordinary operators, so
// the matching delete (and AddressSanitizer's bookkeeping) stays right.
// For the test's main thread.
#ifndef VIRELAN_TESTS_COMMON_FAILING_ALLOCATIONS_H
#define VIRELAN_TESTS_COMMON_FAILING_ALLOCATIONS_H

namespace testing_support {

extern int nothrow_failures_left;

// The next `n` nothrow allocations fail while the object lives.
class failing_allocations {
 public:
  explicit failing_allocations(int n) { nothrow_failures_left = n; }
  ~failing_allocations() { nothrow_failures_left = 0; }
  // How many of the failures were not used up.
  int left() const { return nothrow_failures_left; }
};

}  // namespace testing_support

#endif  // VIRELAN_TESTS_COMMON_FAILING_ALLOCATIONS_H
