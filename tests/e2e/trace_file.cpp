#include "trace_file.h"

#include <algorithm>
#include <sstream>

#include "scratch_dir.h"

std::vector<TraceLine> ReadTrace(const std::string& path) {
    std::istringstream in(ReadBytes(path));
    std::vector<TraceLine> lines;
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        TraceLine line;
        size_t length = 0;
        std::string hex;
        if (!(fields >> line.ms >> line.direction)) line.direction = "?";
        if (line.direction == "--") {
            std::getline(fields >> std::ws, line.rest);
        } else if (fields >> length >> hex && hex.size() == 2 * length) {
            for (size_t i = 0; i < hex.size(); i += 2)
                line.bytes.push_back(
                    static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
            fields >> line.rest;
        } else {
            line.direction = "?";
        }
        lines.push_back(line);
    }
    return lines;
}

ByteString Joined(const std::vector<TraceLine>& lines, size_t from, const std::string& direction,
                  const std::vector<std::string>& until) {
    ByteString bytes;
    for (size_t i = from; i < lines.size(); ++i) {
        if (std::find(until.begin(), until.end(), lines[i].direction) != until.end()) break;
        if (lines[i].direction == direction)
            bytes.insert(bytes.end(), lines[i].bytes.begin(), lines[i].bytes.end());
    }
    return bytes;
}
