#include "audio_io/riff_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace sonteva {

namespace riff {

namespace {

constexpr uint64_t kMax32 = 0xFFFFFFFFull;

class Bytes {
public:
    explicit Bytes(uint8_t* out) : out_(out) {}
    void tag(const char (&fourcc)[5]) { put(fourcc, 4); }
    void u16(uint64_t v) { little(v, 2); }
    void u32(uint64_t v) { little(v, 4); }
    void u64(uint64_t v) { little(v, 8); }
    void zeros(size_t n) {
        std::memset(out_, 0, n);
        out_ += n;
    }

private:
    void put(const void* p, size_t n) {
        std::memcpy(out_, p, n);
        out_ += n;
    }
    void little(uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            *out_++ = static_cast<uint8_t>(v >> (8 * i));
    }
    uint8_t* out_;
};

uint64_t dataBytes(int channels, uint64_t frames) {
    return frames * static_cast<uint64_t>(channels) * 8;
}

void fmtChunk(Bytes& b, int channels, double sampleRate) {
    // The rate field is an integer: any fraction is dropped.
    const uint64_t rate = static_cast<uint32_t>(sampleRate);
    b.tag("fmt ");
    b.u32(16);
    b.u16(3);
    b.u16(static_cast<uint64_t>(channels));
    b.u32(rate);
    b.u32(rate * static_cast<uint64_t>(channels) * 8);
    b.u16(static_cast<uint64_t>(channels) * 8);
    b.u16(64);
}

void rf64Header(uint8_t* out, int channels, double sampleRate, uint64_t frames, uint64_t extra) {
    const uint64_t d = dataBytes(channels, frames);
    Bytes b(out);
    b.tag("RF64");
    b.u32(kMax32);
    b.tag("WAVE");
    b.tag("ds64");
    b.u32(28);
    b.u64(d + 72 + extra);
    b.u64(d);
    b.u64(frames);
    b.u32(0);
    fmtChunk(b, channels, sampleRate);
    b.tag("data");
    b.u32(kMax32);
}

} // namespace

std::array<uint8_t, kStreamingHeaderSize> openingHeader(int channels, double sampleRate) {
    std::array<uint8_t, kStreamingHeaderSize> header{};
    Bytes b(header.data());
    b.tag("RIFF");
    b.u32(0);
    b.tag("WAVE");
    b.tag("JUNK");
    b.u32(28);
    b.zeros(28);
    fmtChunk(b, channels, sampleRate);
    b.tag("data");
    b.u32(0);
    return header;
}

std::array<uint8_t, kStreamingHeaderSize> closingHeader(int channels, double sampleRate,
                                                        uint64_t frames, uint64_t extra) {
    const uint64_t d = dataBytes(channels, frames);
    std::array<uint8_t, kStreamingHeaderSize> header = openingHeader(channels, sampleRate);
    if (d + 72 + extra > kMax32) {
        rf64Header(header.data(), channels, sampleRate, frames, extra);
        return header;
    }
    Bytes(header.data() + 4).u32(d + 72 + extra);
    Bytes(header.data() + 76).u32(d);
    return header;
}

std::vector<uint8_t> wholeFileHeader(int channels, double sampleRate, uint64_t frames,
                                     uint64_t extra) {
    const uint64_t d = dataBytes(channels, frames);
    if (d + 36 + extra > kMax32) {
        std::vector<uint8_t> header(kStreamingHeaderSize);
        rf64Header(header.data(), channels, sampleRate, frames, extra);
        return header;
    }
    std::vector<uint8_t> header(kPlainHeaderSize);
    Bytes b(header.data());
    b.tag("RIFF");
    b.u32(d + 36 + extra);
    b.tag("WAVE");
    fmtChunk(b, channels, sampleRate);
    b.tag("data");
    b.u32(d);
    return header;
}

} // namespace riff

namespace {
// Frames interleaved per write call on the way to the file.
constexpr size_t kChunkFrames = 32768;
} // namespace

Float64WavWriter::Float64WavWriter(PartFile& file, int channels, double sampleRate,
                                   int64_t wholeFileFrames, uint64_t metadataBytes)
    : file_(file), channels_(channels), sampleRate_(sampleRate), streaming_(wholeFileFrames < 0),
      extra_(metadataBytes) {
    if (streaming_) {
        const auto header = riff::openingHeader(channels, sampleRate);
        writeHeader(header.data(), header.size(), false);
    } else {
        const auto header = riff::wholeFileHeader(channels, sampleRate,
                                                  static_cast<uint64_t>(wholeFileFrames), extra_);
        writeHeader(header.data(), header.size(), false);
    }
}

// The header up to "data", the room for metadata, then "data" and its size; or, at the
// end, the same header written over the first.
void Float64WavWriter::writeHeader(const uint8_t* header, size_t size, bool atStart) {
    prefix_ = size - 8;
    if (atStart) {
        file_.writeAt(0, header, prefix_);
        file_.writeAt(prefix_ + extra_, header + prefix_, 8);
        return;
    }
    file_.append(header, prefix_);
    const std::vector<uint8_t> room(extra_, 0);
    file_.append(room.data(), room.size());
    file_.append(header + prefix_, 8);
}

void Float64WavWriter::write(const std::vector<std::vector<double>>& block, size_t first,
                             size_t count) {
    const size_t channels = static_cast<size_t>(channels_);
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(kChunkFrames, count - done);
        bytes_.resize(n * channels * 8);
        for (size_t c = 0; c < channels; ++c) {
            const double* src = block[c].data() + first + done;
            for (size_t i = 0; i < n; ++i) {
                uint64_t bits = std::bit_cast<uint64_t>(src[i]);
                if constexpr (std::endian::native == std::endian::big)
                    bits = __builtin_bswap64(bits);
                std::memcpy(bytes_.data() + (i * channels + c) * 8, &bits, 8);
            }
        }
        file_.append(bytes_.data(), bytes_.size());
        framesWritten_ += n;
        done += n;
    }
}

void Float64WavWriter::finish() {
    if (!streaming_) return;
    const auto header = riff::closingHeader(channels_, sampleRate_, framesWritten_, extra_);
    writeHeader(header.data(), header.size(), true);
}

} // namespace sonteva
