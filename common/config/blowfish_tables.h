// The cipher's initial P-array and S-boxes (hexadecimal digits of pi).
#pragma once
#include <cstdint>

#include "common/pellux_api.h"

PELLUX_LOCAL extern const uint32_t kBlowfishInitialP[18];
PELLUX_LOCAL extern const uint32_t kBlowfishInitialS[4][256];
