// libsndfile backend. Integer PCM read through sf_readf_double comes out as q / 2^(N−1)
// exactly: the library widens to 32-bit full scale and multiplies by 2^-31.
#include "audio_io/decoded_source.h"

#include "audio_io/sndfile_io.h"
#include "dsp/vector_clones.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <mutex>
#include <vector>

namespace sonteva {

namespace {

// libsndfile reports a failed open through one process-wide error slot; the lock keeps
// the open and the fetch of its text together when several jobs open files at once.
std::mutex& openErrorLock() {
    static std::mutex lock;
    return lock;
}

std::string labelFor(int format) {
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) return "16/24 (FLAC)";
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return "8";
    case SF_FORMAT_PCM_16:
        return "16";
    case SF_FORMAT_PCM_24:
        return "24";
    case SF_FORMAT_PCM_32:
        return "32";
    case SF_FORMAT_FLOAT:
        return "32f";
    case SF_FORMAT_DOUBLE:
        return "64f";
    default:
        return "unknown";
    }
}

// libsndfile takes the length of plain samples from the file's size, but that of a
// compressed stream from its header (FLAC's stream information, an MP3's LAME tag), and
// decodes a partial copy only up to where it breaks off.
bool lengthFromHeader(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC:
    case SF_FORMAT_OGG:
    case SF_FORMAT_MPEG:
        return true;
    default:
        break;
    }
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        return false;
    default:
        return true;
    }
}

// A handle of its own for looking ahead: a failed seek leaves libFLAC's decoder unusable,
// so the source's own handle is never used for it.
class Lookahead {
public:
    explicit Lookahead(const std::string& path) {
        {
            std::lock_guard<std::mutex> guard(openErrorLock());
            file_ = sf_open(path.c_str(), SFM_READ, &info_);
        }
        if (file_) scratch_.resize(size_t(4096) * size_t(std::max(info_.channels, 1)));
    }
    ~Lookahead() {
        if (file_) sf_close(file_);
    }
    Lookahead(const Lookahead&) = delete;
    Lookahead& operator=(const Lookahead&) = delete;

    bool open() const { return file_ != nullptr; }
    bool decodes(sf_count_t frame) {
        return sf_seek(file_, frame, SEEK_SET) == frame &&
               sf_readf_double(file_, scratch_.data(), 1) == 1;
    }
    // The frames that decode from the start, counting no further than `limit`.
    sf_count_t count(sf_count_t limit) {
        sf_count_t total = 0;
        for (sf_count_t n;
             total < limit && (n = sf_readf_double(file_, scratch_.data(), 4096)) > 0;)
            total += n;
        return std::min(total, limit);
    }

private:
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    std::vector<double> scratch_;
};

// libsndfile's name of a major format or a subtype ("WAV", "Signed 24 bit PCM").
std::string formatName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || !info.name)
        return "unknown";
    // "WAV (Microsoft)" says WAV.
    const std::string name = info.name;
    if (name == "WAVEX") return "WAV (extensible)";
    return name.substr(0, name.find(" ("));
}

// The speaker names the window's and FFmpeg's layouts use.
std::string speakerName(int position) {
    static const char* const names[] = {"?",  "FC",  "FL",  "FR",  "FC",  "FL",  "FR", "FC",
                                        "BC", "BL",  "BR",  "LFE", "FLC", "FRC", "SL", "SR",
                                        "TC", "TFL", "TFR", "TFC", "TBL", "TBR", "TBC"};
    if (position > 0 && position < static_cast<int>(std::size(names))) return names[position];
    return "?";
}

// Plain PCM words of 16, 24 or 32 bits in a container that stores them as they are: the
// bytes of one sample, the order they come in, and the exact factor 2^-(N-1).
struct PcmWords {
    int bytes = 0; // 0: not such a file
    bool swapped = false;
    double scale = 0;
};

PcmWords pcmWordsOf(SNDFILE* file, const SF_INFO& info) {
    switch (info.format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
    case SF_FORMAT_W64:
    case SF_FORMAT_AIFF:
        break;
    default:
        return {};
    }
    PcmWords words;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
        words.bytes = 2;
        break;
    case SF_FORMAT_PCM_24:
        words.bytes = 3;
        break;
    case SF_FORMAT_PCM_32:
        words.bytes = 4;
        break;
    default:
        return {};
    }
    words.swapped = sf_command(file, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_TRUE;
    words.scale = std::ldexp(1.0, -(8 * words.bytes - 1));
    return words;
}

// One channel of `frames` interleaved words into doubles: the signed word times `scale`,
// which is what libsndfile computes (its 32-bit full scale times 2^-31), exactly. A 24-bit
// word is read as four bytes: the source holds bytes past what it is read to.
template <int Bytes, bool Swapped>
SONTEVA_VECTOR_CLONES void wordsToDoubles(const uint8_t* src, int64_t frames, int stride,
                                          double scale, double* dest) {
    for (int64_t i = 0; i < frames; ++i) {
        const uint8_t* p = src + i * stride;
        int32_t v = 0;
        if constexpr (Bytes == 2) {
            uint16_t w;
            std::memcpy(&w, p, 2);
            v = static_cast<int16_t>(Swapped ? __builtin_bswap16(w) : w);
        } else {
            uint32_t w;
            std::memcpy(&w, p, 4);
            if constexpr (Swapped) w = __builtin_bswap32(w);
            if constexpr (Bytes == 3) w = Swapped ? w & 0xFFFFFF00u : w << 8;
            v = static_cast<int32_t>(w);
            if constexpr (Bytes == 3) v >>= 8;
        }
        dest[i] = static_cast<double>(v) * scale;
    }
}

