// Exceptions that cross the boundary of Pellux_noDB on 32-bit Windows.
//
// Every PE of the family carries its own static copy of the DWARF unwinder
// (one self-contained file per deliverable), and each copy knows only the
// frames of its own module. A CAppException thrown inside the library and
// caught by a program would end in std::terminate. Each program therefore
// joins its unwinder with the library's when it starts: both copies learn the
// frames of both modules, and both have their register tables ready before
// the first throw. Including this header is all a program has to do; the
// framework's headers include it.
//
// 64-bit MinGW unwinds through the system's SEH tables instead (__SEH__),
// which every module shares already: there is nothing to join, and the
// DWARF entry points used here do not exist in its libgcc
// (common/CMakeLists.txt leaves unwind_join_win32.cpp out of that build).
#pragma once
#include "common/pellux_api.h"

#if defined(_WIN32) && !defined(__SEH__)
#include <unwind.h>

extern "C" {
struct PelluxFdeBases {
    void* tbase;
    void* dbase;
    void* func;
};
// The calling module's own unwinder entries (static libgcc).
void __register_frame_info(const void* begin, void* object);
const void* _Unwind_Find_FDE(void* pc, PelluxFdeBases* bases);

// Registers the frames of the module that holds `code` with the library's
// unwinder, and the library's frames with the caller's through `registerFn`.
// Returns 1 when joined, 0 when there was nothing to do (same module).
PELLUX_API int PelluxJoinUnwinder(void (*registerFn)(const void*, void*),
                                  const void* (*findFn)(void*, PelluxFdeBases*), void* code);
}

namespace pellux_unwind {
inline _Unwind_Reason_Code StopAtOnce(_Unwind_Context*, void*) { return _URC_END_OF_STACK; }
inline int Join() {
    // A walk fills this copy's register-size table, which a personality
    // routine of this module needs when the library's unwinder calls it.
    _Unwind_Backtrace(&StopAtOnce, nullptr);
    return PelluxJoinUnwinder(&__register_frame_info, &_Unwind_Find_FDE,
                              reinterpret_cast<void*>(&Join));
}
inline const int g_nJoined = Join();
}  // namespace pellux_unwind
#endif
