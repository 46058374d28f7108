// Turning a NetXCP answer datagram into lines an operator can read.
#pragma once
#include <string>
#include <vector>

#include "tools/netxcp/netxcp_request.h"

// Versions and model text of an identification block's data.
struct Identification {
    std::string versions;  // "%d.%d" pairs joined by spaces
    std::string model;
};
bool DecodeIdentification(const ByteString& data, Identification& out);

// One line per item of `answer`: the relay's own "qln", each answer (its
// blocks joined) with its command or acknowledge code, the padding byte, and
// whatever does not parse. `request` tells which block numbers are answers.
std::vector<std::string> DecodeAnswer(const ByteString& answer, const ByteString& request);
