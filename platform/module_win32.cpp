#include "platform/module.h"
#include "platform/windows_wrapper.h"

namespace plat {

std::string ModuleFileName() {
    char name[MAX_PATH + 1] = {0};
    DWORD n = ::GetModuleFileNameA(nullptr, name, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    return FullPathName(name);
}

std::string FullPathName(const std::string& path) {
    char full[MAX_PATH + 1] = {0};
    char* filePart = nullptr;
    DWORD n = ::GetFullPathNameA(path.c_str(), MAX_PATH, full, &filePart);
    if (n == 0 || n >= MAX_PATH) return path;
    return std::string(full, n);
}

std::string SharedLibraryFileName(const std::string& base) { return base + ".dll"; }

void UnloadLibrary(void* library) noexcept { ::FreeLibrary(static_cast<HMODULE>(library)); }

Library::Library(const std::string& fileName)
    : m_Handle(reinterpret_cast<void*>(::LoadLibraryA(fileName.c_str()))) {}

void* Library::Symbol(const char* name) const {
    if (!m_Handle) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_Handle.Get()), name));
}

}  // namespace plat
