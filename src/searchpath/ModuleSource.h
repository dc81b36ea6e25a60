// A Windows module's resources mounted into a SearchPath.
#ifndef RXMFILES_SEARCHPATH_MODULESOURCE_H
#define RXMFILES_SEARCHPATH_MODULESOURCE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "backends/ResourceModule.h"
#include "backends/System.h"
#include "searchpath/MountedSource.h"

namespace RXM {

// The resources of one module as files named "TYPE/NAME": a type by its
// Windows name where it has one ("RCDATA", "ICON", "VERSION", ...) and
// otherwise as the module stores it ("#300", "MYTYPE"), a name as the module
// stores it ("#101", "LOGO"). Names match without regard to the case of ASCII
// letters, as Windows matches resource names; of a resource stored in several
// languages, the one FindResourceA picks is served. A name that is no safe
// name (a "/" or "\" in it) is left out.
//
// The table is built once, when the module is mounted; streams read the
// resource's bytes inside the module's image, which stays loaded as long as a
// stream over it lives.
class ModuleSource : public MountedSource, public std::enable_shared_from_this<ModuleSource> {
 public:
  // The module at `path`, read through `system` (which must outlive it);
  // null when it cannot be loaded, with LoadResourceModule's reason in `why`.
  static std::shared_ptr<const ModuleSource> Load(const std::string& path, sys::System& system,
                                                  Status& why);
  ModuleSource(HINSTANCE loaded, std::string path);
  ~ModuleSource() override;

  Pointer<KYFile> Open(const std::string& name, Status& why) const override;
  // A resource "TYPE/NAME" is a file; each resource type is a folder.
  SourceStat Stat(const std::string& name, Status& why) const override;
  void List(const std::string& folder, Listing& names) const override;

 private:
  struct Resource {
    std::string name;  // "TYPE/NAME" as listed
    const std::uint8_t* bytes;
    std::uint32_t size;
  };
  static void Collect(const ResourceInfo& info, void* context);
  const Resource* Find(const std::string& name) const;

  HINSTANCE module;
  std::shared_ptr<const std::string> origin;
  std::map<std::string, Resource> resources;  // by folded name
};

}  // namespace RXM

#endif  // RXMFILES_SEARCHPATH_MODULESOURCE_H
