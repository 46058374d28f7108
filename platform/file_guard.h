// Where the agent may write a file that other accounts read (the status file,
// the Prometheus file, the wire trace) and how it reads a file it is handed
// (the INI file, a trace to replay). A root agent that follows a link planted
// by another account writes wherever that account points it; one that opens a
// FIFO or /dev/zero as a file blocks or reads for ever. These checks refuse
// both before a byte is read or written, and say which rule refused.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace plat {

// Why a file was refused. kSystem: the system refused; its code is in
// plat::LastError().
enum class FileRefusal {
    kNone,
    kSystem,
    kNotRegular,  // a link, a FIFO, a device or a folder stands at the path
    kNotOwn,      // the file belongs to another account
    kOpenFolder,  // other accounts may write to the folder (and it is not sticky)
    kTooLarge,    // larger than the reader takes
};

// Whether the agent may write `path` for others to read: the folder is
// written only by the agent's account and the superuser, or is sticky (like
// /tmp) and whatever stands at `path` is a regular file of the agent's own.
// A missing file is fine in either kind of folder.
FileRefusal CheckWritePlace(const std::string& path);

// Opens an existing `path` for reading (`update`: reading and writing, as
// the INI profile opens its file) in text mode, without waiting on a FIFO or
// a device; refuses anything but a regular file of at most `maxBytes`. Null
// on failure, with the reason in `why` (a folder is the system's failure to
// read it, kSystem, as it always was).
FILE* OpenBoundedFile(const std::string& path, uint64_t maxBytes, bool update, FileRefusal& why);

}  // namespace plat
