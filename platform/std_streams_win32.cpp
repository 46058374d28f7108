#include <fcntl.h>
#include <io.h>

#include "platform/std_streams.h"

namespace plat {

void WriteUnchanged(FILE* stream, const std::string& text) {
    fflush(stream);
    int fd = _fileno(stream);
    int old = _setmode(fd, _O_BINARY);
    fwrite(text.data(), 1, text.size(), stream);
    fflush(stream);
    if (old != -1) _setmode(fd, old);
}

}  // namespace plat
