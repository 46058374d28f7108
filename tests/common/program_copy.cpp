#include "program_copy.h"

#include <filesystem>
#include <system_error>

#include "child_process.h"

namespace fs = std::filesystem;

// The copy keeps the program's permissions: it runs as the program does.
ProgramCopy::ProgramCopy(const std::string& program, const std::string& name) : m_Name(name) {
    std::error_code ec;
    m_bValid =
        fs::copy_file(BinPath(program), BinPath(name), fs::copy_options::overwrite_existing, ec);
}

ProgramCopy::~ProgramCopy() {
    std::error_code ec;
    fs::remove(BinPath(m_Name), ec);
}
