// The converter's temporary files: the 32-bit WAV handed to it and the 24- or 16-bit WAV
// it writes back. The reader walks chunks defensively: the bytes come from another
// program and may be anything.
#include "audio_io/audio_error.h"
#include "audio_io/sample_math.h"
#include "engines/ssrc_runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace sonteva::SSRCRunner {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kHeaderBytes = 44;
constexpr size_t kFramesPerWrite = 16384;

std::string fileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void throwPlatform(const std::string& action, const std::string& path, int error) {
    throw AudioError(action + " " + fileName(path) + ": " + std::strerror(error));
}

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

uint32_t get16(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8;
}

uint32_t get32(const uint8_t* p) {
    return get16(p) | get16(p + 2) << 16;
}

// The stored integer; `clipped` counts the samples the clamp changed.
int32_t toInt32(double x, int64_t& clipped) {
    double v = x * 2147483647.0;
    if (v != v) v = 0.0; // a NaN would make the integer conversion undefined
    const double c = std::clamp(v, -2147483648.0, 2147483647.0);
    clipped += c != v;
    return static_cast<int32_t>(sample_math::roundHalfAway(c));
}

void writeAll(int fd, const uint8_t* data, size_t size, const std::string& path) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwPlatform("Cannot write", path, errno);
        data += n;
        size -= static_cast<size_t>(n);
    }
}

Bytes int32Header(size_t channels, size_t frames, int64_t sampleRate) {
    const uint64_t dataBytes = uint64_t{frames} * channels * 4;
    const uint64_t byteRate = static_cast<uint64_t>(sampleRate) * channels * 4;
    if (channels > 0xFFFF || sampleRate <= 0 || byteRate > 0xFFFFFFFFu ||
        dataBytes > 0xFFFFFFFFu - 36)
        throw AudioError("The audio does not fit in the converter's 32-bit WAV input");
    Bytes h(kHeaderBytes);
    std::memcpy(&h[0], "RIFF", 4);
    put32(&h[4], static_cast<uint32_t>(dataBytes + 36));
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put32(&h[16], 16);
    put16(&h[20], 1);
    put16(&h[22], static_cast<uint32_t>(channels));
    put32(&h[24], static_cast<uint32_t>(sampleRate));
    put32(&h[28], static_cast<uint32_t>(byteRate));
    put16(&h[32], static_cast<uint32_t>(channels * 4));
    put16(&h[34], 32);
    std::memcpy(&h[36], "data", 4);
    put32(&h[40], static_cast<uint32_t>(dataBytes));
    return h;
}

int64_t writeSamples(int fd, const SignalChannels& channels, size_t frames,
                     const std::string& path) {
    int64_t clipped = 0;
    Bytes block;
    for (size_t start = 0; start < frames; start += kFramesPerWrite) {
        const size_t count = std::min(kFramesPerWrite, frames - start);
        block.assign(count * channels.size() * 4, 0); // shorter channels read as zeros
        for (size_t c = 0; c < channels.size(); ++c) {
            const std::vector<double>& x = channels[c];
            const size_t end = std::min(start + count, std::max(x.size(), start));
            for (size_t i = start; i < end; ++i)
                put32(&block[((i - start) * channels.size() + c) * 4],
                      static_cast<uint32_t>(toInt32(x[i], clipped)));
        }
        writeAll(fd, block.data(), block.size(), path);
    }
    return clipped;
}

// The whole file, or the errno of the failed open or read.
std::optional<Bytes> readFile(const std::string& path, int& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    Bytes bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    ::close(fd);
    return bytes;
}

struct DataLayout {
    uint32_t channels = 0;
    uint32_t bits = 0;
    uint32_t sampleRate = 0;
    size_t dataOffset = 0;
    uint64_t dataSize = 0;
};

