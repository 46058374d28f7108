// Replacing a program file so that a crash half way never leaves half a file:
// the new bytes go to a temporary file in the target's folder, which then
// takes the target's name in one rename.
#pragma once
#include <string>

// Copies `source` over `target`. On failure the target is as it was, no
// temporary file is left, and `error` holds the system's text.
bool ReplaceFileAtomically(const std::string& source, const std::string& target, std::string& error);
