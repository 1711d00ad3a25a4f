// What the plain benchmark programs share: percentiles of a set of samples,
// one line of results, and the samples written out for tarvexctl histogram.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace tarvex::bench {

struct Summary {
  std::size_t count = 0;
  double min = 0, median = 0, p99 = 0, p999 = 0, max = 0;
};

inline Summary summarize(std::vector<double> samples) {
  Summary s;
  if (samples.empty()) return s;
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) {
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * static_cast<double>(samples.size())))];
  };
  s.count = samples.size();
  s.min = samples.front();
  s.median = at(0.5);
  s.p99 = at(0.99);
  s.p999 = at(0.999);
  s.max = samples.back();
  return s;
}

// One value per line, for `tarvexctl histogram`.
inline bool writeSamples(const std::string& file, const std::vector<double>& samples) {
  std::FILE* f = std::fopen(file.c_str(), "w");
  if (f == nullptr) return false;
  for (double v : samples) std::fprintf(f, "%.3f\n", v);
  return std::fclose(f) == 0;
}

}  // namespace tarvex::bench
