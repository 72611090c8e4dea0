#include "audio_io/part_file.h"

#include "audio_io/audio_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace sonteva {

namespace {

// Room left in a 255-byte file name for the hidden prefix and the ".XXXXXX.part" tail.
constexpr size_t kMaxNamePart = 200;

std::string platformText(int error) {
    return std::strerror(error);
}

void splitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// The folder entry of a renamed file is durable only once the folder itself is synced.
void syncFolder(const std::string& target) {
    std::string folder, name;
    splitPath(target, folder, name);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

unsigned newFileMode() {
    // umask() can only be read by changing it, which races with other threads creating
    // files; the kernel shows it in /proc instead.
    unsigned mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 8));
            break;
        }
    }
    return 0666u & ~mask;
}

PartFile::PartFile(const std::string& target) : target_(target) {
    std::string folder, name;
    splitPath(target, folder, name);
    struct stat st {};
    if (name.empty() || (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
        throw AudioIOError(10, target + ": " + platformText(EISDIR));
    std::string pattern = folder + "/." + name.substr(0, kMaxNamePart) + ".XXXXXX.part";
    fd_ = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
    if (fd_ < 0) throw AudioIOError(10, target + ": " + platformText(errno));
    temp_ = pattern;
    ::fchmod(fd_, newFileMode());
}

PartFile::~PartFile() {
    discard();
}

void PartFile::discard() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

void PartFile::fail(int error) {
    discard();
    throw AudioError(platformText(error));
}

void PartFile::append(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(n < 0 ? errno : EIO);
        bytes += n;
        size -= static_cast<size_t>(n);
    }
}

void PartFile::writeAt(uint64_t offset, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(n < 0 ? errno : EIO);
        bytes += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
}

void PartFile::commit() {
    if (fd_ < 0) fail(EBADF);
    if (::fsync(fd_) != 0) fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail(errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) fail(errno);
    committed_ = true;
    temp_.clear();
    syncFolder(target_);
}

} // namespace sonteva
