#pragma once
// The decoder behind the readers. libsndfile takes everything it opens; FFmpeg takes
// what libsndfile refuses. Both hand out interleaved 64-bit floats at full scale ±1.0,
// integer samples scaled exactly by a power of two.
#include "audio_io/source_kind.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sonteva {

class DecodedSource {
public:
    virtual ~DecodedSource() = default;

    virtual double sampleRate() const = 0;
    virtual int channels() const = 0;
    // The length in frames that the file declares.
    virtual int64_t frames() const = 0;
    // "16", "24", "32", "8", "32f", "64f", "16/24 (FLAC)" or "unknown".
    virtual std::string bitDepthLabel() const = 0;
    // True when every sample is an integer scaled to ±1.0 (never NaN or infinite).
    virtual bool integerSamples() const = 0;
    // The word length the file stores: integer bits (8, 16, 24, 32) when every sample lies
    // on that grid, else 0; float bits (32, 64) for float files, else 0. Both 0 when the
    // decoder does not say (lossy or transcoded sources).
    virtual int integerBits() const { return 0; }
    virtual int floatBits() const { return 0; }
    // Container, codec and speaker layout as the decoder names them.
    virtual SourceKind kind() const { return {}; }

    // Reads up to `count` frames, interleaved, into dest. Fewer frames than asked means
    // the stream has ended; errorText() then gives the decoder's reason, if it had one.
    virtual int64_t read(double* dest, int64_t count) = 0;
    // The same straight into one array per channel (dest[c]), for a decoder that can fill
    // them without an interleaved copy (the same values bit for bit); -1, having read
    // nothing, when it cannot.
    virtual int64_t readPlanar(double* const* /*dest*/, int64_t /*count*/) { return -1; }
    virtual std::string errorText() const = 0;
    // Positions the next read at `frame` (0...frames()), exactly; false when the decoder
    // cannot get there. Sequential readers never call it.
    virtual bool seek(int64_t frame) = 0;
    // How many of the declared frames the file holds, as far as the decoder can tell
    // (frames() when it cannot). Cheap for a whole file; a damaged one may be decoded
    // through to count them. Called on opening, before any read.
    virtual int64_t heldFrames() = 0;
    // Ends the source at `frames` (fewer than frames()): what follows the length its
    // container declares is not audio. Called on opening, before any read.
    virtual void limitFrames(int64_t frames) = 0;
};

// Opens a source with whichever decoder accepts it. Throws AudioError with a clear
// text for a missing file, a folder, a source that holds less audio than it declares
// ("Source ended early …", see source_length.h), and otherwise with libsndfile's
// description when neither decoder can read the file.
std::unique_ptr<DecodedSource> openDecodedSource(const std::string& path);

// The backends. Each returns null when its library refuses the file; the libsndfile
// one then stores the library's description in `refusal`.
std::unique_ptr<DecodedSource> openSndfileSource(const std::string& path, std::string& refusal);
std::unique_ptr<DecodedSource> openFfmpegSource(const std::string& path);

} // namespace sonteva
