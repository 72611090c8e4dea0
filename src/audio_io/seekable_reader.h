#pragma once
// Random-access reading for the audition: a source opened once, positioned anywhere to the
// exact frame, and read in small pieces into 32-bit float channel buffers. Every decoder the
// readers accept works here; positioning is exact on all of them (FFmpeg sources decode
// forward to the frame rather than trusting a container's approximate seek).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sonteva {

class DecodedSource;

class SeekableReader {
public:
    // Throws AudioError with the decoder's description when the file cannot be opened.
    explicit SeekableReader(const std::string& path);
    ~SeekableReader();
    SeekableReader(const SeekableReader&) = delete;
    SeekableReader& operator=(const SeekableReader&) = delete;

    const std::string& path() const { return path_; }
    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    int64_t totalFrames() const { return totalFrames_; }
    // The frame the next read starts at.
    int64_t position() const { return position_; }

    // Moves to `frame` (0...totalFrames). False when the decoder cannot get there; reads
    // then return nothing until a later positioning succeeds.
    bool setPosition(int64_t frame);

    // Reads up to maxFrames frames into dest[c][0, n) for every channel (each array must
    // hold at least maxFrames samples) and returns n. Fewer than asked means the end of the
    // file or a decoding failure (errorText() then says which); 0 means nothing more.
    // Non-finite samples are replaced by 0, as on every other read path.
    int64_t read(std::vector<std::vector<float>>& dest, int64_t maxFrames);
    std::string errorText() const;

private:
    std::string path_;
    std::unique_ptr<DecodedSource> source_;
    std::vector<double> scratch_; // interleaved, reused between reads
    double sampleRate_ = 0;
    int channels_ = 0;
    int64_t totalFrames_ = 0;
    int64_t position_ = 0;
    bool lost_ = false; // a positioning failed: the decoder's place is unknown
};

} // namespace sonteva
