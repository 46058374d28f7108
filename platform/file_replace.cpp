// The copy over a file and the writing of a whole file, built from the
// platform's replacement steps.
#include "platform/file_replace.h"

#include <memory>
#include <vector>

#include "platform/errors.h"
#include "platform/scoped_handle.h"

namespace plat {

namespace {

bool Fail(const std::string& path, std::string& error) {
    std::string text;
    if (!SystemErrorText(LastError(), text)) text = "failed\n";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    error = path + ": " + text;
    return false;
}

bool CopyContents(FILE* from, FILE* to) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        size_t n = std::fread(buffer.data(), 1, buffer.size(), from);
        if (n > 0 && std::fwrite(buffer.data(), 1, n, to) != n) return false;
        if (n < buffer.size()) return !std::ferror(from);
    }
}

}  // namespace

bool CopyFileOver(const std::string& source, const std::string& target, std::string& error) {
    ScopedFile in(std::fopen(source.c_str(), "rb"));
    if (!in) return Fail(source, error);
    std::string tempPath;
    ScopedFile out(CreateTempFileBeside(target, tempPath, FileMode::Binary));
    if (!out) return Fail(target, error);
    if (!CopyContents(in.Get(), out.Get())) {
        // Which side failed decides whose name the message carries.
        const std::string& culprit = std::ferror(in.Get()) ? source : target;
        out.Reset();
        const uint32_t saved = LastError();
        DeleteFileAt(tempPath);
        SetLastError(saved);
        return Fail(culprit, error);
    }
    bool ok = CopyPermissions(source, out.Get()) && FlushToDisk(out.Get());
    ok = CloseChecked(out) && ok;
    ok = ok && ReplaceFileWith(tempPath, target);
    if (!ok) {
        const uint32_t saved = LastError();
        DeleteFileAt(tempPath);
        SetLastError(saved);
        return Fail(target, error);
    }
    return true;
}

bool WriteFileOver(const std::string& path, const std::string& text, AtLink atLink,
                   Readers readers) {
    std::string tempPath;
    ScopedFile out(CreateTempFileBeside(path, tempPath, FileMode::Binary, atLink));
    if (!out) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), out.Get()) == text.size() &&
              (readers == Readers::kAsBefore || LetEveryoneRead(out.Get())) &&
              FlushToDisk(out.Get());
    ok = CloseChecked(out) && ok;
    ok = ok && ReplaceFileWith(tempPath, path, atLink);
    if (!ok) {
        const uint32_t saved = LastError();
        DeleteFileAt(tempPath);
        SetLastError(saved);
    }
    return ok;
}

}  // namespace plat
