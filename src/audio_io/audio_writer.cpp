// AudioStreamWriter, AudioIO::write and sameFile. Both writers share one implementation:
// the whole-file writer is a streaming writer that knows its length up front.
#include "audio_io/audio_error.h"
#include "audio_io/audio_io.h"
#include "audio_io/encoder_writer.h"
#include "audio_io/part_file.h"
#include "audio_io/riff_writer.h"

#include <sys/stat.h>

#include <climits>
#include <cmath>
#include <new>

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

} // namespace

class AudioStreamWriter::Impl {
public:
    Impl(const std::string& path, double sampleRate, int channels, AudioFormat format,
         BitDepth bitDepth, int64_t expectedFrames, bool wholeFile);

    void write(const ChannelBuffers& block);
    void close();

private:
    // Removes the temporary file and remembers why, for any later call.
    void abandon(const std::string& reason);

    // Declared first so that it is destroyed last, after the encoder has let go of it.
    PartFile part_;
    std::unique_ptr<Float64WavWriter> riff_;
    std::unique_ptr<EncoderWriter> encoder_;
    int channels_;
    bool closed_ = false;
    std::string failure_;
};

AudioStreamWriter::Impl::Impl(const std::string& path, double sampleRate, int channels,
                              AudioFormat format, BitDepth bitDepth, int64_t expectedFrames,
                              bool wholeFile)
    : part_(checkedTarget(path, sampleRate, channels)), channels_(channels) {
    if (format == AudioFormat::wav && bitDepth == BitDepth::float64) {
        riff_ = std::make_unique<Float64WavWriter>(part_, channels, sampleRate,
                                                   wholeFile ? expectedFrames : -1);
    } else {
        const EncoderPlan plan = planEncoder(format, bitDepth, channels, expectedFrames);
        encoder_ = std::make_unique<EncoderWriter>(part_.fd(), plan, sampleRate, channels);
    }
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
        part_.commit();
    } catch (const AudioError& e) {
        abandon(e.what());
        throw;
    }
}

AudioStreamWriter::AudioStreamWriter(const std::string& path, double sampleRate, int channels,
                                     AudioFormat format, BitDepth bitDepth, int64_t expectedFrames)
    : impl_(std::make_unique<Impl>(path, sampleRate, channels, format, bitDepth, expectedFrames,
                                   false)) {}

AudioStreamWriter::~AudioStreamWriter() = default;

void AudioStreamWriter::write(const ChannelBuffers& channels) {
    impl_->write(channels);
}

void AudioStreamWriter::close() {
    impl_->close();
}

void AudioIO::write(const std::string& to, const ChannelBuffers& channelData, double sampleRate,
                    AudioFormat format, BitDepth bitDepth) {
    if (channelData.empty()) throw AudioIOError(4);
    const auto frames = static_cast<int64_t>(channelData.front().size());
    AudioStreamWriter::Impl writer(to, sampleRate, static_cast<int>(channelData.size()), format,
                                   bitDepth, frames, true);
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