// Walks the chunks from offset 12 up to "data". Every bound is checked in 64 bits, so a
// hostile size can neither wrap around nor send a read past the end.
std::optional<DataLayout> walkChunks(const Bytes& bytes) {
    if (bytes.size() < kHeaderBytes + 1) return std::nullopt;
    DataLayout layout;
    const uint64_t size = bytes.size();
    for (uint64_t offset = 12;;) {
        if (offset + 8 > size) return std::nullopt;
        const uint8_t* header = &bytes[offset];
        const uint64_t chunkSize = get32(header + 4);
        const uint64_t body = offset + 8;
        if (std::memcmp(header, "fmt ", 4) == 0) {
            if (body + 16 > size) return std::nullopt;
            layout.channels = get16(&bytes[body + 2]);
            layout.sampleRate = get32(&bytes[body + 4]);
            layout.bits = get16(&bytes[body + 14]);
        } else if (std::memcmp(header, "data", 4) == 0) {
            layout.dataOffset = static_cast<size_t>(body);
            layout.dataSize = chunkSize;
            return layout;
        }
        offset = body + chunkSize + (chunkSize & 1);
    }
}

// The integers at full scale 2^(bits-1): a 24-bit value v comes back as v / 8388608,
// which an exact 24-bit writer stores as v again.
SignalChannels decodePCM(const Bytes& bytes, const DataLayout& layout) {
    const size_t channels = layout.channels, bits = layout.bits, width = bits / 8;
    const uint64_t usable = std::min<uint64_t>(layout.dataSize, bytes.size() - layout.dataOffset);
    const size_t frames = static_cast<size_t>(usable / (channels * width));
    const double scale = std::ldexp(1.0, -static_cast<int>(bits - 1));
    const int32_t sign = int32_t{1} << (bits - 1);
    SignalChannels out(channels, std::vector<double>(frames));
    const uint8_t* p = bytes.data() + layout.dataOffset; // may be the end: no frames
    for (size_t i = 0; i < frames; ++i) {
        for (size_t c = 0; c < channels; ++c, p += width) {
            int32_t v = bits == 24 ? static_cast<int32_t>(get16(p) | uint32_t{p[2]} << 16)
                                   : static_cast<int32_t>(get16(p));
            v = (v ^ sign) - sign; // sign-extend the top byte
            out[c][i] = v * scale;
        }
    }
    return out;
}

std::optional<ConverterOutput> parse(const Bytes& bytes) {
    const std::optional<DataLayout> layout = walkChunks(bytes);
    if (!layout || layout->channels == 0) return std::nullopt;
    ConverterOutput out;
    out.channels = static_cast<int>(layout->channels);
    out.bits = static_cast<int>(layout->bits);
    out.sampleRate = layout->sampleRate;
    if (out.bits == 16 || out.bits == 24) out.samples = decodePCM(bytes, *layout);
    return out;
}

// The samples of a file with the expected word length and channel count.
std::optional<SignalChannels> samplesOf(const Bytes& bytes, int expectedChannels, int bits) {
    std::optional<ConverterOutput> out = parse(bytes);
    if (!out || out->channels != expectedChannels || out->bits != bits) return std::nullopt;
    return std::move(out->samples);
}

} // namespace

int64_t writeInt32WAV(const SignalChannels& channels, int64_t sampleRate, const std::string& path) {
    const size_t frames = channels.empty() ? 0 : channels[0].size();
    const Bytes header = int32Header(channels.size(), frames, sampleRate);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throwPlatform("Cannot write", path, errno);
    int64_t clipped = 0;
    try {
        writeAll(fd, header.data(), header.size(), path);
        clipped = writeSamples(fd, channels, frames, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) throwPlatform("Cannot write", path, errno);
    return clipped;
}

std::optional<ConverterOutput> readConverterOutput(const std::string& path) {
    int error = 0;
    const std::optional<Bytes> bytes = readFile(path, error);
    if (!bytes) throwPlatform("Cannot read", path, error);
    return parse(*bytes);
}

SignalChannels readInt24WAV(const std::string& path, int expectedChannels) {
    int error = 0;
    const std::optional<Bytes> bytes = readFile(path, error);
    if (!bytes) throwPlatform("Cannot read", path, error);
    std::optional<SignalChannels> out = samplesOf(*bytes, expectedChannels, 24);
    if (!out) throw SSRCRunnerError(SSRCRunnerError::Kind::badOutput);
    return std::move(*out);
}

std::optional<SignalChannels> readInt16WAV(const std::string& path, int expectedChannels) {
    int error = 0;
    const std::optional<Bytes> bytes = readFile(path, error);
    if (!bytes) return std::nullopt;
    return samplesOf(*bytes, expectedChannels, 16);
}

} // namespace sonteva::SSRCRunner
