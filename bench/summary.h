#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

// The median, minimum and maximum of a benchmark's samples, as both benchmarks' tables print
// them.
struct Summary {
  double median = 0, min = 0, max = 0;
};

// No sample at all ends the benchmark: a table of nothing would read as a result.
inline Summary summarise(std::vector<double> values) {
  if (values.empty()) {
    std::fprintf(stderr, "bench: no samples\n");
    std::exit(1);
  }
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {median, values.front(), values.back()};
}
