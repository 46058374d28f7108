#include <fcntl.h>
#include <io.h>

#include "platform/file_guard.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"

namespace plat {

// Windows keeps who may write a folder in its access list, which the agent's
// installation sets; here only what stands at the path is looked at: a link
// (a reparse point), a folder or a device is refused.
FileRefusal CheckWritePlace(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? FileRefusal::kNone
                   : FileRefusal::kSystem;
    }
    if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
        return FileRefusal::kNotRegular;
    }
    return FileRefusal::kNone;
}

FILE* OpenBoundedFile(const std::string& path, uint64_t maxBytes, bool update, FileRefusal& why) {
    why = FileRefusal::kSystem;
    DWORD access = GENERIC_READ | (update ? GENERIC_WRITE : 0);
    ScopedKernelHandle handle(CreateFileA(path.c_str(), access,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return nullptr;
    LARGE_INTEGER size;
    if (GetFileType(handle.Get()) != FILE_TYPE_DISK) {
        why = FileRefusal::kNotRegular;
    } else if (!GetFileSizeEx(handle.Get(), &size)) {
        why = FileRefusal::kSystem;
    } else if (static_cast<uint64_t>(size.QuadPart) > maxBytes) {
        why = FileRefusal::kTooLarge;
    } else {
        why = FileRefusal::kNone;
    }
    if (why != FileRefusal::kNone) {
        DWORD error = GetLastError();
        handle.Reset();
        SetLastError(why == FileRefusal::kSystem ? error : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    FILE* file = StreamOverHandle(std::move(handle), _O_TEXT | (update ? _O_RDWR : _O_RDONLY),
                                  update ? "r+" : "r");
    if (file == nullptr) why = FileRefusal::kSystem;
    return file;
}

}  // namespace plat
