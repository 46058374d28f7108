#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <cstring>

#include "common/framework/message_lookup.h"
#include "common/framework/table_message.h"
#include "platform/errors.h"
#include "platform/scoped_handle.h"

const char* const kThisLibraryModule = "Pellux_noDB.dll";
const char* const kFamilyModule = "Pellux.dll";

namespace {

// "Pellux.dll" is known here as "libPellux.so".
std::string SharedObjectName(const std::string& moduleName) {
    std::string base = moduleName;
    if (base.size() > 4 && (base.compare(base.size() - 4, 4, ".dll") == 0 ||
                            base.compare(base.size() - 4, 4, ".DLL") == 0)) {
        base.resize(base.size() - 4);
    }
    return "lib" + base + ".so";
}

using FormatFn = char* (*)(uint32_t, uint32_t, const char* const*, size_t, uint32_t);

struct Search {
    const std::string* name;
    std::string path;
};

int MatchLoaded(struct dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    const char* path = info->dlpi_name;
    if (path == nullptr || *path == '\0') return 0;
    const char* slash = std::strrchr(path, '/');
    if (*search->name != (slash ? slash + 1 : path)) return 0;
    search->path = path;
    return 1;
}

// Full path of the loaded object whose file name is `name`; empty when none
// is. Only the process's list of loaded objects is read: no file is touched.
std::string LoadedPath(const std::string& name) {
    Search search{&name, std::string()};
    ::dl_iterate_phdr(&MatchLoaded, &search);
    return search.path;
}

// The loaded module's formatter, when a module of that name is loaded, has
// the export and is not this library itself.
bool FromLoadedModule(const std::string& name, uint32_t id, uint32_t langId, std::string& out,
                      bool& found) {
    found = false;
    std::string path = LoadedPath(name);
    if (path.empty()) return false;
    // Closing drops only the reference taken here. Both owners hold on while
    // the text is copied: the copy allocates and may throw.
    plat::ScopedLibrary handle(::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD));
    if (!handle) return false;
    auto format = reinterpret_cast<FormatFn>(::dlsym(handle.Get(), "PelluxFormatMessage"));
    if (format == nullptr || format == &PelluxFormatMessage) return false;
    found = true;
    plat::ScopedMallocText text(format(id, langId, nullptr, 0, 0));
    if (!text) return false;
    out = text.Get();
    return true;
}

}  // namespace

bool LookupMessage(const char* moduleName, uint32_t id, uint32_t langId, std::string& out) {
    bool found = false;
    if (FromLoadedModule(SharedObjectName(moduleName), id, langId, out, found)) return true;
    if (!found && FormatTableMessage(id, langId, nullptr, 0, false, out)) return true;
    return plat::SystemErrorText(id, out);
}
