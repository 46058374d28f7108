#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/module.h"

namespace plat {

std::string ModuleFileName() {
    char name[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", name, PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(name, static_cast<size_t>(n));
}

std::string FullPathName(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX + 1];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
    std::string full(cwd);
    if (full.empty() || full.back() != '/') full += '/';
    return full + path;
}

std::string SharedLibraryFileName(const std::string& base) { return "lib" + base + ".so"; }

void UnloadLibrary(void* library) noexcept { ::dlclose(library); }

Library::Library(const std::string& fileName)
    : m_Handle(::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL)) {}

void* Library::Symbol(const char* name) const {
    if (!m_Handle) return nullptr;
    return ::dlsym(m_Handle.Get(), name);
}

}  // namespace plat
