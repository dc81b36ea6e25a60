// Archives read over HTTP: opened through an HttpFile, mounted in a search
// path, read from many threads at once, and damaged as the hostile corpus is.
#include <gtest/gtest.h>

#include "remote/RemoteServers.h"

namespace {}  // namespace
