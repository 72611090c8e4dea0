#include "audio_io/part_file.h"

#include "audio_io/audio_error.h"
#include "audio_io/interrupt_cleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

namespace sonteva {

namespace {

// Room left in a 255-byte file name for the hidden prefix and the ".XXXXXX.part" tail.
constexpr size_t kMaxNamePart = 200;

std::string platformText(int error) {
    return std::strerror(error);
}

struct PathParts {
    std::string folder;
    std::string name;
};

PathParts splitPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

// The folder entry of a renamed file is durable only once the folder itself is synced.
void syncFolder(const std::string& target) {
    const int fd = ::open(splitPath(target).folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr size_t kRandomLetters = 6;

// The temporary names of `name` in its folder start with this and end in ".part".
std::string partPrefix(const std::string& name) {
    std::string prefix(1, '.');
    prefix.append(name, 0, kMaxNamePart);
    prefix += '.';
    return prefix;
}

enum class Lock { taken, held, unsupported };

// A writer holds a lock on its temporary file for as long as it writes: a file nobody holds
// is one whose writer was killed outright and could not remove it. The lock belongs to the
// open file (not the process), so it also tells threads apart and survives other handles on
// the file being closed; network file systems pass it to their server.
Lock lockFile(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return Lock::taken;
    return errno == EAGAIN || errno == EACCES ? Lock::held : Lock::unsupported;
}

// Creates ".<name>.XXXXXX.part" (random letters) in the folder `dir` refers to, locked, and
// known to an interrupt's cleanup from the moment it exists.
int createTemporary(int dir, const std::string& name, std::string& created, CleanupEntry& entry) {
    std::random_device device;
    for (int attempt = 0; attempt < 128; ++attempt) {
        std::string candidate = partPrefix(name);
        for (size_t i = 0; i < kRandomLetters; ++i)
            candidate += kLetters[device() % (sizeof kLetters - 1)];
        candidate += ".part";
        CleanupHold hold;
        const int fd =
            ::openat(dir, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 && lockFile(fd) == Lock::held) {
            // Taken for abandoned between its creation and the lock: its remover has it.
            ::close(fd);
            continue;
        }
        if (fd >= 0) {
            entry = hold.file(dir, candidate);
            created = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

bool isPartOf(const std::string& entry, const std::string& prefix) {
    if (entry.size() != prefix.size() + kRandomLetters + 5 || !entry.starts_with(prefix) ||
        !entry.ends_with(".part"))
        return false;
    for (size_t i = prefix.size(); i < prefix.size() + kRandomLetters; ++i)
        if (!std::strchr(kLetters, entry[i]) || entry[i] == '\0') return false;
    return true;
}

} // namespace

int removeAbandonedParts(const std::string& target) {
    const auto [folder, name] = splitPath(target);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    const std::string prefix = partPrefix(name);
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isPartOf(entry->d_name, prefix)) continue;
        const int fd =
            ::openat(::dirfd(dir), entry->d_name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        // Unlinked while the lock is ours: no writer can have taken the name meanwhile.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && lockFile(fd) == Lock::taken &&
            ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

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
    const auto [folder, name] = splitPath(target);
    struct stat st {};
    if (name.empty() || (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
        throw AudioIOError(10, target + ": " + platformText(EISDIR));
    // The temporary file is created and removed through a handle on the folder itself, so
    // that it is found and removed even when the folder is moved or deleted meanwhile.
    folderFd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd_ >= 0)
        fd_ = createTemporary(folderFd_, name.substr(0, kMaxNamePart), tempName_, cleanup_);
    if (fd_ < 0) {
        const int error = errno;
        discard();
        throw AudioIOError(10, target + ": " + platformText(error));
    }
    temp_ = folder + "/" + tempName_;
    ::fchmod(fd_, newFileMode());
}

PartFile::~PartFile() {
    discard();
}

void PartFile::discard() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    {
        CleanupHold hold;
        if (!committed_ && !tempName_.empty()) ::unlinkat(folderFd_, tempName_.c_str(), 0);
        cleanup_.reset(); // before the folder handle it names is closed
    }
    if (folderFd_ >= 0) ::close(folderFd_);
    folderFd_ = -1;
    temp_.clear();
    tempName_.clear();
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
    // The lock stays with this second handle until the rename: closed before it, the
    // finished file would look abandoned for a moment.
    const int lockHolder = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        if (lockHolder >= 0) ::close(lockHolder);
        fail(error);
    }
    struct CloseLater {
        int fd;
        ~CloseLater() {
            if (fd >= 0) ::close(fd);
        }
    } keep{lockHolder};
    {
        // An interrupt removes the temporary file before the rename or finds it renamed.
        CleanupHold hold;
        // By path, not through the folder handle: a folder moved away while the output was
        // written is no longer where the output was asked for.
        if (::rename(temp_.c_str(), target_.c_str()) != 0) {
            const int error = errno;
            discard();
            throw AudioError("Cannot move the finished output to " + target_ + ": " +
                             platformText(error));
        }
        committed_ = true;
        discard();
    }
    syncFolder(target_);
}

} // namespace sonteva
