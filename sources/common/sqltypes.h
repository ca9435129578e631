// SQL type names of the system type ids stored in column rows. Both page formats share the
// ids of SQL Server 2000; the 2005-2008 format adds the date and time types, xml and the
// CLR types.
#pragma once

#include "platform/cstring.h"
#include "platform/types.h"

// The type name of a system type id; empty for an id the format does not have.
// `laterTypes`: also the ids SQL Server 2005 and 2008 added.
CString SqlTypeName(BYTE systemTypeId, bool laterTypes);
