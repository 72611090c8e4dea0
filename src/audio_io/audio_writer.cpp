// AudioStreamWriter, AudioIO::write and sameFile. Both writers share one implementation:
// the whole-file writer is a streaming writer that knows its length up front.
#include "audio_io/audio_error.h"
#include "audio_io/audio_io.h"
#include "audio_io/chunk_file.h"
#include "audio_io/encoder_writer.h"
#include "audio_io/metadata_chunks.h"
#include "audio_io/part_file.h"
#include "audio_io/riff_writer.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <cmath>
#include <new>
#include <optional>

namespace sonteva {

namespace {

// Channels a 64-bit float WAV header can state (block align is a 16-bit field).
constexpr int kMaxRiffChannels = 8191;

// The target path, once the rate and channel count are known to make a valid format;
// checked before anything is created on disk.
const std::string& checkedTarget(const std::string& path, double sampleRate, int channels) {
    if (!(sampleRate >= 1.0 && sampleRate <= INT_MAX))
        throw AudioIOError(2, "sample rate " + std::to_string(sampleRate));
    if (channels < 1 || channels > kMaxRiffChannels)
        throw AudioIOError(2, std::to_string(channels) + " channels");
    return path;
}

// The total size of libsndfile's placeholder for `bytes` of metadata chunks: a multiple of
// four (its padding), whose excess over `bytes` is nothing or a filler chunk of its own.
uint64_t placeholderTotal(uint64_t bytes) {
    uint64_t total = bytes;
    while (total % 4 != 0 || total < 12 || (total != bytes && total - bytes < 8))
        total += 2;
    return total;
}

} // namespace

class AudioStreamWriter::Impl {
public:
    Impl(const std::string& path, double sampleRate, int channels, AudioFormat format,
         BitDepth bitDepth, int64_t expectedFrames, bool wholeFile, const Metadata* metadata);

    void write(const ChannelBuffers& block);
    void setLoudness(const LoudnessSummary& loudness) { loudness_ = loudness; }
    void close();

private:
    // Removes the temporary file and remembers why, for any later call.
    void abandon(const std::string& reason);
    std::vector<uint8_t> metadataChunks() const;
    // Stores the metadata once the audio is complete.
    void finishMetadata();
    // Appends AIFF's odd-sized chunks behind the sound data.
    void appendAiffChunks();

