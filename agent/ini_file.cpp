#include "agent/ini_file.h"

#include <cstdio>

#include "common/config/ini_format.h"

CINIFile::CINIFile(const char* path) : m_Path(path ? path : "") {}

CINIFile::~CINIFile() = default;

std::string CINIFile::GetString(const char* section, const char* key, const char* defaultValue) {
    std::string result = defaultValue ? defaultValue : "";
    ini::FilePtr entry = ini::FindEntry(m_Path.c_str(), section, key, ini::HeaderStyle::FirstColumn,
                                        ini::OpenFor::Reading);
    std::string value;
    if (entry && ini::ReadRestOfLine(entry.Get(), value)) {
        // Exactly one line feed goes; a carriage return before it stays.
        if (!value.empty() && value.back() == '\n') value.pop_back();
        result = value;
    }
    return result;
}

int CINIFile::GetInt(const char* section, const char* key, int defaultValue) {
    int result = defaultValue;
    ini::FilePtr entry = ini::FindEntry(m_Path.c_str(), section, key, ini::HeaderStyle::FirstColumn,
                                        ini::OpenFor::Reading);
    unsigned value = 0;
    if (entry && std::fscanf(entry.Get(), "%u\n", &value) == 1) result = static_cast<int>(value);
    return result;
}
