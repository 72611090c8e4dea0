#include "audio_io/seekable_reader.h"

#include "audio_io/decoded_source.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sonteva {

namespace {

// Non-finite samples become 0 and doubles beyond float's range are held at its largest
// finite value (the plain cast would be undefined).
float toFloat(double x) {
    constexpr double top = std::numeric_limits<float>::max();
    if (!std::isfinite(x)) return 0.0f;
    return static_cast<float>(std::clamp(x, -top, top));
}

} // namespace

SeekableReader::SeekableReader(const std::string& path)
    : path_(path), source_(openDecodedSource(path)) {
    sampleRate_ = source_->sampleRate();
    channels_ = source_->channels();
    totalFrames_ = source_->frames();
}

SeekableReader::~SeekableReader() = default;

bool SeekableReader::setPosition(int64_t frame) {
    if (frame < 0 || frame > totalFrames_ || !source_->seek(frame)) {
        lost_ = true;
        return false;
    }
    lost_ = false;
    position_ = frame;
    return true;
}

int64_t SeekableReader::read(std::vector<std::vector<float>>& dest, int64_t maxFrames) {
    const int64_t n = std::min(maxFrames, totalFrames_ - position_);
    if (lost_ || n < 1 || dest.size() < static_cast<size_t>(channels_)) return 0;
    const auto channels = static_cast<size_t>(channels_);
    if (scratch_.size() < static_cast<size_t>(n) * channels)
        scratch_.resize(static_cast<size_t>(n) * channels);
    const int64_t got = std::clamp<int64_t>(source_->read(scratch_.data(), n), 0, n);
    for (size_t c = 0; c < channels; ++c) {
        float* out = dest[c].data();
        const double* in = scratch_.data() + c;
        for (int64_t i = 0; i < got; ++i)
            out[i] = toFloat(in[static_cast<size_t>(i) * channels]);
    }
    position_ += got;
    return got;
}

std::string SeekableReader::errorText() const {
    if (lost_) return "the read position could not be set";
    return source_->errorText();
}

} // namespace sonteva
