// The chunked containers: RIFF/RF64/BW64 WAVE, Sony Wave64, IFF (AIFF, AIFC, 8SVX, 16SV)
// and CAF. Each walk reads the format chunk for the size of one frame, stops at the audio
// chunk and holds its declared size against the file. Chunks after the audio are never
// looked at: what follows the audio (a damaged trailing chunk, garbage) cannot shorten it.
#include "audio_io/container_bytes.h"

#include <algorithm>

namespace sonteva::containers {

namespace {

// The walk met the end of the file before the audio chunk: inside a chunk (its declared
// end is past the file), or at a chunk boundary, where only the container's outer size
// (0 when it has none) can say how much more there should have been.
std::optional<EarlyEnd> endsBeforeAudio(const FileBytes& file, uint64_t reached,
                                        uint64_t outerEnd) {
    if (reached > file.size() || outerEnd > file.size())
        return endsBefore(file, std::max(reached, outerEnd));
    return endsBeforeAudio(file);
}

// The size of one frame for the WAVE format tags whose samples have a fixed size (PCM,
// float, A-law, µ-law, and the extensible form of each); 0 for compressed formats. It is
// counted from the channels and the sample size, as libsndfile counts it, not taken from
// the block alignment field, which some writers get wrong.
uint64_t waveFrameBytes(const uint8_t* fmt, uint64_t size) {
    unsigned tag = static_cast<unsigned>(little(fmt, 2));
    if (tag == 0xFFFE && size >= 26) tag = static_cast<unsigned>(little(fmt + 24, 2));
    const uint64_t channels = little(fmt + 2, 2), bits = little(fmt + 14, 2);
    if (tag == 6 || tag == 7) return channels;
    return tag == 1 || tag == 3 ? channels * ((bits + 7) / 8) : 0;
}

uint64_t pad(uint64_t size) {
    return size + (size & 1);
}

} // namespace

ContainerLength walkRiff(const FileBytes& file, bool rf64) {
    uint8_t top[12];
    uint64_t outerEnd = 0;
    if (file.read(0, top, 8) && !isPlaceholder(little(top + 4, 4), 4))
        outerEnd = 8 + little(top + 4, 4);
    if (!file.read(0, top, 12)) return endsBefore(file, std::max<uint64_t>(12, outerEnd));
    uint64_t frameBytes = 0, wideData = 0;
    uint64_t offset = 12;
    uint8_t head[8];
    for (int n = 0; n < kMaxChunks; ++n) {
        if (!file.read(offset, head, 8)) return endsBeforeAudio(file, offset + 8, outerEnd);
        const uint64_t size = little(head + 4, 4);
        const uint64_t next = offset + 8 + pad(size);
        if (tagIs(head, "data")) {
            if (rf64 && size == 0xFFFFFFFFull) {
                if (isPlaceholder(wideData, 8)) return openEnded();
                return judgeAudio(file, offset + 8, wideData, frameBytes);
            }
            if (isPlaceholder(size, 4)) return openEnded();
            return judgeAudio(file, offset + 8, size, frameBytes);
        }
        if (next > file.size()) return endsBeforeAudio(file, next, outerEnd);
        uint8_t body[40] = {};
        const size_t bodyBytes = static_cast<size_t>(std::min<uint64_t>(size, sizeof body));
        file.read(offset + 8, body, bodyBytes);
        if (tagIs(head, "fmt ") && size >= 16) frameBytes = waveFrameBytes(body, size);
        if (tagIs(head, "ds64") && size >= 16) {
            wideData = little(body + 8, 8);
            const uint64_t riff = little(body, 8);
            if (rf64 && outerEnd == 0 && !isPlaceholder(riff, 8) && riff < UINT64_MAX - 8)
                outerEnd = 8 + riff;
        }
        offset = next;
    }
    return std::nullopt;
}

ContainerLength walkWave64(const FileBytes& file) {
    // Every chunk is a 16-byte GUID whose first four bytes name it, and a 64-bit size
    // that counts the 24-byte chunk header; chunks start on 8-byte boundaries.
    static const uint8_t kTail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                      0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    uint8_t top[40];
    uint64_t outerEnd = 0;
    if (file.read(16, top, 8) && !isPlaceholder(little(top, 8), 8)) outerEnd = little(top, 8);
    if (!file.read(0, top, 40)) return endsBefore(file, std::max<uint64_t>(40, outerEnd));
    uint64_t frameBytes = 0;
    uint64_t offset = 40;
    uint8_t head[24];
    for (int n = 0; n < kMaxChunks; ++n) {
        if (!file.read(offset, head, 24)) return endsBeforeAudio(file, offset + 24, outerEnd);
        const uint64_t size = little(head + 16, 8);
        const bool known = std::memcmp(head + 4, kTail, 12) == 0;
        if (known && tagIs(head, "data")) {
            if (isPlaceholder(size, 8) || size < 24) return openEnded();
            return judgeAudio(file, offset + 24, size - 24, frameBytes);
        }
        if (size < 24 || size > UINT64_MAX - 8 - offset) return std::nullopt;
        const uint64_t next = offset + ((size + 7) & ~uint64_t{7});
        if (offset + size > file.size()) return endsBeforeAudio(file, offset + size, outerEnd);
        uint8_t body[40] = {};
        file.read(offset + 24, body, static_cast<size_t>(std::min<uint64_t>(size - 24, 40)));
        if (known && tagIs(head, "fmt ") && size >= 40)
            frameBytes = waveFrameBytes(body, size - 24);
        offset = next;
    }
    return std::nullopt;
}

namespace {

// AIFC compression types whose samples have a fixed size: the bytes of one sample, or 0
// (the size follows from the COMM chunk's sample size).
bool aifcFixed(const uint8_t* type, uint64_t& sampleBytes) {
    for (const char* t :
         {"NONE", "sowt", "twos", "raw ", "in24", "in32", "fl32", "FL32", "fl64", "FL64"})
        if (tagIs(type, t)) return true;
    for (const char* t : {"ulaw", "ULAW", "alaw", "ALAW"})
        if (tagIs(type, t)) {
            sampleBytes = 1;
            return true;
        }
    return false;
}

struct IffFormat {
    uint64_t channels = 1;
    uint64_t sampleBytes = 0; // 0: unknown or compressed
    bool known = false;       // the format chunk was read
    uint64_t frameBytes() const { return known ? channels * sampleBytes : 0; }
};

// COMM (AIFF, AIFC), VHDR and CHAN (8SVX, 16SV).
void readIffFormat(const uint8_t* head, const uint8_t* body, uint64_t size, bool aifc, bool wide,
                   IffFormat& format) {
    if (tagIs(head, "COMM") && size >= 18) {
        format.known = true;
        format.channels = big(body, 2);
        format.sampleBytes = (big(body + 6, 2) + 7) / 8;
        if (aifc && (size < 22 || !aifcFixed(body + 18, format.sampleBytes)))
            format.sampleBytes = 0;
    } else if (tagIs(head, "VHDR") && size >= 20) {
        format.known = true;
        format.sampleBytes = body[15] == 0 ? (wide ? 2 : 1) : 0; // sCompression
    } else if (tagIs(head, "CHAN") && size >= 4) {
        format.channels = big(body, 4) == 6 ? 2 : 1;
    }
}

} // namespace

ContainerLength walkIff(const FileBytes& file) {
    uint8_t top[12];
    uint64_t outerEnd = 0;
    if (file.read(0, top, 8) && !isPlaceholder(big(top + 4, 4), 4)) outerEnd = 8 + big(top + 4, 4);
    if (!file.read(0, top, 12)) return endsBefore(file, std::max<uint64_t>(12, outerEnd));
    const bool aifc = tagIs(top + 8, "AIFC"), wide = tagIs(top + 8, "16SV");
    IffFormat format;
    uint64_t offset = 12;
    uint8_t head[8];
    for (int n = 0; n < kMaxChunks; ++n) {
        if (!file.read(offset, head, 8)) return endsBeforeAudio(file, offset + 8, outerEnd);
        const uint64_t size = big(head + 4, 4);
        const uint64_t next = offset + 8 + pad(size);
        if (tagIs(head, "SSND") || tagIs(head, "BODY")) {
            if (isPlaceholder(size, 4)) return openEnded();
            uint64_t start = offset + 8, declared = size;
            if (tagIs(head, "SSND")) {
                // The sound data starts after an 8-byte header and the offset it states.
                uint8_t ssnd[8];
                if (!file.read(start, ssnd, 8)) return endsBefore(file, offset + 8 + size);
                const uint64_t skip = 8 + big(ssnd, 4);
                if (size < skip) return std::nullopt;
                start += skip;
                declared -= skip;
            }
            return judgeAudio(file, start, declared, format.frameBytes());
        }
        if (next > file.size()) return endsBeforeAudio(file, next, outerEnd);
        uint8_t body[24] = {};
        file.read(offset + 8, body, static_cast<size_t>(std::min<uint64_t>(size, sizeof body)));
        readIffFormat(head, body, size, aifc, wide, format);
        offset = next;
    }
    return std::nullopt;
}

ContainerLength walkCaf(const FileBytes& file) {
    uint8_t top[8];
    if (!file.read(0, top, 8)) return endsBefore(file, 8);
    uint64_t frameBytes = 0;
    uint64_t offset = 8;
    bool afterAudio = false;
    ContainerLength audio;
    uint8_t head[12];
    for (int n = 0; n < kMaxChunks; ++n) {
        if (!file.read(offset, head, 12)) {
            if (!afterAudio) return endsBeforeAudio(file, offset + 12, 0);
            if (offset < file.size()) audio.early = endsBefore(file, offset + 12);
            return audio;
        }
        const uint64_t size = big(head + 4, 8);
        if (tagIs(head, "data") && !afterAudio) {
            // -1 is "until the end of the file"; the body starts with a 4-byte edit count.
            if (isPlaceholder(size, 8) || size < 4) return openEnded();
            audio = judgeAudio(file, offset + 16, size - 4, frameBytes);
            if (audio.early) return audio;
            afterAudio = true;
        }
        if (size > INT64_MAX) return audio;
        const uint64_t next = offset + 12 + size;
        if (next > file.size()) {
            // Past the audio only the packet table matters: compressed audio cannot be
            // decoded to its end without it.
            if (!afterAudio) return endsBeforeAudio(file, next, 0);
            if (tagIs(head, "pakt")) audio.early = endsBefore(file, next);
            return audio;
        }
        uint8_t desc[32];
        if (tagIs(head, "desc") && size >= 32 && file.read(offset + 12, desc, 32)) {
            const uint64_t bytesPerPacket = big(desc + 16, 4), framesPerPacket = big(desc + 20, 4);
            const bool law = tagIs(desc + 8, "ulaw") || tagIs(desc + 8, "alaw");
            if (tagIs(desc + 8, "lpcm") && framesPerPacket == 1) frameBytes = bytesPerPacket;
            if (law) frameBytes = big(desc + 24, 4);
        }
        offset = next;
    }
    return audio;
}

} // namespace sonteva::containers