// Both channels of a 16- or 24-bit stereo frame from one load of its bytes (and, for 24
// bits, two bytes past them: the source holds eight bytes more than it is read to).
template <int Bytes, bool Swapped>
SONTEVA_VECTOR_CLONES void stereoToDoubles(const uint8_t* src, int64_t frames, double scale,
                                           double* left, double* right) {
    for (int64_t i = 0; i < frames; ++i) {
        int32_t a = 0, b = 0;
        if constexpr (Bytes == 2) {
            uint32_t w;
            std::memcpy(&w, src + 4 * i, 4);
            a = static_cast<int16_t>(Swapped ? __builtin_bswap16(uint16_t(w)) : uint16_t(w));
            b = static_cast<int16_t>(Swapped ? __builtin_bswap16(uint16_t(w >> 16))
                                             : uint16_t(w >> 16));
        } else {
            uint64_t w;
            std::memcpy(&w, src + 6 * i, 8);
            if constexpr (Swapped) {
                w = __builtin_bswap64(w);
                a = static_cast<int32_t>(static_cast<uint32_t>(w >> 32) & 0xFFFFFF00u) >> 8;
                b = static_cast<int32_t>(static_cast<uint32_t>(w >> 8) & 0xFFFFFF00u) >> 8;
            } else {
                a = static_cast<int32_t>(static_cast<uint32_t>(w) << 8) >> 8;
                b = static_cast<int32_t>(static_cast<uint32_t>(w >> 24) << 8) >> 8;
            }
        }
        left[i] = static_cast<double>(a) * scale;
        right[i] = static_cast<double>(b) * scale;
    }
}

template <int Bytes>
void wordsToDoubles(const PcmWords& words, const uint8_t* src, int64_t frames, int channels,
                    double* const* dest) {
    if (Bytes < 4 && channels == 2) {
        if (words.swapped)
            stereoToDoubles<Bytes, true>(src, frames, words.scale, dest[0], dest[1]);
        else
            stereoToDoubles<Bytes, false>(src, frames, words.scale, dest[0], dest[1]);
        return;
    }
    const int stride = Bytes * channels;
    for (int c = 0; c < channels; ++c) {
        if (words.swapped)
            wordsToDoubles<Bytes, true>(src + c * Bytes, frames, stride, words.scale, dest[c]);
        else
            wordsToDoubles<Bytes, false>(src + c * Bytes, frames, stride, words.scale, dest[c]);
    }
}

class SndfileSource final : public DecodedSource {
public:
    SndfileSource(std::string path, std::unique_ptr<SndfileFileIo> io, SNDFILE* file,
                  const SF_INFO& info)
        : path_(std::move(path)), io_(std::move(io)), file_(file), info_(info),
          words_(pcmWordsOf(file, info)) {}
    ~SndfileSource() override {
        sf_close(file_);
        ::close(io_->fd());
    }
    SndfileSource(const SndfileSource&) = delete;
    SndfileSource& operator=(const SndfileSource&) = delete;

    double sampleRate() const override { return info_.samplerate; }
    int channels() const override { return info_.channels; }
    int64_t frames() const override { return info_.frames; }
    std::string bitDepthLabel() const override { return labelFor(info_.format); }
    bool integerSamples() const override {
        switch (info_.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return true;
        default:
            return false;
        }
    }

    int integerBits() const override {
        switch (info_.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return 8;
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_ULAW: // companded codes expand onto the 16-bit grid
        case SF_FORMAT_ALAW:
            return 16;
        case SF_FORMAT_PCM_24:
            return 24;
        case SF_FORMAT_PCM_32:
            return 32;
        default:
            return 0;
        }
    }
    int floatBits() const override {
        switch (info_.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_FLOAT:
            return 32;
        case SF_FORMAT_DOUBLE:
            return 64;
        default:
            return 0;
        }
    }

