// Containers of compressed streams. Ogg states no length anywhere: a whole stream ends
// with a page marked as its last, which a partial copy lacks. ISO/QuickTime media (M4A)
// state it in their index ('moov'); while the index is whole, the decoder holds the
// index's sample positions against the file in frames (see ffmpeg_source.cpp), so only a
// file cut before or inside its index is judged here, by the sizes of its top-level boxes.
#include "audio_io/container_bytes.h"

#include <array>
#include <string>
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

namespace {

// The length of the MPEG audio frame whose header is `h`, or 0 when `h` is none.
uint64_t mpegFrameBytes(const uint8_t* h) {
    static const int kKbps[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int kRates[3] = {44100, 48000, 32000};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    const int version = (h[1] >> 3) & 3, layer = 4 - ((h[1] >> 1) & 3);
    const int bitrate = h[2] >> 4, rateIndex = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
    if (version == 1 || layer == 4 || bitrate == 0 || bitrate == 15 || rateIndex == 3) return 0;
    const bool mpeg1 = version == 3;
    const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int kbps = kKbps[mpeg1 ? 0 : 1][layer - 1][bitrate];
    if (layer == 1) return uint64_t(12000 * kbps / rate + padding) * 4;
    const int perSample = layer == 3 && !mpeg1 ? 72000 : 144000;
    return uint64_t(perSample) * uint64_t(kbps) / uint64_t(rate) + uint64_t(padding);
}

} // namespace

ContainerLength checkMpeg(const FileBytes& file) {
    // An ID3v2 tag (ten bytes, the size in 7-bit bytes, a ten-byte footer when flagged)
    // may come first; then the first frame, which carries the Xing/LAME header that states
    // the stream's length. Past that, the decoder is asked (sndfile_source.cpp).
    uint64_t offset = 0;
    uint8_t h[10];
    if (file.read(0, h, 3) && std::memcmp(h, "ID3", 3) == 0) {
        if (!file.read(0, h, 10)) return endsBefore(file, 10);
        offset = 10 + ((h[6] & 0x7Fu) << 21 | (h[7] & 0x7Fu) << 14 | (h[8] & 0x7Fu) << 7 |
                       (h[9] & 0x7Fu));
        if (h[5] & 0x10) offset += 10;
        if (offset > file.size()) return endsBefore(file, offset);
        if (offset == file.size()) return endsBeforeAudio(file);
    }
    if (!file.read(offset, h, 4)) return std::nullopt;
    const uint64_t frame = mpegFrameBytes(h);
    if (frame == 0) return std::nullopt;
    if (offset + frame > file.size()) return endsBefore(file, offset + frame);
    std::string first(frame, '\0');
    if (!file.read(offset, first.data(), first.size())) return std::nullopt;
    const auto at = [&](size_t i) { return reinterpret_cast<const uint8_t*>(&first[i]); };
    ContainerLength length;
    uint64_t bytes = 0;
    size_t tag = first.find("Xing");
    if (tag == std::string::npos) tag = first.find("Info");
    if (tag != std::string::npos && tag + 16 <= first.size()) {
        // Flags, then the frame count (flag 1) and the stream's bytes (flag 2).
        const uint64_t flags = big(at(tag + 4), 4);
        if (flags & 2) bytes = big(at(tag + ((flags & 1) ? 12 : 8)), 4);
    } else if ((tag = first.find("VBRI")) != std::string::npos && tag + 14 <= first.size()) {
        bytes = big(at(tag + 10), 4);
    } else {
        length.unstated = true;
    }
    if (bytes > 0) length.ifUnreadable = endsBefore(file, offset + bytes);
    return length;
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
