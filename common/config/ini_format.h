// The INI file format shared by the agent's reader (CINIFile) and the
// framework's profile (CINIProfile): finding a section, finding an entry, and
// the write rule. Everything works on the file itself through the runtime's
// buffered streams, opened in text mode; there is no image of the file in
// memory and no file stays open between calls.
//
// Format in brief: a header is a line "[name]" (anything after "]" ignored);
// an entry is a line that starts in its first column with the key, then
// optional blanks, then "=" and the value up to the line end. Names and keys
// match without regard to letter case. Lines are read in pieces of at most 255
// characters; a longer line counts as several lines.
//
// Internal to the library and to the agent: not exported.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "common/pellux_api.h"
#include "platform/scoped_handle.h"

namespace ini PELLUX_LOCAL {

// Size of the line buffer: pieces of at most kLineBuffer - 1 characters.
constexpr int kLineBuffer = 256;

// No INI file comes near this size. A larger one, or anything but a regular
// file (a FIFO, /dev/zero), is not read: reading it would block or never end.
constexpr uint64_t kMaxFileBytes = 1024 * 1024;

// Where a section header may start. The agent's reader wants the "[" in the
// first column; the profile also accepts blanks in front of it, both when it
// finds the section and when the writer looks for the target section's header
// (other headers end a section only with "[" in the first column).
enum class HeaderStyle { FirstColumn, LeadingBlanks };

using FilePtr = plat::ScopedFile;

// How a search opens the file: for update ("r+"), as the profile does, which
// writes the same file; or for reading only, as the agent's reader does, so
// that a file the agent may read but not write is not taken for a missing one.
enum class OpenFor { Update, Reading };

// Opens `path` and reads up to and including the header line of `section`.
// Returns the open stream positioned at the start of the next line, or null
// when the file cannot be opened, is refused (see kMaxFileBytes) or has no
// such header.
FilePtr FindSection(const char* path, const char* section,
                    HeaderStyle style = HeaderStyle::FirstColumn, OpenFor mode = OpenFor::Update);

// Finds the section, then the first entry line for `key` after its header
// (the search runs on to the end of the file, through later sections).
// Returns the open stream positioned just after the "=", or null.
FilePtr FindEntry(const char* path, const char* section, const char* key,
                  HeaderStyle style = HeaderStyle::FirstColumn, OpenFor mode = OpenFor::Update);

// Reads the rest of the current line, at most kLineBuffer - 1 characters, line
// end included when it fits. False, and `out` untouched, at end of file.
bool ReadRestOfLine(FILE* stream, std::string& out);

// The write rule: sets `key`=`value` in `section` and rewrites the file.
//  - every empty line of the file is dropped; all other lines keep their
//    place, order and content;
//  - the first entry line of the key ("key=" in the first column, any letter
//    case) in each occurrence of the section is replaced by "key=value", the
//    key spelled as the caller spelled it;
//  - where an occurrence of the section ends at another header ("[" in the
//    first column) before such a line, "key=value" is written in front of
//    that header; where the file ends inside the first such occurrence, it is
//    appended;
//  - a missing section is appended as "[section]" and "key=value";
//  - a file that does not exist is created.
// The new content is written to a temporary file beside the old one, which
// then replaces it in one step: when anything fails the old file stays as it
// was. True when the file holds the new content.
bool Write(const char* path, const char* section, const char* key, const char* value,
           HeaderStyle style = HeaderStyle::FirstColumn);

// Write, with the last step (moving the temporary file over the file) done by
// `commit`, which returns false when it failed. For tests of the failure path.
using CommitFn = bool (*)(const std::string& tempPath, const std::string& path);
bool WriteWithCommit(const char* path, const char* section, const char* key, const char* value,
                     HeaderStyle style, CommitFn commit);

}  // namespace PELLUX_LOCAL
