// Reading a wire trace back in the end-to-end tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/netxcp/netxcp_request.h"

struct TraceLine {
    uint32_t ms = 0;
    std::string direction;  // S> S< N< N> --
    ByteString bytes;       // of a transfer
    std::string rest;       // a note's text, a datagram's peer
};

// The lines of the trace file at `path` (empty when it cannot be read); a
// line that is not a trace line comes back with the direction "?".
std::vector<TraceLine> ReadTrace(const std::string& path);

// The bytes of the transfers in `direction` from `lines[from]` on, joined,
// up to the first line of `until` (any of its directions).
ByteString Joined(const std::vector<TraceLine>& lines, size_t from, const std::string& direction,
                  const std::vector<std::string>& until);
