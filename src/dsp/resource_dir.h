#pragma once
// The application's resource directory: SONTEVA_RESOURCE_DIR when set, otherwise
// <directory of the executable>/../share/sonteva (true in the build tree, where
// binaries sit in build/bin, and after installation).
#include <optional>
#include <string>

namespace sonteva {

std::string resourceDir();
// The path of a resource by name and extension ("" for none), when it is a regular file.
std::optional<std::string> resourcePath(const std::string& name, const std::string& extension);

} // namespace sonteva
