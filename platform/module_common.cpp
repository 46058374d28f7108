#include "platform/module.h"

namespace plat {

std::string ReplaceFileName(const std::string& path, const std::string& name) {
    std::string::size_type cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return name;
    return path.substr(0, cut + 1) + name;
}

}  // namespace plat
