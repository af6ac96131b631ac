// tcl_compat.h - what differs between the Tcl/Tk 8.6 and 9 headers the
// same sources are compiled against.
#pragma once

#include <tcl.h>

// Tcl 9 counts words and bytes with Tcl_Size; Tcl 8.6 has no such type
// and uses int.
#ifndef TCL_SIZE_MAX
typedef int Tcl_Size;
#endif
