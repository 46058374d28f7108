// The reason a file was refused or failed, as inserted into the agent's
// reports: the message table's words for a rule of platform/file_guard.h, the
// system's text for anything else.
#pragma once
#include <cstdint>
#include <string>

#include "platform/file_guard.h"

std::string FileFailureReason(plat::FileRefusal why, uint32_t systemCode);
