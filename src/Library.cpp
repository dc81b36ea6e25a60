// The library's entry point and its class registry records.
//
// The records are defined together here, in the order the framework expects
// them (DiskFile, then MultiFile, then ResourceFile, then HttpFile), so that the order does
// not depend on the order in which the objects are linked. Static
// initialisation constructs them in that order when the library is loaded,
// and destroys them in reverse order when it is unloaded.
#include "backends/DiskFile.h"
#include "backends/HttpFile.h"
#include "backends/ResourceFile.h"
#include "multifile/MultiFile.h"

#if defined(_WIN32)
#include <windows.h>
#endif

RTTIClass DiskFile::rtti_for_DiskFile(String("DiskFile"), DiskFile::rtti_CreateDiskFile,
                                      DiskFile::rtti_ImplementsInterfaceDiskFile);
RTTIClass MultiFile::rtti_for_MultiFile(String("MultiFile"), MultiFile::rtti_CreateMultiFile,
                                        MultiFile::rtti_ImplementsInterfaceMultiFile);
RTTIClass ResourceFile::rtti_for_ResourceFile(String("ResourceFile"),
                                              ResourceFile::rtti_CreateResourceFile,
                                              ResourceFile::rtti_ImplementsInterfaceResourceFile);
RTTIClass HttpFile::rtti_for_HttpFile(String("HttpFile"), HttpFile::rtti_CreateHttpFile,
                                      HttpFile::rtti_ImplementsInterfaceHttpFile);

#if defined(RXMFILES_STATIC)
// A program linked with the static archive may name nothing defined here and
// still look the records up (RTTIClass::Find("DiskFile")); the package makes
// it name this symbol as undefined (--undefined, see src/CMakeLists.txt), so
// that the linker takes this object, and the records with it.
extern "C" const int rxmfiles_class_records = 4;
#endif

#if defined(_WIN32) && !defined(RXMFILES_STATIC)
// Loading needs nothing beyond static initialisation.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
#endif
