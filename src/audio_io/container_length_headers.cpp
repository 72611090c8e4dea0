// Containers with a fixed header or a short list of blocks: Sun AU, NIST SPHERE, Creative
// VOC, and the MATLAB files libsndfile writes (v4 and v5: a 1×1 "samplerate" matrix, then
// the audio as a channels × frames matrix).
#include "audio_io/container_bytes.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace sonteva::containers {

namespace {

// The bytes of one AU sample for the encodings with a fixed size; 0 for the rest.
uint64_t auSampleBytes(uint64_t encoding) {
    switch (encoding) {
    case 1:  // µ-law
    case 2:  // 8-bit linear
    case 27: // A-law
        return 1;
    case 3:
        return 2;
    case 4:
        return 3;
    case 5:
    case 6: // float
        return 4;
    case 7: // double
        return 8;
    default:
        return 0;
    }
}

} // namespace

ContainerLength checkAu(const FileBytes& file, bool bigEndian) {
    uint8_t h[24];
    if (!file.read(0, h, 24)) {
        uint64_t end = 24;
        if (file.read(0, h, 12) && !isPlaceholder(endian(h + 8, 4, bigEndian), 4))
            end = std::max(end, endian(h + 4, 4, bigEndian) + endian(h + 8, 4, bigEndian));
        return endsBefore(file, end);
    }
    const uint64_t offset = endian(h + 4, 4, bigEndian), size = endian(h + 8, 4, bigEndian);
    const uint64_t channels = endian(h + 20, 4, bigEndian);
    if (isPlaceholder(size, 4)) {
        if (offset > file.size()) return endsBefore(file, offset);
        return openEnded();
    }
    return judgeAudio(file, offset, size, channels * auSampleBytes(endian(h + 12, 4, bigEndian)));
}

ContainerLength checkNist(const FileBytes& file) {
    // "NIST_1A\n", the header's size in bytes as text, then "key -type value" lines up to
    // "end_head".
    char first[16];
    if (!file.read(0, first, 16)) return endsBefore(file, 16);
    const uint64_t headerSize = std::strtoull(std::string(first + 8, 8).c_str(), nullptr, 10);
    if (headerSize < 16 || headerSize > (1u << 20)) return std::nullopt;
    if (file.size() < headerSize) return endsBefore(file, headerSize);
    std::string header(headerSize, '\0');
    if (!file.read(0, header.data(), header.size())) return std::nullopt;
    header.resize(std::min(header.size(), header.find("end_head")));
    const auto field = [&](std::string_view key) -> std::string {
        std::string needle(1, '\n');
        needle.append(key).push_back(' ');
        const size_t at = header.find(needle);
        if (at == std::string::npos) return {};
        const size_t value = header.find(' ', header.find(' ', at + 1) + 1);
        return value == std::string::npos
                   ? std::string()
                   : header.substr(value + 1, header.find('\n', value) - value - 1);
    };
    const std::string coding = field("sample_coding");
    // Shorten, WavPack and the like: the bytes say nothing about the frames.
    const bool plain =
        coding.empty() || coding.rfind("pcm", 0) == 0 || coding.find("law") != std::string::npos;
    for (const char* packed : {"shorten", "wavpack", "shortpack"})
        if (!plain || coding.find(packed) != std::string::npos) return std::nullopt;
    const uint64_t frames = std::strtoull(field("sample_count").c_str(), nullptr, 10);
    const uint64_t channels = std::strtoull(field("channel_count").c_str(), nullptr, 10);
    const uint64_t bytes = std::strtoull(field("sample_n_bytes").c_str(), nullptr, 10);
    if (frames == 0 || channels == 0 || channels > 1024 || bytes == 0 || bytes > 8)
        return std::nullopt;
    return judgeFrames(file, headerSize, frames, channels * bytes);
}

ContainerLength walkVoc(const FileBytes& file) {
    uint8_t h[26];
    if (!file.read(0, h, 26)) return endsBefore(file, 26);
    uint64_t offset = little(h + 20, 2);
    if (offset < 26) return std::nullopt;
    // Whole frames in the blocks before, and whether each block so far had a frame size.
    uint64_t framesBefore = 0, extendedChannels = 1, lastFrameBytes = 0;
    bool framesKnown = true, sawAudio = false;
    uint8_t head[16];
    for (int n = 0; n < kMaxChunks; ++n) {
        if (!file.read(offset, head, 1) || head[0] == 0) break; // no terminator is fine
        if (!file.read(offset, head, 4)) return endsBefore(file, offset + 4);
        const unsigned type = head[0];
        const uint64_t size = little(head + 1, 3), body = offset + 4, end = body + size;
        if (type == 8 && file.read(body, head, 4)) extendedChannels = head[3] + 1u;
        if (type == 1 || type == 2 || type == 9) {
            if (isPlaceholder(size, 3)) return std::nullopt;
            uint64_t skip = 0, frameBytes = 0;
            if (type == 1 && file.read(body, head, 2)) {
                skip = 2; // rate, codec: 0 is 8-bit unsigned PCM
                frameBytes = head[1] == 0 ? extendedChannels : 0;
                extendedChannels = 1;
            } else if (type == 2) {
                frameBytes = lastFrameBytes;
            } else if (type == 9 && file.read(body, head, 12)) {
                skip = 12; // rate, bits, channels, codec (0, 4 PCM; 6, 7 A-law, µ-law)
                const uint64_t codec = little(head + 6, 2);
                const bool fixed = codec == 0 || codec == 4 || codec == 6 || codec == 7;
                frameBytes = fixed ? uint64_t(head[5]) * (head[4] / 8u) : 0;
            } else {
                return endsBefore(file, end);
            }
            if (size < skip) return std::nullopt;
            sawAudio = true;
            lastFrameBytes = frameBytes;
            framesKnown = framesKnown && frameBytes > 0;
            if (end > file.size()) {
                auto length =
                    judgeAudio(file, body + skip, size - skip, framesKnown ? frameBytes : 0);
                if (length.early && length.early->unit == EarlyEnd::Unit::frames) {
                    length.early->held += static_cast<int64_t>(framesBefore);
                    length.early->declared += static_cast<int64_t>(framesBefore);
                }
                return length.early;
            }
            if (framesKnown) framesBefore += (size - skip) / frameBytes;
        } else if (end > file.size()) {
            // A damaged block after the audio takes nothing from it.
            return sawAudio ? std::nullopt : endsBefore(file, end);
        }
        offset = end;
    }
    if (!sawAudio) return endsBeforeAudio(file);
    ContainerLength length;
    if (framesKnown) length.frames = static_cast<int64_t>(framesBefore);
    return length;
}