    SourceKind kind() const override {
        SourceKind kind{formatName(info_.format & SF_FORMAT_TYPEMASK),
                        (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC
                            ? std::string("FLAC")
                            : formatName(info_.format & SF_FORMAT_SUBMASK),
                        {}};
        std::vector<int> map(static_cast<size_t>(std::max(info_.channels, 0)));
        if (!map.empty() && sf_command(file_, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                                       static_cast<int>(map.size() * sizeof(int))) == SF_TRUE)
            for (int position : map)
                kind.speakers.push_back(speakerName(position));
        return kind;
    }

    int64_t read(double* dest, int64_t count) override {
        return sf_readf_double(file_, dest, count);
    }
    // Plain PCM words are taken as bytes and converted here, one channel at a time: the
    // library would convert them one by one and interleave them for nothing.
    int64_t readPlanar(double* const* dest, int64_t count) override {
        if (words_.bytes == 0) return -1;
        const int64_t frameBytes = int64_t{words_.bytes} * info_.channels;
        constexpr int64_t kChunk = 8192;
        int64_t done = 0;
        while (done < count) {
            const int64_t want = std::min(kChunk, count - done);
            raw_.resize(static_cast<size_t>(kChunk * frameBytes + 8));
            const int64_t bytes = sf_read_raw(file_, raw_.data(), want * frameBytes);
            const int64_t got = std::max<int64_t>(bytes, 0) / frameBytes;
            at_.resize(static_cast<size_t>(info_.channels));
            for (size_t c = 0; c < at_.size(); ++c)
                at_[c] = dest[c] + done;
            const int channels = info_.channels;
            if (words_.bytes == 2)
                wordsToDoubles<2>(words_, raw_.data(), got, channels, at_.data());
            if (words_.bytes == 3)
                wordsToDoubles<3>(words_, raw_.data(), got, channels, at_.data());
            if (words_.bytes == 4)
                wordsToDoubles<4>(words_, raw_.data(), got, channels, at_.data());
            done += got;
            if (got < want) break;
        }
        return done;
    }
    bool seek(int64_t frame) override { return sf_seek(file_, frame, SEEK_SET) == frame; }
    void limitFrames(int64_t frames) override {
        info_.frames = std::min<int64_t>(info_.frames, frames);
    }
    // Whether the last declared frame decodes; when it does not, what decodes from the
    // start is counted (only a damaged file pays for that), so that the figure is the one
    // the sequential readers would meet.
    int64_t heldFrames() override {
        if (info_.frames < 1 || !lengthFromHeader(info_.format)) return info_.frames;
        if (Lookahead end(path_); !end.open() || end.decodes(info_.frames - 1)) return info_.frames;
        Lookahead whole(path_);
        return whole.open() ? whole.count(info_.frames) : info_.frames;
    }
    std::string errorText() const override {
        if (io_->error() != 0) return std::strerror(io_->error());
        if (sf_error(file_) == SF_ERR_NO_ERROR) return {};
        // "Error : flac decoder lost sync." reads better inside another sentence without
        // the library's prefix.
        std::string text = sf_strerror(file_);
        for (const char* prefix : {"System error : ", "Error : "}) {
            if (text.rfind(prefix, 0) == 0) text.erase(0, std::strlen(prefix));
        }
        return text;
    }

private:
    std::string path_;
    std::unique_ptr<SndfileFileIo> io_;
    SNDFILE* file_;
    SF_INFO info_;
    PcmWords words_;
    std::vector<uint8_t> raw_;
    std::vector<double*> at_;
};

// libsndfile words its refusal of some damaged headers (a sample rate of 0, sizes it
// cannot make sense of) as a failure of its own, which tells the user nothing.
std::string readableRefusal(std::string text) {
    if (text.find("nternal error") == std::string::npos) return text;
    return "The file's header is damaged or declares an impossible format (the decoder "
           "reports: " +
           text + ")";
}

// A FLAC stream may leave its length out ("unknown" in its stream information, as an
// encoder fed from a pipe writes it), which libsndfile reports as the largest count. Such
// a file is legal: its length is what decodes, so it is counted once and the stream
// rewound. False, with the decoder's reason, when the decoding fails on the way.
bool countUnknownLength(SNDFILE* file, SF_INFO& info, std::string& refusal) {
    if (info.frames != SF_COUNT_MAX) return true;
    std::vector<double> scratch(size_t(4096) * size_t(info.channels));
    sf_count_t total = 0;
    for (sf_count_t n; (n = sf_readf_double(file, scratch.data(), 4096)) > 0;)
        total += n;
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        refusal = sf_strerror(file);
        return false;
    }
    if (sf_seek(file, 0, SEEK_SET) != 0) {
        refusal = "The file declares no length and cannot be rewound.";
        return false;
    }
    info.frames = total;
    return true;
}

} // namespace

std::unique_ptr<DecodedSource> openSndfileSource(const std::string& path, std::string& refusal) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        refusal = std::strerror(errno);
        return nullptr;
    }
    auto io = std::make_unique<SndfileFileIo>(fd, SndfileFileIo::Mode::read);
    SF_VIRTUAL_IO callbacks = SndfileFileIo::callbacks();
    SF_INFO info{};
    SNDFILE* file = nullptr;
    {
        std::lock_guard<std::mutex> guard(openErrorLock());
        file = sf_open_virtual(&callbacks, SFM_READ, &info, io.get());
        if (!file) refusal = readableRefusal(sf_strerror(nullptr));
    }
    if (file && (info.channels < 1 || info.samplerate < 1 || info.frames < 0)) {
        sf_close(file);
        file = nullptr;
        refusal = "The file declares no usable audio stream.";
    }
    if (file && !countUnknownLength(file, info, refusal)) {
        sf_close(file);
        file = nullptr;
    }
    if (!file) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SndfileSource>(path, std::move(io), file, info);
}

} // namespace sonteva
