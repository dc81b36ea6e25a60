// RXMFiles: every public class and function of the library.
#ifndef RXMFILES_H
#define RXMFILES_H

#include "framework/BaseObject.h"
#include "framework/CTPointer.h"
#include "framework/Debugger.h"
#include "framework/Exception.h"
#include "framework/Pointer.h"
#include "framework/RTTI.h"
#include "framework/RTTIClass.h"
#include "framework/String.h"

#include "files/KYFile.h"
#include "files/Status.h"
#include "files/StringSerialization.h"

#include "backends/DiskFile.h"
#include "backends/HttpFile.h"
#include "backends/ResourceFile.h"
#include "backends/ResourceModule.h"
#include "backends/ResourceTypes.h"

#include "multifile/ArchiveFinding.h"
#include "multifile/DirectoryRecord.h"
#include "multifile/MultiFile.h"
#include "multifile/MultiFileElement.h"
#include "multifile/MultiFileWriter.h"
#include "multifile/PointerArray.h"
#include "multifile/PointerCollection.h"

#include "remote/RemoteOptions.h"

#include "searchpath/SearchPath.h"

#endif  // RXMFILES_H
