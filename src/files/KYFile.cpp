#include "files/KYFile.h"

KYFile::~KYFile() = default;
