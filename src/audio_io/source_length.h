#pragma once
// The one place that decides whether a source holds the audio it declares. Every reader
// (the probe, the whole-file read, the streaming reader, the audition's seekable reader)
// opens its source through openDecodedSource, which asks here twice: before decoding,
// whether the container's own header declares more audio than the file holds (libsndfile
// silently shortens the length of a partial copy of most uncompressed containers, and
// refuses others outright with a reason that does not say why); and after opening,
// whether the decoder reaches the last frame it reports (a compressed stream takes its
// length from a header, not from the file's size). A source that passes both and still
// comes up short while it is read fails there, with the same wording.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace sonteva {

class DecodedSource;

// Where a source stops short of what it declares. Frames when the encoding has a fixed
// frame size or the decoder counts them; byte positions in the file otherwise (a
// compressed stream, or a file that ends inside its header).
struct EarlyEnd {
    enum class Unit { frames, bytes };
    Unit unit = Unit::frames;
    int64_t held = 0;      // frames (or bytes) the file holds
    int64_t declared = -1; // frames (or bytes) it declares; -1 when it states no length
    std::string missing;   // for a stream with no stated length: what is missing at its end
};

// "Source ended early at frame 23996 of 48000 — the file is truncated or damaged", and
// the like for bytes or a stream whose end is missing. `reason` (the decoder's own text,
// when it had one) is added in parentheses.
std::string describeEarlyEnd(const EarlyEnd& end, const std::string& reason = {});

// What a container's header declares, held against the file.
struct ContainerLength {
    std::optional<EarlyEnd> early; // set when the file holds less than it declares
    // The frames it declares, where it states them (or a size in bytes of fixed-size
    // frames); -1 otherwise. Audio past them (garbage behind the audio, which some
    // libsndfile readers count in) is not part of the source.
    int64_t frames = -1;
    // The stream states no length at all (an MP3 without a Xing, Info or VBRI header); a
    // decoder's figure for it is an estimate, and the source is as long as what decodes.
    bool unstated = false;
    // The audio's size is a placeholder: it runs to the end of the file.
    bool openEnded = false;
    // A shortfall the header suggests but that is not trusted on its own (an MP3's Xing
    // header counts its stream's bytes, and not every encoder counts them right): the
    // reason given when no decoder can read the file.
    std::optional<EarlyEnd> ifUnreadable;

    ContainerLength() = default;
    ContainerLength(std::nullopt_t) {}
    ContainerLength(std::optional<EarlyEnd> end) : early(std::move(end)) {}
    ContainerLength(EarlyEnd end) : early(std::move(end)) {}
};

// For RIFF/RF64/BW64, Sony Wave64, AIFF/AIFC, IFF 8SVX/16SV, CAF, Sun AU, NIST SPHERE,
// Creative VOC, MATLAB v4 and v5, FLAC, MPEG audio (MP3), Ogg and ISO/QuickTime (M4A)
// files. No shortfall for a whole file, a file longer than it declares, a placeholder
// length (0 or all-ones sizes of an unfinished recording, CAF's -1, AU's 0xFFFFFFFF), or a
// file none of these recognises.
ContainerLength inspectContainer(const std::string& path);

// Whether the opened source reaches the end it reports (see DecodedSource::heldFrames).
std::optional<EarlyEnd> decodedEarlyEnd(DecodedSource& source);

} // namespace sonteva