ContainerLength walkMat4(const FileBytes& file) {
    static const uint64_t kElementBytes[6] = {8, 4, 4, 2, 2, 1}; // by the type's P digit
    uint64_t offset = 0;
    for (int matrix = 0; matrix < 2; ++matrix) {
        uint8_t h[20];
        if (!file.read(offset, h, 20)) {
            if (offset >= file.size()) return endsBeforeAudio(file);
            return endsBefore(file, offset + 20);
        }
        // The header's integers are in the byte order its type's M digit names.
        const bool bigEndian = little(h, 4) >= 10000;
        const uint64_t type = endian(h, 4, bigEndian);
        const uint64_t rows = endian(h + 4, 4, bigEndian), cols = endian(h + 8, 4, bigEndian);
        const uint64_t imaginary = endian(h + 12, 4, bigEndian) ? 2 : 1;
        const uint64_t name = endian(h + 16, 4, bigEndian);
        const uint64_t precision = (type / 10) % 10;
        if (precision > 5 || name > 4096 || rows > 0xFFFFFF) return std::nullopt;
        const uint64_t frameBytes = rows * kElementBytes[precision] * imaginary;
        const uint64_t start = offset + 20 + name, bytes = frameBytes * cols;
        if (matrix == 1) return judgeAudio(file, start, bytes, frameBytes);
        if (start + bytes > file.size()) return endsBefore(file, start + bytes);
        offset = start + bytes;
    }
    return std::nullopt;
}

namespace {

// A MATLAB v5 data element: its type and size, and where its data starts (the small
// format packs a size below 5 into the tag itself).
struct Element {
    uint64_t type = 0, size = 0, data = 0, end = 0;
};

bool readElement(const FileBytes& file, uint64_t at, bool bigEndian, Element& e) {
    uint8_t tag[8];
    if (!file.read(at, tag, 8)) return false;
    const uint64_t word = endian(tag, 4, bigEndian);
    if (word >> 16) {
        e = {word & 0xFFFF, word >> 16, at + 4, at + 8};
    } else {
        e.type = word;
        e.size = endian(tag + 4, 4, bigEndian);
        e.data = at + 8;
        e.end = e.data + ((e.size + 7) & ~uint64_t{7});
    }
    return true;
}

uint64_t mat5ElementBytes(uint64_t type) {
    static const uint64_t bytes[] = {0, 1, 1, 2, 2, 4, 4, 4, 0, 8, 0, 0, 8, 8};
    return type < std::size(bytes) ? bytes[type] : 0;
}

// The audio matrix: array flags, dimensions (channels × frames), name, then the samples.
ContainerLength judgeMat5Audio(const FileBytes& file, uint64_t at, bool bigEndian, uint64_t end) {
    Element flags, dims, name, real;
    uint8_t d[8];
    if (!readElement(file, at, bigEndian, flags) ||
        !readElement(file, flags.end, bigEndian, dims) || !file.read(dims.data, d, 8) ||
        !readElement(file, dims.end, bigEndian, name) ||
        !readElement(file, name.end, bigEndian, real))
        return endsBefore(file, end);
    const uint64_t channels = endian(d, 4, bigEndian);
    return judgeAudio(file, real.data, real.size, channels * mat5ElementBytes(real.type));
}

} // namespace

ContainerLength walkMat5(const FileBytes& file) {
    uint8_t h[128];
    if (!file.read(0, h, 128)) return endsBefore(file, 128);
    if (!tagIs(h + 124, "\x00\x01IM") && !tagIs(h + 124, "\x01\x00MI")) return std::nullopt;
    const bool bigEndian = h[126] == 'M';
    uint64_t offset = 128;
    for (int matrix = 0; matrix < 2; ++matrix) {
        Element e;
        if (!readElement(file, offset, bigEndian, e))
            return offset >= file.size() ? endsBeforeAudio(file) : endsBefore(file, offset + 8);
        if (e.type != 14) return std::nullopt; // compressed or foreign: not libsndfile's
        if (isPlaceholder(e.size, 4)) return std::nullopt;
        if (matrix == 1) return judgeMat5Audio(file, e.data, bigEndian, e.end);
        if (e.data + e.size > file.size()) return endsBefore(file, e.data + e.size);
        offset = e.end;
    }
    return std::nullopt;
}

} // namespace sonteva::containers
