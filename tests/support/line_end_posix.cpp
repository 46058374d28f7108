#include "line_end.h"

const char* const kPlatformLineEnd = "\n";
