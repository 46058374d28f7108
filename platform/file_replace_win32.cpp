#include <cstdio>

#include "platform/file_replace.h"
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

FILE* CreateTempFileBeside(const std::string& target, std::string& tempPath) {
    char name[MAX_PATH + 1];
    // Creates the file under a name of its own choosing, unique in the folder.
    if (GetTempFileNameA(FolderOf(target).c_str(), "ini", 0, name) == 0) return nullptr;
    FILE* file = std::fopen(name, "w");
    if (file == nullptr) {
        DeleteFileA(name);
        return nullptr;
    }
    tempPath = name;
    return file;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool DeleteFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

}  // namespace plat
