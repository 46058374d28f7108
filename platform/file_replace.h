// Replacing a file as a whole: the new content goes into a temporary file in
// the same folder, reaches the disk, and then takes the old file's place in
// one step, so that a failure (or a power cut) on the way leaves either the
// old file or the new one, never a short or empty one.
#pragma once
#include <cstdio>
#include <string>

namespace plat {

// How the temporary file is opened: text (Win32 writes CR LF line ends) or
// bytes as given.
enum class FileMode { Text, Binary };

// What a replacement does with a link at the target's path: the INI file's
// writes go to the file behind it (administrators link their INI files on
// purpose); a file written for others to read replaces the link itself, so
// that a link planted by another account never points a write anywhere.
enum class AtLink { kFollow, kReplace };

// Creates a new, empty file with a unique name in the folder of `target` (the
// folder of the file that `target` names when it is a link it follows),
// opened for writing, not inherited by programs this process starts, and with
// the permissions of `target` where the platform has them (with kReplace only
// of a regular file there, never of a link's target). Its path goes to
// `tempPath`. Null on failure.
FILE* CreateTempFileBeside(const std::string& target, std::string& tempPath,
                           FileMode mode = FileMode::Text, AtLink atLink = AtLink::kFollow);

// Writes what `file` buffers through to the disk; false on a write error.
bool FlushToDisk(FILE* file);

// Gives the open `file` the permissions of the file at `model`; true where
// the platform keeps no such permissions.
bool CopyPermissions(const std::string& model, FILE* file);

// Moves `from` over `to` (the file behind it when `to` is a link it follows),
// replacing `to` in one step that is on the disk when this returns. False,
// with `to` untouched, when that cannot be done.
bool ReplaceFileWith(const std::string& from, const std::string& to,
                     AtLink atLink = AtLink::kFollow);

// Who may read a file that WriteFileOver writes: what the file there had
// (its owner alone when there was none), or everyone (0644 on POSIX; Win32
// files take the access list of their folder either way).
enum class Readers { kAsBefore, kEveryone };

// Writes `text` as the whole of the file at `path` by the steps above. False,
// with the system's error kept and no temporary file left, when that could
// not be done; the file at `path` is then as it was.
bool WriteFileOver(const std::string& path, const std::string& text,
                   AtLink atLink = AtLink::kFollow, Readers readers = Readers::kAsBefore);

// Makes the open `file` readable by everyone; true where the platform keeps
// no such permissions.
bool LetEveryoneRead(FILE* file);

// Deletes a file; false when it could not be deleted.
bool DeleteFileAt(const std::string& path);

// Copies `source` over `target` by the steps above, with the source's
// permissions. On failure the target is as it was, no temporary file is
// left, and `error` names the path and the system's text.
bool CopyFileOver(const std::string& source, const std::string& target, std::string& error);

}  // namespace plat
