#include "platform/std_streams.h"

namespace plat {

void WriteUnchanged(FILE* stream, const std::string& text) {
    fwrite(text.data(), 1, text.size(), stream);
    fflush(stream);
}

}  // namespace plat
