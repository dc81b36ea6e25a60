#include "support/Suggestion.h"

#include <algorithm>

namespace kymf {

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    for (std::size_t j = 0; j <= b.size(); ++j) {
      if (i == 0 || j == 0) {
        d[i][j] = i + j;
        continue;
      }
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string NearestWord(const std::string& word, const std::vector<std::string>& words) {
  const std::string* best = nullptr;
  std::size_t nearest = 3;
  for (const std::string& candidate : words) {
    const std::size_t distance = EditDistance(word, candidate);
    if (distance < nearest && distance < word.size()) {
      nearest = distance;
      best = &candidate;
    }
  }
  return best == nullptr ? std::string() : *best;
}

}  // namespace kymf
