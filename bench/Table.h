// Medians and the rows of the benchmark's table. scripts/bench prints the rows of the
// other bench programs in the same columns.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace kv::bench {

inline double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

inline std::string Number(double value, const char* unit, int decimals = 1) {
  if (value < 0) return "-";
  char text[48];
  std::snprintf(text, sizeof(text), "%.*f %s", decimals, value, unit);
  return text;
}

inline std::string Ratio(double service, double floor) {
  if (service < 0 || floor <= 0) return "-";
  char text[24];
  std::snprintf(text, sizeof(text), "%.2fx", service / floor);
  return text;
}

// measurement | service | floor | ratio | goal
inline void Row(const std::string& what, const std::string& service, const std::string& floor,
                const std::string& ratio, const std::string& goal) {
  std::printf("%-44s %14s %14s %8s  %s\n", what.c_str(), service.c_str(), floor.c_str(), ratio.c_str(), goal.c_str());
}

}  // namespace kv::bench
