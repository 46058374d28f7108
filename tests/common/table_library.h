// The shared library loaded into the test program, so that lookups by its
// module name find its message table (on Win32 only the DLL carries it).
#pragma once
#include "platform/module.h"

inline bool LoadTableLibrary() {
    static plat::Library library(plat::SharedLibraryFileName("Pellux_noDB"));
    return library.IsLoaded();
}
