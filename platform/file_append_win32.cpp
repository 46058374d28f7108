#include <fcntl.h>
#include <io.h>

#include "platform/file_append.h"
#include "platform/scoped_handle.h"
#include "platform/windows_wrapper.h"

namespace plat {

// Opened through CreateFile rather than fopen, whose handles programs started
// meanwhile would inherit. The file takes the permissions of its folder. A
// link is opened as itself (and refused), a device or pipe is refused.
FILE* OpenForAppend(const std::string& path, FileRefusal& why) {
    why = CheckWritePlace(path);
    if (why != FileRefusal::kNone) return nullptr;
    why = FileRefusal::kSystem;
    ScopedKernelHandle handle(
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) return nullptr;
    if (GetFileType(handle.Get()) != FILE_TYPE_DISK) {
        handle.Reset();
        why = FileRefusal::kNotRegular;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    FILE* file = StreamOverHandle(std::move(handle), _O_BINARY | _O_APPEND, "ab");
    if (file == nullptr) return nullptr;
    why = FileRefusal::kNone;
    return file;
}

}  // namespace plat
