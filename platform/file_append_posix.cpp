#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_append.h"
#include "platform/scoped_handle.h"

namespace plat {

FILE* OpenForAppend(const std::string& path, FileRefusal& why) {
    why = CheckWritePlace(path);
    if (why != FileRefusal::kNone) return nullptr;
    // No-follow: a link planted at the path is refused, not written through.
    // Non-blocking: a FIFO there fails the open instead of holding it.
    ScopedFd fd(::open(
        path.c_str(),
        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600));
    if (!fd) {
        why = errno == ELOOP || errno == ENXIO ? FileRefusal::kNotRegular : FileRefusal::kSystem;
        return nullptr;
    }
    struct stat st;
    // A second hard link is refused too: no-follow does not see one, and in
    // a sticky folder it could stand for a file of ours elsewhere.
    why = ::fstat(fd.Get(), &st) != 0                ? FileRefusal::kSystem
          : !S_ISREG(st.st_mode) || st.st_nlink != 1 ? FileRefusal::kNotRegular
          : st.st_uid != ::geteuid()                 ? FileRefusal::kNotOwn
                                                     : FileRefusal::kNone;
    if (why != FileRefusal::kNone) return nullptr;
    FILE* file = StreamOverFd(std::move(fd), "a");
    if (file == nullptr) why = FileRefusal::kSystem;
    return file;
}

}  // namespace plat
