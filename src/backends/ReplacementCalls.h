// The real calls behind the seam's entries for replacing an archive
// (SystemCalls.h says what each does); only SystemCalls.cpp's table uses
// them.
#ifndef RXMFILES_BACKENDS_REPLACEMENTCALLS_H
#define RXMFILES_BACKENDS_REPLACEMENTCALLS_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "backends/SystemCalls.h"

namespace RXM {
namespace sys {
namespace replacing {

int ResolveLinks(const char* path, std::string* target);
int CheckWritable(const char* path);
Handle OpenLock(const char* path);
int TryLock(Handle handle);
int Unlock(Handle handle);
void Pause(std::uint32_t milliseconds);
std::FILE* CreateTemporary(const char* prefix, std::string* name);
int RemoveAbandoned(const char* path);
int PlaceNew(const char* from, const char* to);
int CopyAttributes(const char* model, std::FILE* stream);
std::uint64_t CopyRange(Handle from, std::uint64_t offset, std::uint64_t size, std::FILE* to);

}  // namespace replacing
}  // namespace sys
}  // namespace RXM

#endif  // RXMFILES_BACKENDS_REPLACEMENTCALLS_H
