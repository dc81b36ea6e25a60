// The nearest word to a mistyped one: `kymf lst` is answered with "did you
// mean 'list'?".
#ifndef KYMF_SUPPORT_SUGGESTION_H
#define KYMF_SUPPORT_SUGGESTION_H

#include <cstddef>
#include <string>
#include <vector>

namespace kymf {

// The number of one-character edits (insert, delete, replace, swap two
// neighbours) that make `a` into `b`.
std::size_t EditDistance(const std::string& a, const std::string& b);

// The word of `words` nearest to `word`: at most two edits away, and fewer
// than `word` has characters (so a short word is not everything's
// neighbour); the first of equally near ones. "" when none is near.
std::string NearestWord(const std::string& word, const std::vector<std::string>& words);

}  // namespace kymf

#endif  // KYMF_SUPPORT_SUGGESTION_H
