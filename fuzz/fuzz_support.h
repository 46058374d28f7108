// Helpers shared by the fuzz targets.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// A scratch file of this process (in /dev/shm when there is one, so that
// each execution stays off the disk), removed when the process ends.
const std::string& ScratchPath();
// Replaces the scratch file's content with the given bytes.
void WriteScratch(const uint8_t* data, size_t size);

// Stops the process with a message that the fuzzer records as a finding.
[[noreturn]] void Fail(const char* what);

// Cuts one piece off the front of the input: up to the first newline (which
// is consumed) or at most `limit` bytes, whichever comes first.
std::string TakeLine(const uint8_t*& data, size_t& size, size_t limit);

}  // namespace fuzz
