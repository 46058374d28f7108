#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_guard.h"
#include "platform/scoped_handle.h"

namespace plat {

namespace {

std::string FolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

FileRefusal CheckWritePlace(const std::string& path) {
    struct stat folder;
    if (::stat(FolderOf(path).c_str(), &folder) != 0) return FileRefusal::kSystem;
    const uid_t self = ::geteuid();
    struct stat file;
    const bool exists = ::lstat(path.c_str(), &file) == 0;
    if (!exists && errno != ENOENT) return FileRefusal::kSystem;
    // The owner of a folder may rename anything in it, sticky or not.
    const bool ownersSafe = folder.st_uid == self || folder.st_uid == 0;
    const bool openToOthers = (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (!ownersSafe) return FileRefusal::kOpenFolder;
    if (openToOthers) {
        if ((folder.st_mode & S_ISVTX) == 0) return FileRefusal::kOpenFolder;
        if (exists && !S_ISREG(file.st_mode)) return FileRefusal::kNotRegular;
        if (exists && file.st_uid != self) return FileRefusal::kNotOwn;
    }
    return FileRefusal::kNone;
}

FILE* OpenBoundedFile(const std::string& path, uint64_t maxBytes, bool update, FileRefusal& why) {
    why = FileRefusal::kSystem;
    // Non-blocking, so that a FIFO without a writer does not hold the open.
    ScopedFd fd(
        ::open(path.c_str(), (update ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) return nullptr;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) {
        const int saved = errno;
        fd.Reset();
        errno = saved;
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        // What a read of it would say; a folder is no endless input.
        fd.Reset();
        errno = EISDIR;
        return nullptr;
    }
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > maxBytes) {
        fd.Reset();
        why = S_ISREG(st.st_mode) ? FileRefusal::kTooLarge : FileRefusal::kNotRegular;
        errno = S_ISREG(st.st_mode) ? EFBIG : EINVAL;
        return nullptr;
    }
    (void)::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    FILE* file = StreamOverFd(std::move(fd), update ? "r+" : "r");
    if (file != nullptr) why = FileRefusal::kNone;
    return file;
}

}  // namespace plat
