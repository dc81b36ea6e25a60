#include "multifile/FoldedNames.h"

#include <algorithm>

#include "multifile/ArchiveFormat.h"

namespace RXM {
namespace multifile {

void FoldedNames::Reserve(std::size_t names, std::size_t totalBytes) {
  starts.reserve(names);
  bytes.reserve(totalBytes);
}

void FoldedNames::Add(const char* name, std::size_t length) {
  starts.push_back(bytes.size());
  for (std::size_t k = 0; k < length; ++k) {
    bytes.push_back(static_cast<char>(FoldByte(static_cast<unsigned char>(name[k]))));
  }
}

std::vector<int> FoldedNames::SortedOrder() const {
  std::vector<int> order(starts.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    order[i] = static_cast<int>(i);
  }
  std::sort(order.begin(), order.end(), [this](int a, int b) {
    const int compared =
        (*this)[static_cast<std::size_t>(a)].compare((*this)[static_cast<std::size_t>(b)]);
    return compared != 0 ? compared < 0 : a < b;
  });
  return order;
}

}  // namespace multifile
}  // namespace RXM
