#include <fcntl.h>
#include <io.h>

#include "platform/file_append.h"
#include "platform/windows_wrapper.h"

namespace plat {

// Opened through CreateFile rather than fopen, whose handles programs started
// meanwhile would inherit. The file takes the permissions of its folder.
FILE* OpenForAppend(const std::string& path) {
    HANDLE handle = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_APPEND);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(fd, "ab");
    if (file == nullptr) _close(fd);
    return file;
}

}  // namespace plat
