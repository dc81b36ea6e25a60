// The modern face alone, built against the installed package: <rxm/rxm.hpp>
// brings neither <windows.h> nor the framework's classes.
#include <rxm/rxm.hpp>

#if defined(_WINDOWS_) || defined(_WINDOWS_H) || defined(RXMFILES_FRAMEWORK_BASEOBJECT_H) || \
    defined(RXMFILES_FRAMEWORK_STRING_H) || defined(RXMFILES_FRAMEWORK_POINTER_H) ||         \
    defined(RXMFILES_FILES_KYFILE_H) || defined(RXMFILES_SEARCHPATH_SEARCHPATH_H)
#error "<rxm/rxm.hpp> must include neither <windows.h> nor the framework's classes"
#endif

#include <string>

// Writes an archive of one entry at `path`, then finds and reads it back;
// "" when it holds what was written, otherwise what went wrong.
std::string ModernRoundTrip(const std::string& path) {
  try {
    rxm::ArchiveWriter writer(path);
    writer.add_bytes("Hello.txt", std::string_view("modern"));
    writer.commit();
    const rxm::Archive archive = rxm::Archive::open(path);
    std::string names;
    for (const rxm::Entry& entry : archive) {
      names += entry.name;
    }
    if (names != "Hello.txt" || !archive.find("HELLO.TXT")) {
      return "wrong directory: " + names;
    }
    archive.read("nope.txt");
    return "no failure for a missing entry";
  } catch (const rxm::Error& error) {
    if (error.code() != RXM::ErrorCode::kNoSuchEntry) {
      return error.what();
    }
  }
  return "";
}
