// The message table compiled into the library where the platform has no
// message-table resources: generated at build time from messages.mc.
#pragma once
#include <cstddef>
#include <cstdint>

// One id with its texts as the resource holds them: English in code page 1252,
// Japanese in Shift-JIS, each ending in the platform's line end.
struct MessageRow {
    uint32_t id;
    const char* english;
    const char* japanese;
};

// All rows, sorted by id.
const MessageRow* MessageRows(size_t* count);

// The row of `id`, or null when the table has none.
const MessageRow* FindMessageRow(uint32_t id);
