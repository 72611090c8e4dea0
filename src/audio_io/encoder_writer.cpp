#include "audio_io/encoder_writer.h"

#include "audio_io/audio_error.h"
#include "audio_io/sample_math.h"
#include "audio_io/sndfile_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace sonteva {

namespace {

// Room kept below 0xFFFFFFFF for the chunks libsndfile puts before the audio (fmt, fact,
// PEAK with one entry per channel).
constexpr uint64_t kHeaderAllowance = 65536;
constexpr uint64_t kMax32 = 0xFFFFFFFFull;
constexpr size_t kChunkFrames = 32768;

int subtypeFor(BitDepth depth) {
    switch (depth) {
    case BitDepth::int16:
        return SF_FORMAT_PCM_16;
    case BitDepth::int24:
        return SF_FORMAT_PCM_24;
    case BitDepth::int32:
        return SF_FORMAT_PCM_32;
    case BitDepth::float32:
        return SF_FORMAT_FLOAT;
    case BitDepth::float64:
        return SF_FORMAT_DOUBLE;
    }
    return 0;
}

int64_t framesWithin32Bits(BitDepth depth, int channels) {
    const uint64_t frameBytes = static_cast<uint64_t>(bitsOf(depth) / 8) * channels;
    return static_cast<int64_t>((kMax32 - kHeaderAllowance) / frameBytes);
}

// libsndfile prefixes system errors; the job's line shows the platform's own text.
std::string platformText(const std::string& text) {
    std::string t = text;
    const std::string prefix = "System error : ";
    if (t.rfind(prefix, 0) == 0) t.erase(0, prefix.size());
    if (!t.empty() && t.back() == '.') t.pop_back();
    return t;
}

SONTEVA_VECTOR_CLONES void quantiseColumn(const double* src, int32_t* dst, size_t n, double scale,
                                          int shift) {
    for (size_t i = 0; i < n; ++i)
        dst[i] = static_cast<int32_t>(static_cast<uint32_t>(sample_math::quantise(src[i], scale))
                                      << shift);
}

// One channel's quantised integers straight into the interleaved bytes of the file: the
// same words libsndfile stores for them (it takes integers at 32-bit full scale and keeps
// the top bits), in the file's byte order.
template <int Bytes, bool Swapped, bool Contiguous>
SONTEVA_VECTOR_CLONES void packColumn(const double* src, uint8_t* dst, size_t n, size_t stride,
                                      double scale) {
    const size_t step = Contiguous ? size_t{Bytes} : stride;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t q = static_cast<uint32_t>(sample_math::quantise(src[i], scale));
        uint8_t* p = dst + i * step;
        if constexpr (Bytes == 2) {
            const uint16_t w = static_cast<uint16_t>(q);
            const uint16_t v = Swapped ? __builtin_bswap16(w) : w;
            std::memcpy(p, &v, 2);
        } else if constexpr (Bytes == 4) {
            const uint32_t v = Swapped ? __builtin_bswap32(q) : q;
            std::memcpy(p, &v, 4);
        } else {
            p[Swapped ? 2 : 0] = static_cast<uint8_t>(q);
            p[1] = static_cast<uint8_t>(q >> 8);
            p[Swapped ? 0 : 2] = static_cast<uint8_t>(q >> 16);
        }
    }
}

// Both channels of a 16-bit stereo file in one pass: each frame one 32-bit store, which
// vectorises where the separate 16-bit stores of packColumn do not.
template <bool Swapped>
SONTEVA_VECTOR_CLONES void packStereo16(const double* left, const double* right, uint8_t* dst,
                                        size_t n, double scale) {
    for (size_t i = 0; i < n; ++i) {
        uint32_t a = static_cast<uint16_t>(sample_math::quantise(left[i], scale));
        uint32_t b = static_cast<uint16_t>(sample_math::quantise(right[i], scale));
        if constexpr (Swapped) {
            a = static_cast<uint16_t>((a >> 8) | (a << 8));
            b = static_cast<uint16_t>((b >> 8) | (b << 8));
        }
        const uint32_t frame = a | (b << 16);
        std::memcpy(dst + 4 * i, &frame, 4);
    }
}

