#include "audio_io/chunk_file.h"

#include "audio_io/audio_error.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sonteva::chunks {

namespace {

// A damaged file must not keep a walk going for long.
constexpr int kMaxChunks = 4096;

uint64_t fileSize(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

} // namespace

bool readAt(int fd, uint64_t offset, void* dest, size_t count) {
    auto* out = static_cast<uint8_t*>(dest);
    while (count > 0) {
        const ssize_t n = ::pread(fd, out, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n, offset += uint64_t(n), count -= size_t(n);
    }
    return true;
}

void writeAt(int fd, uint64_t offset, const void* data, size_t count) {
    const auto* in = static_cast<const uint8_t*>(data);
    while (count > 0) {
        const ssize_t n = ::pwrite(fd, in, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw AudioError(std::strerror(n < 0 ? errno : EIO));
        in += n, offset += uint64_t(n), count -= size_t(n);
    }
}

uint64_t getLE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

uint64_t getBE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

void putLE(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putBE(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putText(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

Layout layoutOf(int fd) {
    uint8_t m[12];
    if (!readAt(fd, 0, m, 12)) return Layout::unknown;
    const auto is = [&](size_t at, const char* tag) { return std::memcmp(m + at, tag, 4) == 0; };
    if ((is(0, "RIFF") || is(0, "RF64") || is(0, "BW64")) && is(8, "WAVE")) return Layout::riff;
    if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) return Layout::aiff;
    if (is(0, "fLaC") || std::memcmp(m, "ID3", 3) == 0) return Layout::flac;
    return Layout::unknown;
}

std::vector<ChunkRef> walk(int fd, Layout layout) {
    std::vector<ChunkRef> out;
    const bool big = layout == Layout::aiff;
    const uint64_t end = fileSize(fd);
    uint64_t wideData = 0;
    uint8_t head[8];
    uint64_t offset = 12;
    for (int n = 0; n < kMaxChunks && offset + 8 <= end && readAt(fd, offset, head, 8); ++n) {
        ChunkRef c;
        c.id.assign(reinterpret_cast<const char*>(head), 4);
        c.offset = offset;
        c.size = big ? getBE(head + 4, 4) : getLE(head + 4, 4);
        if (c.id == "ds64") {
            uint8_t body[16];
            if (readAt(fd, offset + 8, body, 16)) wideData = getLE(body + 8, 8);
        }
        if (c.id == "data" && c.size == 0xFFFFFFFFull && wideData > 0) c.size = wideData;
        c.complete = offset + 8 + c.size <= end;
        out.push_back(c);
        offset += 8 + c.size + (c.size & 1);
    }
    return out;
}

std::vector<FlacBlock> flacBlocks(int fd, uint64_t& audioStart) {
    std::vector<FlacBlock> blocks;
    uint8_t head[10];
    uint64_t offset = 0;
    if (readAt(fd, 0, head, 10) && std::memcmp(head, "ID3", 3) == 0) {
        // A syncsafe size: seven bits per byte, plus the footer when its flag is set.
        const uint64_t size = (uint64_t(head[6] & 0x7F) << 21) | (uint64_t(head[7] & 0x7F) << 14) |
                              (uint64_t(head[8] & 0x7F) << 7) | uint64_t(head[9] & 0x7F);
        offset = 10 + size + ((head[5] & 0x10) ? 10 : 0);
    }
    if (!readAt(fd, offset, head, 4) || std::memcmp(head, "fLaC", 4) != 0) return {};
    offset += 4;
    for (bool last = false; !last && blocks.size() < kMaxChunks;) {
        if (!readAt(fd, offset, head, 4)) return {};
        last = head[0] & 0x80;
        FlacBlock b;
        b.type = head[0] & 0x7F;
        b.offset = offset;
        b.body.resize(getBE(head + 1, 3));
        if (!readAt(fd, offset + 4, b.body.data(), b.body.size())) return {};
        offset += 4 + b.body.size();
        blocks.push_back(std::move(b));
    }
    audioStart = offset;
    return blocks;
}

} // namespace sonteva::chunks
