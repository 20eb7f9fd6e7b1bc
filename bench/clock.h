#pragma once

#include <ctime>

// Monotonic nanoseconds. CLOCK_MONOTONIC is one clock for the whole machine, so a time taken
// in the benchmark's driver and one taken in the program it started can be subtracted.
inline long long monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

// CPU time the whole process has used so far, all threads, user and system.
inline long long processCpuNs() {
  timespec used{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
  return used.tv_sec * 1'000'000'000LL + used.tv_nsec;
}
