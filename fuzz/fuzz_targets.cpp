#include "fuzz/fuzz_targets.h"

#include "audio_io/audio_io.h"
#include "audio_io/metadata.h"
#include "audio_io/metadata_chunks.h"
#include "engines/ssrc_runner.h"
#include "model/presets.h"

#include <QByteArray>

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace sonteva::fuzz {

namespace {

// The readers take paths: the input goes into an in-memory file that is reached through
// /proc, so that nothing touches the disk and runs do not collide.
class InputFile {
public:
    InputFile() : fd_(::memfd_create("sonteva-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~InputFile() { ::close(fd_); }
    const std::string& fill(const uint8_t* data, size_t size) {
        if (::ftruncate(fd_, 0) != 0) std::abort();
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<size_t>(n);
        }
        return path_;
    }

private:
    int fd_;
    std::string path_;
};

const std::string& inputPath(const uint8_t* data, size_t size) {
    static InputFile file;
    return file.fill(data, size);
}

// A violated invariant must stop the run where the fuzzer sees it.
void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

void checkSamples(const ChannelBuffers& channels, size_t channelCount, double bound) {
    require(channels.size() == channelCount, "one array per channel");
    for (const auto& channel : channels) {
        require(channel.size() == channels[0].size(), "channels of equal length");
        for (double v : channel) {
            require(std::isfinite(v), "samples finite");
            require(std::fabs(v) <= bound, "samples in range");
        }
    }
}

} // namespace

int ssrcOutput(const uint8_t* data, size_t size) {
    const std::string& path = inputPath(data, size);
    for (int channels : {1, 2}) {
        try {
            checkSamples(SSRCRunner::readInt24WAV(path, channels), size_t(channels), 1.0 + 1e-6);
        } catch (const std::exception&) {
        }
        if (const auto samples = SSRCRunner::readInt16WAV(path, channels))
            checkSamples(*samples, size_t(channels), 1.0);
    }
    return 0;
}

// Whatever decodes must survive its own encoding unchanged.
int userPresets(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto presets = decodePresets(bytes);
    if (!presets) return 0;
    for (const auto& preset : *presets)
        (void)effectiveDither(preset);
    const auto again = decodePresets(encodePresets(*presets));
    require(again && *again == *presets, "presets survive their own encoding");
    return 0;
}

// The probe, the label, and a bounded number of blocks through the streaming reader; the
// whole-file read only when the declared size is small, as a hostile header may declare
// anything and the job's memory check, not the fuzzer, answers for that.
int source(const uint8_t* data, size_t size) {
    const std::string& path = inputPath(data, size);
    try {
        AudioIO probe(path);
        (void)probe.getBitDepth();
        if (probe.channels() > 0 && probe.totalFrames() <= (int64_t{1} << 20) / probe.channels())
            checkSamples(probe.readAllDouble(), size_t(probe.channels()), HUGE_VAL);
    } catch (const std::exception&) {
    }
    try {
        AudioStreamReader reader(path);
        ChannelBuffers block;
        for (int blocks = 0; blocks < 64 && reader.read(4096, block); ++blocks)
            checkSamples(block, size_t(reader.channels()), HUGE_VAL);
    } catch (const std::exception&) {
    }
    return 0;
}

// What the reader takes from the bytes is carried to every container and laid out again,
// and the RIFF layout must read back.
int metadata(const uint8_t* data, size_t size) {
    const Metadata source = readMetadata(inputPath(data, size));
    (void)source.empty();
    for (AudioFormat format : {AudioFormat::wav, AudioFormat::aiff, AudioFormat::flac}) {
        const CarryTarget target{format, BitDepth::int24, 96000, 44100, 2, "Sonteva SRC", "TPDF"};
        const CarriedMetadata carried = carryMetadata(source, target);
        if (format == AudioFormat::flac) continue;
        const LoudnessSummary loudness{-14.2, 6.5, -0.3, -9.0, -11.0};
        const auto chunks = format == AudioFormat::aiff
                                ? aiffMetadataChunks(carried.metadata)
                                : riffMetadataChunks(carried.metadata, &loudness);
        require(chunks.size() % 2 == 0, "chunks keep their word alignment");
        if (format != AudioFormat::wav) continue;
        // RIFF, WAVE, a 16-bit stereo fmt chunk, the metadata, an empty data chunk.
        std::vector<uint8_t> file = {'R',  'I',  'F', 'F', 0,    0,    0, 0, 'W', 'A', 'V', 'E',
                                     'f',  'm',  't', ' ', 16,   0,    0, 0, 1,   0,   2,   0,
                                     0x44, 0xAC, 0,   0,   0x10, 0xB1, 2, 0, 4,   0,   16,  0};
        file.insert(file.end(), chunks.begin(), chunks.end());
        for (char c : std::string("data\0\0\0\0", 8))
            file.push_back(static_cast<uint8_t>(c));
        const uint64_t riffSize = file.size() - 8;
        for (int b = 0; b < 4; ++b)
            file[4 + size_t(b)] = static_cast<uint8_t>(riffSize >> (8 * b));
        const Metadata back = readMetadata(inputPath(file.data(), file.size()));
        require(back.markers.size() == carried.metadata.markers.size(),
                "the written markers read back");
    }
    return 0;
}

} // namespace sonteva::fuzz
