// Containers of compressed streams. Ogg states no length anywhere: a whole stream ends
// with a page marked as its last, which a partial copy lacks. ISO/QuickTime media (M4A)
// state it in their index ('moov'); while the index is whole, the decoder holds the
// index's sample positions against the file in frames (see ffmpeg_source.cpp), so only a
// file cut before or inside its index is judged here, by the sizes of its top-level boxes.
#include "audio_io/container_bytes.h"

#include <array>
#include <vector>

namespace sonteva::containers {

namespace {

// Ogg's page checksum: CRC-32, polynomial 0x04C11DB7, not reflected, starting from 0.
uint32_t oggCrc(const uint8_t* data, size_t size) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t byte = (i >= 22 && i < 26) ? 0 : data[i]; // the checksum's own field
        crc = (crc << 8) ^ table[((crc >> 24) ^ byte) & 0xFF];
    }
    return crc;
}

// The length of the whole page at `at`, or 0 when no whole, intact page starts there.
size_t oggPageAt(const std::vector<uint8_t>& bytes, size_t at) {
    if (bytes.size() - at < 27 || std::memcmp(&bytes[at], "OggS", 4) != 0 || bytes[at + 4] != 0)
        return 0;
    const size_t segments = bytes[at + 26];
    if (bytes.size() - at < 27 + segments) return 0;
    size_t length = 27 + segments;
    for (size_t i = 0; i < segments; ++i)
        length += bytes[at + 27 + i];
    if (bytes.size() - at < length) return 0;
    return oggCrc(&bytes[at], length) == little(&bytes[at + 22], 4) ? length : 0;
}

} // namespace

ContainerLength checkOgg(const FileBytes& file) {
    // A page holds at most 65307 bytes, so the last whole page starts within the last two
    // pages' worth of the file, whatever partial page follows it.
    constexpr uint64_t kWindow = 2 * 65307 + 27;
    const uint64_t from = file.size() > kWindow ? file.size() - kWindow : 0;
    std::vector<uint8_t> tail(static_cast<size_t>(file.size() - from));
    if (!file.read(from, tail.data(), tail.size())) return std::nullopt;
    for (size_t at = tail.size(); at-- > 0;) {
        if (tail[at] != 'O' || oggPageAt(tail, at) == 0) continue;
        if (tail[at + 5] & 0x04) return std::nullopt; // end of stream: whatever follows is extra
        break;
    }
    // No whole last page, or one not marked as the end (possibly followed by a partial one).
    return EarlyEnd{EarlyEnd::Unit::bytes, static_cast<int64_t>(file.size()), -1,
                    "the Ogg stream stops without its final page"};
}

ContainerLength checkFlac(const FileBytes& file) {
    // "fLaC", then metadata blocks (a last-block flag and type, a 24-bit length) ahead of
    // the first frame. The frames themselves state no sizes; the decoder is asked whether
    // it reaches the length the stream information declares (sndfile_source.cpp).
    uint64_t offset = 4;
    uint8_t head[4];
    for (int n = 0; n < kMaxChunks; ++n) {
        if (!file.read(offset, head, 4)) return endsBefore(file, offset + 4);
        offset += 4 + big(head + 1, 3);
        if (offset > file.size()) return endsBefore(file, offset);
        if (head[0] & 0x80) break;
    }
    return offset < file.size() ? ContainerLength() : ContainerLength(endsBeforeAudio(file));
}

ContainerLength walkIsoMedia(const FileBytes& file) {
    bool index = false, audio = false;
    uint64_t offset = 0;
    uint8_t head[16];
    for (int n = 0; n < kMaxChunks && offset < file.size(); ++n) {
        if (!file.read(offset, head, 8)) return index ? std::nullopt : endsBefore(file, offset + 8);
        uint64_t size = big(head, 4);
        if (size == 1) {
            if (!file.read(offset, head, 16))
                return index ? std::nullopt : endsBefore(file, offset + 16);
            size = big(head + 8, 8);
        }
        // Size 0: the box runs to the end of the file, as a recording still being written
        // leaves its audio.
        if (size == 0 || isPlaceholder(size, 8)) return std::nullopt;
        if (size < 8 || size > UINT64_MAX - offset) return std::nullopt;
        if (offset + size > file.size())
            return index ? std::nullopt : endsBefore(file, offset + size);
        index = index || tagIs(head + 4, "moov");
        audio = audio || tagIs(head + 4, "mdat");
        offset += size;
    }
    if (!audio || index) return std::nullopt;
    return EarlyEnd{EarlyEnd::Unit::bytes, static_cast<int64_t>(file.size()), -1,
                    "the file ends before the index of its audio ('moov')"};
}

} // namespace sonteva::containers
