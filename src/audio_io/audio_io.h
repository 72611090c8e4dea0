#pragma once
// Reading sources into channel-planar 64-bit floats, and writing whole signals.
//
// Decoding goes through libsndfile for everything it opens (WAV, AIFF, FLAC, CAF,
// W64, RF64, Ogg, MP3, ...) and through FFmpeg only for what libsndfile refuses
// (AAC/M4A, ALAC, WMA, ...). Integer samples are scaled exactly (a 24-bit sample q
// reads as q / 8388608) with no 32-bit float stage in between.
#include "audio_io/audio_format.h"
#include "audio_io/metadata.h"
#include "audio_io/source_kind.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sonteva {

using ChannelBuffers = std::vector<std::vector<double>>;

class DecodedSource; // internal decoder backend
class SourcePump;    // internal: reads a decoded source into channel arrays

// Probes a file on opening (rate, channels, length) and reads it whole.
class AudioIO {
public:
    // Throws AudioError with the decoder's description when the file cannot be opened.
    explicit AudioIO(const std::string& path);
    ~AudioIO();
    AudioIO(const AudioIO&) = delete;
    AudioIO& operator=(const AudioIO&) = delete;

    const std::string& path() const { return path_; }
    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    int64_t totalFrames() const { return totalFrames_; }

    // Word-length label: "16", "24", "32f", "64f" for linear PCM, "16/24 (FLAC)" for
    // FLAC, "unknown" for everything else (MP3, AAC, ALAC, ...).
    std::string getBitDepth() const;
    // The stored word length, exactly (a 24-bit FLAC says 24): see DecodedSource.
    int integerBits() const { return integerBits_; }
    int floatBits() const { return floatBits_; }
    // Container, codec and speaker layout, for a description of the file.
    const SourceKind& kind() const { return kind_; }

    std::vector<std::vector<float>> readAllFloat();
    // The whole file as 64-bit floats; falls back to readAllFloat() widened.
    ChannelBuffers readAllDouble();
    // Non-finite samples (NaN, ±inf) met by the last read; they were replaced by 0, as
    // they are on every read path.
    int64_t nonFiniteSamples() const { return nonFinite_; }
    // True when the last readAllDouble() could not read 64-bit samples (out of memory, a
    // decoder failure) and read 32-bit float samples instead.
    bool readAsFloat() const { return readAsFloat_; }

    // Writes a whole in-memory signal in one call (the channel count is the number
    // of arrays, the frame count the length of the first). The file appears whole
    // or not at all: it is written beside the target and renamed over it. `metadata`
    // (already carried to the target, see carryMetadata) and `loudness` are optional.
    static void write(const std::string& to, const ChannelBuffers& channelData, double sampleRate,
                      AudioFormat format, BitDepth bitDepth, const Metadata* metadata = nullptr,
                      const LoudnessSummary* loudness = nullptr);

private:
    // The source opened at construction while unread, else a fresh one.
    std::unique_ptr<DecodedSource> takeSource();
    ChannelBuffers readDoubles();

    std::string path_;
    std::unique_ptr<DecodedSource> source_;
    std::string bitDepth_;
    double sampleRate_ = 0;
    int channels_ = 0;
    int64_t totalFrames_ = 0;
    int64_t nonFinite_ = 0;
    int integerBits_ = 0;
    int floatBits_ = 0;
    SourceKind kind_;
    bool readAsFloat_ = false;
};

// Sequential block reader for the streaming route.
class AudioStreamReader {
public:
    explicit AudioStreamReader(const std::string& path);
    ~AudioStreamReader();
    AudioStreamReader(const AudioStreamReader&) = delete;
    AudioStreamReader& operator=(const AudioStreamReader&) = delete;

    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    int64_t totalFrames() const { return totalFrames_; }
    int integerBits() const;

    // The next block of at most maxFrames frames, one array per channel; an empty
    // result means the end of the file. A source that ends before its declared
    // length (truncated or damaged) throws instead of ending quietly, and so does a
    // block that cannot be allocated (AudioIOError 1), which must not pass for the end.
    ChannelBuffers read(int64_t maxFrames);
    // The same into `block`, reusing the memory of its arrays (a block handed back after
    // use); false, with `block` emptied, at the end of the file.
    bool read(int64_t maxFrames, ChannelBuffers& block);
    // Non-finite samples met so far; each was replaced by 0.
    int64_t nonFiniteSamples() const;

private:
    std::unique_ptr<SourcePump> pump_;
    double sampleRate_ = 0;
    int channels_ = 0;
    int64_t totalFrames_ = 0;
};

// Incremental writer: opened once per job, fed block by block, closed at the end.
// Writes into a hidden temporary file in the destination folder; close() renames it
// over the target. A writer destroyed without a successful close() removes its
// temporary file, so a failed job leaves no partial file and an existing file of the
// same name untouched.
class AudioStreamWriter {
public:
    // expectedFrames (when known) lets a WAV that would pass 4 GiB be written as RF64;
    // otherwise WAV stays a plain canonical RIFF file. When it is unknown (−1) the WAV is
    // written as RF64 that becomes plain RIFF again at close if it stays small (then
    // with an extensible format block). A plain WAV or an AIFF never wraps its sizes:
    // audio past their 4 GiB limit fails the write with a clear error.
    // Throws AudioIOError 2 for a rate or channel count no file can state, 10 when the
    // folder is missing or not writable. `metadata`, already carried to the target (see
    // carryMetadata), is stored in front of the audio (WAV, AIFF) or in the FLAC metadata
    // blocks; nothing is stored for an empty set.
    AudioStreamWriter(const std::string& path, double sampleRate, int channels, AudioFormat format,
                      BitDepth bitDepth, int64_t expectedFrames = -1,
                      const Metadata* metadata = nullptr);
    ~AudioStreamWriter();
    AudioStreamWriter(const AudioStreamWriter&) = delete;
    AudioStreamWriter& operator=(const AudioStreamWriter&) = delete;

    // One block: exactly `channels` arrays of equal length; an empty block does nothing.
    // A failure (with the platform's text, e.g. "No space left on device") abandons the
    // output: the temporary file is removed and later calls throw the same error.
    void write(const ChannelBuffers& channels);
    // The measured loudness for a version-2 bext chunk; call before close().
    void setLoudness(const LoudnessSummary& loudness);
    // Completes the file and renames it over the target; a second call does nothing.
    void close();

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// True when both paths name the same existing file (also through links).
bool sameFile(const std::string& a, const std::string& b);

} // namespace sonteva
