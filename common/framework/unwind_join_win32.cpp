#include <mutex>

#include "common/framework/unwind_join.h"
#include "platform/windows_wrapper.h"

namespace {

// Room for libgcc's private registration record (a handful of words).
struct FrameObject {
    void* words[32];
};

constexpr int kMaxModules = 16;
FrameObject g_Objects[2 * kMaxModules];
HMODULE g_Joined[kMaxModules];
int g_nJoined = 0;
std::mutex g_JoinLock;

_Unwind_Reason_Code StopAtOnce(_Unwind_Context*, void*) { return _URC_END_OF_STACK; }

HMODULE ModuleOf(const void* address) {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCSTR>(address), &module);
    return module;
}

// Start of the image section that holds `inside`: the frame table of the
// module, which ends with the terminator the linker puts behind it.
const void* SectionStart(HMODULE module, const void* inside) {
    auto base = reinterpret_cast<const unsigned char*>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    auto rva = static_cast<DWORD>(static_cast<const unsigned char*>(inside) - base);
    for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (rva >= section->VirtualAddress &&
            rva < section->VirtualAddress + section->Misc.VirtualSize) {
            return base + section->VirtualAddress;
        }
    }
    return nullptr;
}

}  // namespace

extern "C" PELLUX_API int PelluxJoinUnwinder(void (*registerFn)(const void*, void*),
                                             const void* (*findFn)(void*, PelluxFdeBases*),
                                             void* code) {
    _Unwind_Backtrace(&StopAtOnce, nullptr);
    HMODULE self = ModuleOf(reinterpret_cast<void*>(&PelluxJoinUnwinder));
    HMODULE caller = ModuleOf(code);
    if (!self || !caller || caller == self || !registerFn || !findFn) return 0;

    std::lock_guard<std::mutex> lock(g_JoinLock);
    for (int i = 0; i < g_nJoined; ++i) {
        if (g_Joined[i] == caller) return 1;
    }
    if (g_nJoined == kMaxModules) return 0;
    PelluxFdeBases bases{};
    const void* callerEntry = findFn(code, &bases);
    const void* ownEntry = _Unwind_Find_FDE(reinterpret_cast<void*>(&PelluxJoinUnwinder), &bases);
    if (!callerEntry || !ownEntry) return 0;
    const void* callerFrames = SectionStart(caller, callerEntry);
    const void* ownFrames = SectionStart(self, ownEntry);
    if (!callerFrames || !ownFrames) return 0;
    __register_frame_info(callerFrames, &g_Objects[2 * g_nJoined]);
    registerFn(ownFrames, &g_Objects[2 * g_nJoined + 1]);
    g_Joined[g_nJoined++] = caller;
    return 1;
}
