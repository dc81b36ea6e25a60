// What both front ends of the module reader share: reading a module's file
// through the system-call seam, the reasons they give, and the listing of a
// resource tree.
#ifndef RXMFILES_BACKENDS_RESOURCEMODULEFILE_H
#define RXMFILES_BACKENDS_RESOURCEMODULEFILE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "backends/ResourceModule.h"
#include "backends/ResourceTree.h"
#include "backends/System.h"
#include "files/Status.h"

namespace RXM {

// "<file>: <what the code means>", then ": <reason>" when there is one.
Status ModuleStatus(ErrorCode code, const std::string& file, const std::string& reason = "");

// Reads the file at `path` into `bytes` through `system`, whole or (past
// kLargestModule) as far as needed to refuse it. kOk; or why it cannot be
// opened (RXM::OpenFailure: kNoSuchFile, kIsAFolder, kCannotOpen with the
// system's reason), or kCannotOpen "read failed".
Status ReadModuleFile(sys::System& system, const char* path, std::vector<std::uint8_t>& bytes);

// Lists the resources of `tree` for ListResources. The tree is walked whole
// first; `bytesAt` gives the bytes of a resource's RVA and size, or null when
// the module does not hold them all. When part of the tree is damaged or a
// resource's bytes are missing, nothing is visited, the result is -1 and
// `fault` says why. Otherwise `visit` is called for each resource of
// `language` (kAnyLanguage: every one) and the result is how many.
using BytesAt = std::function<const std::uint8_t*(std::uint32_t rva, std::uint32_t size)>;
int ListTree(const ResourceTree& tree, ResourceTree::Shared shared, const BytesAt& bytesAt,
             int language, void (*visit)(const ResourceInfo& info, void* context), void* context,
             std::string& fault);

}  // namespace RXM

#endif  // RXMFILES_BACKENDS_RESOURCEMODULEFILE_H
