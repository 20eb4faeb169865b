// Processor time used by this process, for tests that bound how much work
// something takes. Wall time would measure the machine: the tests share
// two cores with parallel builds, and a test then waits far longer than it
// works.
#pragma once

#include <ctime>

namespace vellox_test {

inline double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace vellox_test
