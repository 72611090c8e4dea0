#include "audio_io/source_pump.h"

#include "audio_io/audio_error.h"
#include "audio_io/sample_math.h"
#include "audio_io/source_length.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

namespace sonteva {

namespace {

// Frames decoded per library call: large enough to amortise the call, small enough
// that the interleaved scratch stays in cache.
constexpr int64_t kChunkFrames = 16384;

// Written without branches so that it vectorises: it runs over every float sample read.
SONTEVA_VECTOR_CLONES int64_t replaceNonFinite(double* samples, size_t count) {
    int64_t found = 0;
    for (size_t i = 0; i < count; ++i) {
        const double v = samples[i];
        const bool finite = std::fabs(v) <= std::numeric_limits<double>::max();
        found += finite ? 0 : 1;
        samples[i] = finite ? v : 0.0;
    }
    return found;
}

// A double beyond float's range has no float value (the cast is undefined, in practice
// infinite); it is held at the largest finite float instead.
template <typename T> T narrow(double x) {
    if constexpr (std::is_same_v<T, float>) {
        constexpr double top = std::numeric_limits<float>::max();
        return static_cast<float>(std::clamp(x, -top, top));
    } else {
        return x;
    }
}

} // namespace

std::unique_ptr<DecodedSource> openDecodedSource(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) throw AudioError("No such file: " + path);
        throw AudioError(path + ": " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) throw AudioError("Is a folder, not an audio file: " + path);
    // Opening a named pipe waits for a writer, possibly for ever, and a device never ends;
    // neither could be read a second time, as every source is (probe, metadata, audio).
    if (!S_ISREG(st.st_mode)) throw AudioError("Not a regular file: " + path);
    if (st.st_size == 0) throw AudioError("The file is empty: " + path);
    // Before the decoders: libsndfile shortens or refuses a partial copy without saying so.
    const ContainerLength container = inspectContainer(path);
    if (container.early) throw AudioError(describeEarlyEnd(*container.early));

    std::string refusal;
    std::unique_ptr<DecodedSource> source = openSndfileSource(path, refusal);
    if (!source) source = openFfmpegSource(path);
    if (!source)
        throw AudioError(container.ifUnreadable ? describeEarlyEnd(*container.ifUnreadable)
                                                : refusal);
    // libsndfile reads a WAV whose data size was left at 0 as empty; FFmpeg reads it to
    // the end of the file, as the placeholder means.
    if (container.openEnded && source->frames() == 0) {
        if (auto whole = openFfmpegSource(path)) source = std::move(whole);
    }
    if (container.frames >= 0 && source->frames() > container.frames)
        source->limitFrames(container.frames);
    // No length to fall short of: what decodes is the source.
    if (container.unstated) {
        source->limitFrames(source->heldFrames());
        return source;
    }
    if (const auto early = decodedEarlyEnd(*source)) throw AudioError(describeEarlyEnd(*early));
    return source;
}

SourcePump::SourcePump(std::unique_ptr<DecodedSource> source) : source_(std::move(source)) {}

// The decoder's reason is only current right after the short read.
void SourcePump::endedEarly(int64_t got) const {
    const EarlyEnd end{EarlyEnd::Unit::frames, position_ + got, source_->frames(), {}};
    throw AudioError(describeEarlyEnd(end, source_->errorText()));
}

void SourcePump::fetch(int64_t frames) {
    const size_t channels = static_cast<size_t>(source_->channels());
    scratch_.resize(static_cast<size_t>(frames) * channels);
    const int64_t got = std::max<int64_t>(source_->read(scratch_.data(), frames), 0);
    if (got < frames) endedEarly(got);
    if (!source_->integerSamples())
        nonFinite_ += replaceNonFinite(scratch_.data(), scratch_.size());
    position_ += frames;
}

template <typename T>
void SourcePump::readPlanar(std::vector<std::vector<T>>& out, size_t offset, int64_t frames) {
    const size_t channels = static_cast<size_t>(source_->channels());
    if constexpr (std::is_same_v<T, double>) {
        // Straight into the arrays where the decoder can: integer samples only, which
        // need no check for non-finite values.
        std::vector<double*> dest(channels);
        for (size_t c = 0; c < channels; ++c)
            dest[c] = out[c].data() + offset;
        const int64_t got = frames > 0 ? source_->readPlanar(dest.data(), frames) : 0;
        if (got >= 0) {
            if (got < frames) endedEarly(got);
            position_ += frames;
            return;
        }
    }
    for (int64_t done = 0; done < frames;) {
        const int64_t n = std::min(kChunkFrames, frames - done);
        fetch(n);
        const double* src = scratch_.data();
        if (channels == 2) {
            // The usual case in one sequential pass, which vectorises.
            T* left = out[0].data() + offset + done;
            T* right = out[1].data() + offset + done;
            for (int64_t i = 0; i < n; ++i) {
                left[i] = static_cast<T>(src[2 * i]);
                right[i] = static_cast<T>(src[2 * i + 1]);
            }
        } else {
            for (size_t c = 0; c < channels; ++c) {
                T* dest = out[c].data() + offset + done;
                for (int64_t i = 0; i < n; ++i)
                    dest[i] = static_cast<T>(src[i * channels + c]);
            }
        }
        done += n;
    }
}

void SourcePump::readInto(std::vector<std::vector<double>>& out, size_t offset, int64_t frames) {
    readPlanar(out, offset, frames);
}

void SourcePump::readInto(std::vector<std::vector<float>>& out, size_t offset, int64_t frames) {
    readPlanar(out, offset, frames);
}

} // namespace sonteva
