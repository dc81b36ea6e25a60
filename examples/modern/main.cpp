// examples/modern/main.cpp
// Lists an archive and prints one of its entries, with <rxm/rxm.hpp>.
//   modern ARCHIVE [ENTRY]
#include <rxm/rxm.hpp>

#include <iostream>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: modern ARCHIVE [ENTRY]\n";
    return 2;
  }
  try {
    const rxm::Archive archive = rxm::Archive::open(argv[1]);  // a path or a URL
    for (const rxm::Entry& entry : archive) {                  // in directory order
      std::cout << entry.name << " (" << entry.size << " bytes)\n";
    }
    if (argc > 2) {
      std::cout << archive.read_text(argv[2]);  // ASCII case ignored
    }
  } catch (const rxm::Error& error) {  // every failure: a code and a reason
    std::cerr << "modern: " << error.what() << "\n";
    return error.code() == RXM::ErrorCode::kNoSuchEntry ? 3 : 1;
  }
  return 0;
}
