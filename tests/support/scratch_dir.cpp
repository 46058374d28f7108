#include "scratch_dir.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

ScratchDir::ScratchDir(const std::string& tag) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = fs::current_path();
    // create_directory is atomic: a name that another process holds already
    // (or a leftover) is passed over.
    for (unsigned n = 0; n < 100000; ++n) {
        fs::path candidate = base / ("qln-" + tag + "-" + std::to_string(n));
        if (fs::create_directory(candidate, ec)) {
            m_Path = candidate.string();
            return;
        }
    }
}

ScratchDir::~ScratchDir() {
    if (m_Path.empty()) return;
    std::error_code ec;
    // Give back write permission a test may have taken away, then remove.
    fs::permissions(m_Path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_Path, ec);
}

std::string ScratchDir::File(const std::string& name) const {
    return (fs::path(m_Path) / name).string();
}

std::vector<std::string> ScratchDir::List() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_Path, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

bool WriteWithMode(const std::string& path, const std::string& data, const char* mode) {
    FILE* f = std::fopen(path.c_str(), mode);
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

bool WriteBytes(const std::string& path, const std::string& bytes) {
    return WriteWithMode(path, bytes, "wb");
}

bool WriteText(const std::string& path, const std::string& text) {
    return WriteWithMode(path, text, "w");
}

std::string ReadBytes(const std::string& path) {
    std::string data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
    std::fclose(f);
    return data;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string OnDisk(const std::string& text) {
    // Ask the runtime once what its text mode makes of a line end.
    static const std::string lineEnd = [] {
        ScratchDir dir("lineend");
        std::string probe = dir.File("probe.txt");
        if (!WriteText(probe, "\n")) return std::string("\n");
        return ReadBytes(probe);
    }();
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += lineEnd;
        } else {
            out += c;
        }
    }
    return out;
}

std::string ScratchDir::Write(const std::string& name, const std::string& content) const {
    std::string path = File(name);
    WriteBytes(path, content);
    return path;
}