template <int Bytes>
void packColumn(bool swapped, const double* src, uint8_t* dst, size_t n, size_t stride,
                double scale) {
    // A mono file's words follow each other: a stride the compiler knows vectorises.
    if (stride == Bytes && swapped) packColumn<Bytes, true, true>(src, dst, n, stride, scale);
    if (stride == Bytes && !swapped) packColumn<Bytes, false, true>(src, dst, n, stride, scale);
    if (stride != Bytes && swapped) packColumn<Bytes, true, false>(src, dst, n, stride, scale);
    if (stride != Bytes && !swapped) packColumn<Bytes, false, false>(src, dst, n, stride, scale);
}

// Integer words the writer may hand over as bytes: plain PCM in WAV, RF64 or AIFF.
int rawBytesOf(int sfFormat) {
    switch (sfFormat & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_RF64:
    case SF_FORMAT_AIFF:
        break;
    default:
        return 0;
    }
    switch (sfFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
        return 2;
    case SF_FORMAT_PCM_24:
        return 3;
    case SF_FORMAT_PCM_32:
        return 4;
    default:
        return 0;
    }
}

} // namespace

EncoderPlan planEncoder(AudioFormat format, BitDepth depth, int channels, int64_t expectedFrames) {
    EncoderPlan plan;
    if (format == AudioFormat::flac) {
        // FLAC holds 16 or 24 bits: wider and float word lengths are stored as 24-bit.
        const bool sixteen = depth == BitDepth::int16;
        plan.sfFormat = SF_FORMAT_FLAC | (sixteen ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
        plan.quantiseBits = sixteen ? 16 : 24;
        return plan;
    }
    plan.quantiseBits = isInteger(depth) ? bitsOf(depth) : 0;
    const int64_t limit = framesWithin32Bits(depth, std::max(channels, 1));
    if (format == AudioFormat::aiff) {
        if (expectedFrames > limit)
            throw AudioError("An AIFF file cannot hold this much audio (more than 4 GiB); "
                             "choose WAV or FLAC");
        plan.sfFormat = SF_FORMAT_AIFF | subtypeFor(depth);
        plan.frameLimit = limit;
        return plan;
    }
    // A margin over the estimate: the converted length can differ by a filter's length.
    const int64_t margin = expectedFrames / 100 + 65536;
    if (expectedFrames < 0 || expectedFrames > limit - margin) {
        plan.sfFormat = SF_FORMAT_RF64 | subtypeFor(depth);
        plan.autoDowngrade = true;
    } else {
        plan.sfFormat = SF_FORMAT_WAV | subtypeFor(depth);
        plan.frameLimit = limit;
    }
    return plan;
}

EncoderWriter::EncoderWriter(int fd, const EncoderPlan& plan, double sampleRate, int channels,
                             uint64_t placeholderBytes)
    : io_(fd, SndfileFileIo::Mode::write), plan_(plan), channels_(channels) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = channels;
    info.format = plan.sfFormat;
    if (!sf_format_check(&info))
        throw AudioIOError(2, "the encoder does not take " + std::to_string(channels) +
                                  " channels at " + std::to_string(info.samplerate) + " Hz");
    SF_VIRTUAL_IO vio = SndfileFileIo::callbacks();
    file_ = sf_open_virtual(&vio, SFM_WRITE, &info, &io_);
    if (!file_) {
        if (io_.error() != 0) throw AudioError(std::strerror(io_.error()));
        throw AudioError(platformText(sf_strerror(nullptr)));
    }
    if (plan.autoDowngrade) sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    rawBytes_ = rawBytesOf(plan.sfFormat);
    if (8 * rawBytes_ != plan.quantiseBits) rawBytes_ = 0;
    rawSwapped_ = sf_command(file_, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_TRUE;
    if (placeholderBytes > 0) {
        // libsndfile pads the chunks it is given to four bytes and declares the padded
        // size, so carried chunks cannot go through it unchanged: it keeps room instead.
        std::vector<char> zeros(placeholderBytes, 0);
        SF_CHUNK_INFO chunk{};
        std::memcpy(chunk.id, kPlaceholderId, 4);
        chunk.id_size = 4;
        chunk.datalen = static_cast<unsigned>(placeholderBytes);
        chunk.data = zeros.data();
        if (sf_set_chunk(file_, &chunk) != SF_ERR_NO_ERROR) {
            const std::string reason = platformText(sf_strerror(file_));
            sf_close(file_);
            file_ = nullptr;
            throw AudioError("The metadata could not be placed: " + reason);
        }
    }
}

EncoderWriter::~EncoderWriter() {
    if (file_) sf_close(file_);
}

void EncoderWriter::failWrite() {
    if (io_.error() != 0) throw AudioError(std::strerror(io_.error()));
    throw AudioError(platformText(sf_strerror(file_)));
}

void EncoderWriter::write(const std::vector<std::vector<double>>& block, size_t first,
                          size_t count) {
    if (plan_.frameLimit >= 0 && written_ + static_cast<int64_t>(count) > plan_.frameLimit)
        throw AudioError("The output passes the 4 GiB limit of its container; "
                         "more audio arrived than announced");
    const size_t channels = static_cast<size_t>(channels_);
    const double scale = std::ldexp(1.0, plan_.quantiseBits - 1);
    const int shift = 32 - plan_.quantiseBits;
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(kChunkFrames, count - done);
        sf_count_t stored = 0;
        if (rawBytes_ > 0) {
            const size_t frameBytes = size_t(rawBytes_) * channels;
            bytes_.resize(n * frameBytes);
            const bool stereo16 = rawBytes_ == 2 && channels == 2;
            if (stereo16 && rawSwapped_)
                packStereo16<true>(block[0].data() + first + done, block[1].data() + first + done,
                                   bytes_.data(), n, scale);
            if (stereo16 && !rawSwapped_)
                packStereo16<false>(block[0].data() + first + done, block[1].data() + first + done,
                                    bytes_.data(), n, scale);
            for (size_t c = 0; c < (stereo16 ? 0 : channels); ++c) {
                const double* src = block[c].data() + first + done;
                uint8_t* dst = bytes_.data() + c * size_t(rawBytes_);
                if (rawBytes_ == 2) packColumn<2>(rawSwapped_, src, dst, n, frameBytes, scale);
                if (rawBytes_ == 3) packColumn<3>(rawSwapped_, src, dst, n, frameBytes, scale);
                if (rawBytes_ == 4) packColumn<4>(rawSwapped_, src, dst, n, frameBytes, scale);
            }
            const sf_count_t bytes = sf_write_raw(file_, bytes_.data(), sf_count_t(bytes_.size()));
            stored = bytes == sf_count_t(bytes_.size()) ? sf_count_t(n) : 0;
        } else if (plan_.quantiseBits > 0) {
            ints_.resize(n * channels);
            column_.resize(n);
            // Quantise each channel in one straight (vectorised) pass, then interleave.
            // libsndfile takes integers at 32-bit full scale and shifts them down exactly.
            for (size_t c = 0; c < channels; ++c) {
                const int32_t* q = column_.data();
                quantiseColumn(block[c].data() + first + done, column_.data(), n, scale, shift);
                for (size_t i = 0; i < n; ++i)
                    ints_[i * channels + c] = q[i];
            }
            stored = sf_writef_int(file_, ints_.data(), static_cast<sf_count_t>(n));
        } else {
            doubles_.resize(n * channels);
            for (size_t c = 0; c < channels; ++c) {
                const double* src = block[c].data() + first + done;
                for (size_t i = 0; i < n; ++i)
                    doubles_[i * channels + c] = src[i];
            }
            stored = sf_writef_double(file_, doubles_.data(), static_cast<sf_count_t>(n));
        }
        if (stored != static_cast<sf_count_t>(n) || io_.error() != 0) failWrite();
        written_ += static_cast<int64_t>(n);
        done += n;
    }
}

void EncoderWriter::finish() {
    SNDFILE* file = file_;
    file_ = nullptr;
    const int rc = sf_close(file);
    io_.flush();
    if (io_.error() != 0) throw AudioError(std::strerror(io_.error()));
    if (rc != 0) throw AudioError(platformText(sf_error_number(rc)));
}

} // namespace sonteva
