#include "audio_io/container_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace sonteva {

namespace {

// A chunk walk never needs many steps; the cap keeps a damaged file from looping long.
constexpr int kMaxChunks = 4096;

class FileBytes {
public:
    explicit FileBytes(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0) size_ = static_cast<uint64_t>(st.st_size);
    }
    ~FileBytes() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    uint64_t size() const { return size_; }
    bool read(uint64_t offset, void* dest, size_t count) const {
        if (fd_ < 0 || offset + count > size_) return false;
        return ::pread(fd_, dest, count, static_cast<off_t>(offset)) == static_cast<ssize_t>(count);
    }

private:
    int fd_;
    uint64_t size_ = 0;
};

uint64_t little(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

uint64_t big(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

bool isPlaceholder(uint64_t size, bool wide) {
    return size == 0 || size == 0xFFFFFFFFull || (wide && size == ~uint64_t{0});
}

std::string shortfall(uint64_t declared, uint64_t held) {
    return "the file declares " + std::to_string(declared) + " bytes of audio but holds only " +
           std::to_string(held);
}

// Compares the declared audio bytes starting at `start` with what the file holds.
std::string judge(const FileBytes& file, uint64_t start, uint64_t declared, bool wide) {
    if (isPlaceholder(declared, wide) || start > file.size()) return {};
    const uint64_t held = file.size() - start;
    return declared > held ? shortfall(declared, held) : std::string();
}

std::string walkRiff(const FileBytes& file, bool rf64) {
    uint64_t wideDataSize = 0;
    uint64_t offset = 12;
    uint8_t head[8];
    for (int n = 0; n < kMaxChunks && file.read(offset, head, 8); ++n) {
        const uint64_t size = little(head + 4, 4);
        if (std::memcmp(head, "ds64", 4) == 0) {
            uint8_t body[16];
            if (file.read(offset + 8, body, 16)) wideDataSize = little(body + 8, 8);
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (rf64 && size == 0xFFFFFFFFull) return judge(file, offset + 8, wideDataSize, true);
            return judge(file, offset + 8, size, false);
        }
        offset += 8 + size + (size & 1);
    }
    return {};
}

std::string walkAiff(const FileBytes& file) {
    uint64_t offset = 12;
    uint8_t head[8];
    for (int n = 0; n < kMaxChunks && file.read(offset, head, 8); ++n) {
        const uint64_t size = big(head + 4, 4);
        // The SSND size counts its 8-byte offset/block-size header too.
        if (std::memcmp(head, "SSND", 4) == 0) return judge(file, offset + 8, size, false);
        offset += 8 + size + (size & 1);
    }
    return {};
}

} // namespace

std::string describeTruncation(const std::string& path) {
    FileBytes file(path);
    uint8_t magic[12];
    if (!file.read(0, magic, 12)) return {};
    const bool wave = std::memcmp(magic + 8, "WAVE", 4) == 0;
    if (wave && std::memcmp(magic, "RIFF", 4) == 0) return walkRiff(file, false);
    if (wave && (std::memcmp(magic, "RF64", 4) == 0 || std::memcmp(magic, "BW64", 4) == 0))
        return walkRiff(file, true);
    const bool aiff =
        std::memcmp(magic + 8, "AIFF", 4) == 0 || std::memcmp(magic + 8, "AIFC", 4) == 0;
    if (aiff && std::memcmp(magic, "FORM", 4) == 0) return walkAiff(file);
    return {};
}

} // namespace sonteva
