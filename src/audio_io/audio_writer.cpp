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
#include <cmath>
#include <cstring>
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

// libsndfile keeps its header within 100 KiB and, asked for more, leaves the audio chunk out
// without a word: the chunks in front of its audio stay well within that, the rest go behind.
constexpr uint64_t kEncoderFrontRoom = 32 * 1024;

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
    ChunkLayout metadataLayout() const;
    // Stores the metadata once the audio is complete.
    void finishMetadata();
    // Appends chunks behind the audio and counts them into the container's size.
    void appendBehind(const std::vector<uint8_t>& chunks);

    // Declared first so that it is destroyed last, after the encoder has let go of it.
    PartFile part_;
    std::unique_ptr<Float64WavWriter> riff_;
    std::unique_ptr<EncoderWriter> encoder_;
    int channels_;
    AudioFormat format_;
    bool closed_ = false;
    std::string failure_;
    std::optional<Metadata> metadata_;
    uint64_t metadataBytes_ = 0; // in front of the audio
    uint64_t frontRoom_ = UINT64_MAX;
    std::optional<LoudnessSummary> loudness_;
    int64_t frames_ = 0;
};

AudioStreamWriter::Impl::Impl(const std::string& path, double sampleRate, int channels,
                              AudioFormat format, BitDepth bitDepth, int64_t expectedFrames,
                              bool wholeFile, const Metadata* metadata)
    : part_(checkedTarget(path, sampleRate, channels)), channels_(channels), format_(format) {
    const bool ownRiff = format == AudioFormat::wav && bitDepth == BitDepth::float64;
    if (!ownRiff) frontRoom_ = kEncoderFrontRoom;
    if (metadata && !metadata->empty()) metadata_ = *metadata;
    if (metadata_ && format != AudioFormat::flac) metadataBytes_ = metadataLayout().front.size();
    if (ownRiff) {
        riff_ = std::make_unique<Float64WavWriter>(part_, channels, sampleRate,
                                                   wholeFile ? expectedFrames : -1, metadataBytes_);
    } else {
        const EncoderPlan plan = planEncoder(format, bitDepth, channels, expectedFrames);
        const uint64_t placeholder = metadataBytes_ ? placeholderTotal(metadataBytes_) - 8 : 0;
        encoder_ =
            std::make_unique<EncoderWriter>(part_.fd(), plan, sampleRate, channels, placeholder);
    }
}

ChunkLayout AudioStreamWriter::Impl::metadataLayout() const {
    if (format_ == AudioFormat::aiff) return aiffMetadataLayout(*metadata_, frontRoom_);
    return riffMetadataLayout(*metadata_, loudness_ ? &*loudness_ : nullptr, frontRoom_);
}

void AudioStreamWriter::Impl::finishMetadata() {
    if (!metadata_) return;
    if (format_ == AudioFormat::flac) {
        rewriteFlacMetadata(part_.fd(), *metadata_, frames_);
        return;
    }
    ChunkLayout layout = metadataLayout();
    std::vector<uint8_t>& bytes = layout.front;
    if (riff_) {
        part_.writeAt(riff_->metadataOffset(), bytes.data(), bytes.size());
        return;
    }
    appendBehind(layout.back);
    if (bytes.empty()) return;
    for (const auto& chunk : chunks::walk(part_.fd(), chunks::layoutOf(part_.fd()))) {
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

void AudioStreamWriter::Impl::appendBehind(const std::vector<uint8_t>& chunks) {
    if (chunks.empty()) return;
    struct stat st {};
    if (::fstat(part_.fd(), &st) != 0) throw AudioError(std::strerror(errno));
    uint64_t end = static_cast<uint64_t>(st.st_size);
    if (end % 2 == 1) { // the pad byte of an odd-sized audio chunk
        const uint8_t pad = 0;
        part_.writeAt(end++, &pad, 1);
    }
    const uint64_t size = end + chunks.size() - 8;
    uint8_t magic[4] = {};
    chunks::readAt(part_.fd(), 0, magic, 4);
    const bool wide = std::memcmp(magic, "RF64", 4) == 0 || std::memcmp(magic, "BW64", 4) == 0;
    if (!wide && size > 0xFFFFFFFFull)
        throw AudioError("The metadata does not fit within the 4 GiB limit of the container");
    part_.writeAt(end, chunks.data(), chunks.size());
    std::vector<uint8_t> field;
    uint64_t at = 4;
    if (format_ == AudioFormat::aiff) {
        chunks::putBE(field, size, 4);
    } else if (!wide) {
        chunks::putLE(field, size, 4);
    } else {
        chunks::putLE(field, size, 8); // ds64's RIFF size
        at = 0;
        for (const auto& chunk : chunks::walk(part_.fd(), chunks::Layout::riff))
            if (chunk.id == "ds64") at = chunk.offset + 8;
        if (at == 0) throw AudioError("The encoder wrote an RF64 file without its ds64 chunk");
    }
    part_.writeAt(at, field.data(), field.size());
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
