#include "dsp/resource_dir.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace sonteva {

namespace fs = std::filesystem;

std::string resourceDir() {
    if (const char* dir = std::getenv("SONTEVA_RESOURCE_DIR"); dir && *dir) return dir;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "share/sonteva";
    return (exe.parent_path().parent_path() / "share" / "sonteva").string();
}

std::optional<std::string> resourcePath(const std::string& name, const std::string& extension) {
    fs::path path = fs::path(resourceDir()) / name;
    if (!extension.empty()) path += "." + extension;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    return path.string();
}

} // namespace sonteva
