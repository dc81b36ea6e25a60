// Entry names under the case fold, folded once.
#ifndef RXMFILES_MULTIFILE_FOLDEDNAMES_H
#define RXMFILES_MULTIFILE_FOLDEDNAMES_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace RXM {
namespace multifile {

// Names that compare as the archive compares them (FoldByte, ArchiveFormat.h),
// each folded once into one buffer. Sorting or searching many names then
// compares plain bytes: folding at each comparison would fold every name once
// per comparison it takes part in, and a set of folded strings costs an
// allocation or two per name. A view compares as unsigned bytes, a prefix
// first: the order of the folded byte strings.
class FoldedNames {
 public:
  // Room for `names` names of `bytes` bytes in all (a hint).
  void Reserve(std::size_t names, std::size_t bytes);

  // Appends the fold of the `length` bytes at `name` as the next name
  // (numbered from 0 in the order added).
  void Add(const char* name, std::size_t length);

  // Name number `i`, folded; valid until the next Add.
  std::string_view operator[](std::size_t i) const {
    const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : bytes.size();
    return std::string_view(bytes).substr(starts[i], end - starts[i]);
  }

  // Every name's number, sorted by folded name, equal names by number.
  std::vector<int> SortedOrder() const;

 private:
  std::string bytes;
  std::vector<std::size_t> starts;  // where each name begins in `bytes`
};

}  // namespace multifile
}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_FOLDEDNAMES_H
