#include <fcntl.h>
#include <io.h>

#include "platform/file_append.h"
#include "platform/windows_wrapper.h"

namespace plat {

// Opened through CreateFile rather than fopen, whose handles programs started
// meanwhile would inherit. The file takes the permissions of its folder. A
// link is opened as itself (and refused), a device or pipe is refused.
FILE* OpenForAppend(const std::string& path, FileRefusal& why) {
    why = CheckWritePlace(path);
    if (why != FileRefusal::kNone) return nullptr;
    why = FileRefusal::kSystem;
    HANDLE handle =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        why = FileRefusal::kNotRegular;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_APPEND);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(fd, "ab");
    if (file == nullptr) {
        _close(fd);
        return nullptr;
    }
    why = FileRefusal::kNone;
    return file;
}

}  // namespace plat