    // Declared first so that it is destroyed last, after the encoder has let go of it.
    PartFile part_;
    std::unique_ptr<Float64WavWriter> riff_;
    std::unique_ptr<EncoderWriter> encoder_;
    int channels_;
    AudioFormat format_;
    bool closed_ = false;
    std::string failure_;
    std::optional<Metadata> metadata_;
    uint64_t metadataBytes_ = 0;
    std::optional<LoudnessSummary> loudness_;
    int64_t frames_ = 0;
};

AudioStreamWriter::Impl::Impl(const std::string& path, double sampleRate, int channels,
                              AudioFormat format, BitDepth bitDepth, int64_t expectedFrames,
                              bool wholeFile, const Metadata* metadata)
    : part_(checkedTarget(path, sampleRate, channels)), channels_(channels), format_(format) {
    if (metadata && !metadata->empty()) metadata_ = *metadata;
    if (metadata_ && format != AudioFormat::flac) metadataBytes_ = metadataChunks().size();
    if (format == AudioFormat::wav && bitDepth == BitDepth::float64) {
        riff_ = std::make_unique<Float64WavWriter>(part_, channels, sampleRate,
                                                   wholeFile ? expectedFrames : -1, metadataBytes_);
    } else {
        const EncoderPlan plan = planEncoder(format, bitDepth, channels, expectedFrames);
        const uint64_t placeholder = metadataBytes_ ? placeholderTotal(metadataBytes_) - 8 : 0;
        encoder_ =
            std::make_unique<EncoderWriter>(part_.fd(), plan, sampleRate, channels, placeholder);
    }
}

std::vector<uint8_t> AudioStreamWriter::Impl::metadataChunks() const {
    if (format_ == AudioFormat::aiff) return aiffMetadataChunks(*metadata_);
    return riffMetadataChunks(*metadata_, loudness_ ? &*loudness_ : nullptr);
}

void AudioStreamWriter::Impl::finishMetadata() {
    if (!metadata_) return;
    if (format_ == AudioFormat::flac) {
        rewriteFlacMetadata(part_.fd(), *metadata_, frames_);
        return;
    }
    std::vector<uint8_t> bytes = metadataChunks();
    if (riff_) {
        part_.writeAt(riff_->metadataOffset(), bytes.data(), bytes.size());
        return;
    }
    if (format_ == AudioFormat::aiff) appendAiffChunks();
    if (bytes.empty()) return;
    const auto layout = chunks::layoutOf(part_.fd());
    for (const auto& chunk : chunks::walk(part_.fd(), layout)) {
        if (chunk.id != kPlaceholderId) continue;
        const uint64_t total = placeholderTotal(bytes.size());
        if (total > bytes.size()) {
            const auto filler = fillerChunk(total - bytes.size(), format_ == AudioFormat::aiff);
            bytes.insert(bytes.end(), filler.begin(), filler.end());
        }
        part_.writeAt(chunk.offset, bytes.data(), bytes.size());
        return;
    }
    throw AudioError("The encoder left no room for the metadata");
}

void AudioStreamWriter::Impl::appendAiffChunks() {
    const std::vector<uint8_t> after = aiffMetadataChunks(*metadata_, AiffPlace::afterSound);
    if (after.empty()) return;
    struct stat st {};
    if (::fstat(part_.fd(), &st) != 0) throw AudioError(std::strerror(errno));
    uint64_t end = static_cast<uint64_t>(st.st_size);
    if (end % 2 == 1) { // the pad byte of an odd-sized sound data chunk
        const uint8_t pad = 0;
        part_.writeAt(end++, &pad, 1);
    }
    if (end + after.size() - 8 > 0xFFFFFFFFull)
        throw AudioError("The AIFF's metadata does not fit within its 4 GiB limit");
    part_.writeAt(end, after.data(), after.size());
    const uint64_t form = end + after.size() - 8;
    const uint8_t size[4] = {uint8_t(form >> 24), uint8_t(form >> 16), uint8_t(form >> 8),
                             uint8_t(form)};
    part_.writeAt(4, size, 4);
}

void AudioStreamWriter::Impl::abandon(const std::string& reason) {
    failure_ = reason;
    encoder_.reset();
    part_.discard();
}

void AudioStreamWriter::Impl::write(const ChannelBuffers& block) {
    if (!failure_.empty()) throw AudioError(failure_);
    if (closed_ || block.empty() || block.front().empty()) return;
    const size_t frames = block.front().size();
    if (block.size() != static_cast<size_t>(channels_))
        throw AudioError("A block carries " + std::to_string(block.size()) +
                         " channel arrays for a " + std::to_string(channels_) + "-channel output");
    for (const auto& channel : block) {
        if (channel.size() < frames)
            throw AudioError("The channel arrays of a block differ in length");
    }
    try {
        if (riff_)
            riff_->write(block, 0, frames);
        else
            encoder_->write(block, 0, frames);
        frames_ += static_cast<int64_t>(frames);
    } catch (const std::bad_alloc&) {
        abandon(AudioIOError::describe(3));
        throw AudioIOError(3);
    } catch (const AudioError& e) {
        abandon(e.what());
        throw;
    }
}

void AudioStreamWriter::Impl::close() {
    if (!failure_.empty()) throw AudioError(failure_);
    if (closed_) return;
    closed_ = true;
    try {
        if (riff_) riff_->finish();
        if (encoder_) encoder_->finish();
        encoder_.reset();
        finishMetadata();
        part_.commit();
    } catch (const AudioError& e) {
        abandon(e.what());
        throw;
    }
}

AudioStreamWriter::AudioStreamWriter(const std::string& path, double sampleRate, int channels,
                                     AudioFormat format, BitDepth bitDepth, int64_t expectedFrames,
                                     const Metadata* metadata)
    : impl_(std::make_unique<Impl>(path, sampleRate, channels, format, bitDepth, expectedFrames,
                                   false, metadata)) {}

AudioStreamWriter::~AudioStreamWriter() = default;

void AudioStreamWriter::write(const ChannelBuffers& channels) {
    impl_->write(channels);
}

void AudioStreamWriter::setLoudness(const LoudnessSummary& loudness) {
    impl_->setLoudness(loudness);
}

void AudioStreamWriter::close() {
    impl_->close();
}

void AudioIO::write(const std::string& to, const ChannelBuffers& channelData, double sampleRate,
                    AudioFormat format, BitDepth bitDepth, const Metadata* metadata,
                    const LoudnessSummary* loudness) {
    if (channelData.empty()) throw AudioIOError(4);
    const auto frames = static_cast<int64_t>(channelData.front().size());
    AudioStreamWriter::Impl writer(to, sampleRate, static_cast<int>(channelData.size()), format,
                                   bitDepth, frames, true, metadata);
    if (loudness) writer.setLoudness(*loudness);
    writer.write(channelData);
    writer.close();
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace sonteva
