#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/file_replace.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"

namespace plat {

namespace {

std::string FolderOf(const std::string& path) {
    std::string::size_type cut = path.find_last_of("\\/:");
    if (cut == std::string::npos) return ".";
    if (path[cut] == ':') return path.substr(0, cut + 1) + ".";
    return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

}  // namespace

// A link's own folder either way: MoveFileEx replaces a link, not its target.
FILE* CreateTempFileBeside(const std::string& target, std::string& tempPath, FileMode mode,
                           AtLink) {
    char name[MAX_PATH + 1];
    // Creates the file under a name of its own choosing, unique in the folder.
    if (GetTempFileNameA(FolderOf(target).c_str(), "ini", 0, name) == 0) return nullptr;
    // Opened here rather than through fopen, whose handles programs started
    // meanwhile would inherit.
    ScopedKernelHandle handle(CreateFileA(name, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool text = mode == FileMode::Text;
    FILE* file =
        handle ? StreamOverHandle(std::move(handle), text ? _O_TEXT : _O_BINARY, text ? "w" : "wb")
               : nullptr;
    if (file == nullptr) {
        const DWORD error = GetLastError();
        DeleteFileA(name);
        SetLastError(error);
        return nullptr;
    }
    tempPath = name;
    return file;
}

bool FlushToDisk(FILE* file) {
    if (std::fflush(file) != 0) return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return FlushFileBuffers(handle) != 0;
}

bool CopyPermissions(const std::string&, FILE*) { return true; }

bool LetEveryoneRead(FILE*) { return true; }

bool ReplaceFileWith(const std::string& from, const std::string& to, AtLink) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool DeleteFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

}  // namespace plat
