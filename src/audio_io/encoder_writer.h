#pragma once
// The libsndfile route of the writers: every container and word length except 64-bit
// float WAV. Integer word lengths are quantised here (q = round-half-away(x · 2^(N−1)),
// clamped, NaN → 0) and handed over as integers, so a dithered sample lands exactly on
// its q; libsndfile's own double-to-integer path scales by 2^(N−1) − 1 and wraps.
#include "audio_io/audio_format.h"

#include "audio_io/sndfile_io.h"

#include <sndfile.h>

#include <cstdint>
#include <vector>

namespace sonteva {

// The id of the placeholder chunk, overwritten before the file is complete.
inline constexpr char kPlaceholderId[] = "sntv";

struct EncoderPlan {
    int sfFormat = 0;           // libsndfile container | subtype
    int quantiseBits = 0;       // 16, 24 or 32: integers computed here; 0: floats handed over
    bool autoDowngrade = false; // RF64 that libsndfile turns into plain WAV if it stays small
    int64_t frameLimit = -1;    // most frames a 32-bit container can take; -1: no limit
};

// The plan for a container and word length. expectedFrames (−1 when unknown) decides
// between plain WAV, whose canonical header delivery tools prefer, and RF64 for audio
// that would pass 4 GiB. Throws AudioError for an AIFF that cannot hold expectedFrames.
EncoderPlan planEncoder(AudioFormat format, BitDepth depth, int channels, int64_t expectedFrames);

class EncoderWriter {
public:
    // Opens libsndfile over `fd` (which stays open). Throws AudioError on failure.
    // `placeholderBytes` > 0 asks for a chunk of that many zero bytes in front of the audio
    // (WAV, RF64 and AIFF), found afterwards under kPlaceholderId.
    EncoderWriter(int fd, const EncoderPlan& plan, double sampleRate, int channels,
                  uint64_t placeholderBytes = 0);
    ~EncoderWriter();
    EncoderWriter(const EncoderWriter&) = delete;
    EncoderWriter& operator=(const EncoderWriter&) = delete;

    // Writes frames [first, first + count) of the channel arrays; throws AudioError with
    // the platform's text when the file cannot take them.
    void write(const std::vector<std::vector<double>>& block, size_t first, size_t count);
    // Completes the file; throws when libsndfile or the file system reports a failure.
    void finish();

private:
    [[noreturn]] void failWrite();

    // Every byte goes through it, so that a failure anywhere (also while libsndfile
    // completes the header or flushes the FLAC encoder inside sf_close) is seen.
    SndfileFileIo io_;
    SNDFILE* file_ = nullptr;
    EncoderPlan plan_;
    int channels_;
    int64_t written_ = 0;
    int rawBytes_ = 0; // bytes of a word handed over as bytes; 0: through the library
    bool rawSwapped_ = false;
    std::vector<uint8_t> bytes_;
    std::vector<int32_t> ints_;
    std::vector<int32_t> column_;
    std::vector<double> doubles_;
};

} // namespace sonteva
