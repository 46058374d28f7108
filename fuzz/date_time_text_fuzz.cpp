// Any text given to the date-time text constructor, then its formatters.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/config/date_time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    CDateTime value(text.c_str());
    value.DbFormat();
    value.UiFormat();
    value.DateFormat();
    value.TimeFormat();
    value.AddOneDay();
    value.InternatFormat();
    return 0;
}
