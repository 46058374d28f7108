// Replacing a file as a whole: the new content goes into a temporary file in
// the same folder, which then takes the old file's place in one step, so that
// a failure on the way leaves the old file as it was.
#pragma once
#include <cstdio>
#include <string>

namespace plat {

// Creates a new, empty file with a unique name in the folder of `target` (the
// folder of the file that `target` names when it is a link), opened for
// writing in text mode. Its path goes to `tempPath`. Null on failure.
FILE* CreateTempFileBeside(const std::string& target, std::string& tempPath);

// Moves `from` over `to`, replacing `to` in one step. False, with `to`
// untouched, when that cannot be done.
bool ReplaceFileWith(const std::string& from, const std::string& to);

// Deletes a file; false when it could not be deleted.
bool DeleteFileAt(const std::string& path);

}  // namespace plat
