#include <fcntl.h>
#include <unistd.h>

#include "platform/file_append.h"

namespace plat {

FILE* OpenForAppend(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    FILE* file = ::fdopen(fd, "a");
    if (file == nullptr) ::close(fd);
    return file;
}

}  // namespace plat
