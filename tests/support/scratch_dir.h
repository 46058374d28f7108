// A fresh, empty folder of a test's own under the system's temporary folder,
// removed with everything in it when the owner goes; and small file helpers.
#pragma once
#include <string>
#include <vector>

class ScratchDir {
public:
    // `tag` becomes part of the folder's name, to tell leftovers apart.
    explicit ScratchDir(const std::string& tag = "test");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return m_Path; }
    // Path of `name` inside the folder.
    std::string File(const std::string& name) const;
    // Writes `content` exactly to `name` inside the folder; its path.
    std::string Write(const std::string& name, const std::string& content) const;
    // Names of the entries in the folder, sorted.
    std::vector<std::string> List() const;

private:
    std::string m_Path;
};

// Writes `bytes` to `path` exactly (binary mode). False on failure.
bool WriteBytes(const std::string& path, const std::string& bytes);
// Writes `text` through the runtime's text mode, as a text editor's file of
// this platform would hold it. False on failure.
bool WriteText(const std::string& path, const std::string& text);
// The file's bytes exactly (binary mode); empty when it cannot be read.
std::string ReadBytes(const std::string& path);
bool FileExists(const std::string& path);
// `text` as the runtime's text mode puts it on disk: every "\n" becomes the
// platform's line end.
std::string OnDisk(const std::string& text);
