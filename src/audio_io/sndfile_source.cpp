// libsndfile backend. Integer PCM read through sf_readf_double comes out as q / 2^(N−1)
// exactly: the library widens to 32-bit full scale and multiplies by 2^-31.
#include "audio_io/decoded_source.h"

#include "audio_io/sndfile_io.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

class SndfileSource final : public DecodedSource {
public:
    SndfileSource(std::string path, std::unique_ptr<SndfileFileIo> io, SNDFILE* file,
                  const SF_INFO& info)
        : path_(std::move(path)), io_(std::move(io)), file_(file), info_(info) {}
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
