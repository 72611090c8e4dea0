// AudioIO's probe and whole-file reads, and the streaming block reader.
#include "audio_io/audio_error.h"
#include "audio_io/audio_io.h"
#include "audio_io/decoded_source.h"
#include "audio_io/source_pump.h"

#include <algorithm>
#include <new>

namespace sonteva {

namespace {

// Sample buffers are addressed with 32-bit frame counts, as the processing formats are.
constexpr int64_t kMaxBufferFrames = 0xFFFFFFFFll;

// Sizes `out` to `channels` arrays of `frames` samples. Arrays that already hold the room
// (a recycled block) are only resized, so their memory is neither cleared nor touched anew.
template <typename T>
void sizeChannels(std::vector<std::vector<T>>& out, int channels, int64_t frames) {
    if (frames > kMaxBufferFrames)
        throw AudioIOError(1, std::to_string(frames) + " frames do not fit one buffer");
    try {
        out.resize(static_cast<size_t>(channels));
        for (auto& channel : out)
            channel.resize(static_cast<size_t>(frames));
    } catch (const std::bad_alloc&) {
        throw AudioIOError(1);
    }
}

template <typename T> std::vector<std::vector<T>> allocateChannels(int channels, int64_t frames) {
    std::vector<std::vector<T>> out;
    sizeChannels(out, channels, frames);
    return out;
}

} // namespace

AudioIO::AudioIO(const std::string& path) : path_(path), source_(openDecodedSource(path)) {
    bitDepth_ = source_->bitDepthLabel();
    sampleRate_ = source_->sampleRate();
    channels_ = source_->channels();
    totalFrames_ = source_->frames();
    integerBits_ = source_->integerBits();
    floatBits_ = source_->floatBits();
    kind_ = source_->kind();
}

AudioIO::~AudioIO() = default;

std::string AudioIO::getBitDepth() const {
    return bitDepth_;
}

std::unique_ptr<DecodedSource> AudioIO::takeSource() {
    if (source_) return std::move(source_);
    return openDecodedSource(path_);
}

std::vector<std::vector<float>> AudioIO::readAllFloat() {
    nonFinite_ = 0;
    if (channels_ == 0) return {};
    auto out = allocateChannels<float>(channels_, totalFrames_);
    SourcePump pump(takeSource());
    pump.readInto(out, 0, totalFrames_);
    nonFinite_ = pump.nonFinite();
    return out;
}

ChannelBuffers AudioIO::readDoubles() {
    nonFinite_ = 0;
    auto out = allocateChannels<double>(channels_, totalFrames_);
    SourcePump pump(takeSource());
    pump.readInto(out, 0, totalFrames_);
    nonFinite_ = pump.nonFinite();
    return out;
}

ChannelBuffers AudioIO::readAllDouble() {
    // Any failure of the 64-bit read falls back to the 32-bit one, whose own errors are
    // passed on: a source that fails both ways reports the same reason.
    readAsFloat_ = false;
    try {
        return readDoubles();
    } catch (const std::bad_alloc&) {
    } catch (const AudioError&) {
    }
    std::vector<std::vector<float>> floats = readAllFloat();
    readAsFloat_ = true;
    ChannelBuffers out(floats.size());
    for (size_t c = 0; c < floats.size(); ++c) {
        out[c].assign(floats[c].begin(), floats[c].end());
        std::vector<float>().swap(floats[c]);
    }
    return out;
}

AudioStreamReader::AudioStreamReader(const std::string& path)
    : pump_(std::make_unique<SourcePump>(openDecodedSource(path))) {
    sampleRate_ = pump_->source().sampleRate();
    channels_ = pump_->source().channels();
    totalFrames_ = pump_->source().frames();
}

AudioStreamReader::~AudioStreamReader() = default;

int AudioStreamReader::integerBits() const {
    return pump_->source().integerBits();
}

int64_t AudioStreamReader::nonFiniteSamples() const {
    return pump_->nonFinite();
}

ChannelBuffers AudioStreamReader::read(int64_t maxFrames) {
    ChannelBuffers out;
    read(maxFrames, out);
    return out;
}

bool AudioStreamReader::read(int64_t maxFrames, ChannelBuffers& block) {
    const int64_t remaining = totalFrames_ - pump_->position();
    if (remaining < 1 || maxFrames < 1) {
        block.clear();
        return false;
    }
    const int64_t n = std::min({remaining, maxFrames, kMaxBufferFrames});
    sizeChannels(block, channels_, n);
    pump_->readInto(block, 0, n);
    return true;
}

} // namespace sonteva
