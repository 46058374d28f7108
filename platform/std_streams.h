// Writing texts to the standard streams exactly as they stand.
#pragma once
#include <cstdio>
#include <string>

namespace plat {

// Writes `text` to `stream` byte for byte: on Win32 the stream's text mode
// would turn the formatter's CR LF into CR CR LF, so the bytes go out in
// binary mode.
void WriteUnchanged(FILE* stream, const std::string& text);

}  // namespace plat
