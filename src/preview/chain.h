#pragma once
// The source side of the audition: one queued job's source, read from any position and
// converted by exactly the engines the batch would use, handed out in fixed chunks of
// 1024 frames. Before the first output sample the engines are primed with the real audio
// just before the start, so a start, seek or switch is heard as the converter's steady
// output rather than the settling of an empty filter.
#include "audio_io/seekable_reader.h"
#include "dsp/resampler_core.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace sonteva {

// One chunk: one array of Chain::kChunkFrames samples per channel.
using ChunkBlocks = std::vector<std::vector<double>>;

// Never shared between two playbacks and never rewound: its engines carry filter state.
// Used by one thread at a time.
class Chain {
public:
    static constexpr int kChunkFrames = 1024;
    static constexpr int64_t kReadBlock = 4096;
    // Consumed samples are dropped from the front only past this many, so that each chunk
    // costs a copy of 1024 samples per channel and not a shift of the whole fifo.
    static constexpr size_t kCompactAfter = 65536;

    // `engines` is empty (no conversion) or holds one engine per channel of `file`, in
    // channel order. Primes them with min(startFrame, primeFrames) frames from before
    // startFrame and leaves the file positioned at startFrame.
    Chain(std::unique_ptr<SeekableReader> file, std::vector<std::unique_ptr<ResamplerCore>> engines,
          double targetRate, int64_t startFrame, int64_t primeFrames);
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    // Reads one block and appends its conversion to the fifo; once the source is
    // exhausted (or unreadable), appends the engines' tails, once.
    void fill();
    // Writes exactly kChunkFrames samples per channel into `blocks` and returns how many of
    // them, from the front, are valid output; the rest are zeros.
    int produce(ChunkBlocks& blocks);
    // Refills until at least one sample waits or nothing more will ever come.
    void refillUntilAvailable();
    // Flushed with nothing left: every later chunk has no valid frames.
    bool exhausted() const { return flushed_ && available() <= 0; }

    // The source time reached by what has been handed out, in seconds.
    double position() const { return startTime_ + double(outProduced_) / targetRate_; }

    int channels() const { return channels_; }
    double sourceRate() const { return sourceRate_; }
    double targetRate() const { return targetRate_; }
    int64_t totalFrames() const { return totalFrames_; }
    double startTime() const { return startTime_; }
    int64_t outProduced() const { return outProduced_; }
    bool eof() const { return eof_; }
    bool flushed() const { return flushed_; }
    size_t fifoOffset() const { return fifoOffset_; }
    size_t fifoLength() const { return fifo_.empty() ? 0 : fifo_[0].size(); }

private:
    void prime(int64_t frames);
    // Reads up to n frames into readBuf_; 0 when nothing came (end, failure, no buffer).
    int64_t readBlock(int64_t n);
    // Channel c of the last block, widened to 64-bit.
    std::span<const double> widen(int c, int64_t frames);
    int64_t available() const {
        return static_cast<int64_t>(fifoLength()) - static_cast<int64_t>(fifoOffset_);
    }

    std::unique_ptr<SeekableReader> file_;
    std::vector<std::unique_ptr<ResamplerCore>> engines_;
    int channels_ = 0;
    double sourceRate_ = 0;
    double targetRate_ = 0;
    int64_t totalFrames_ = 0;
    double startTime_ = 0;
    int64_t sourceFrame_ = 0;
    std::vector<std::vector<double>> fifo_;
    size_t fifoOffset_ = 0;
    bool eof_ = false;
    bool flushed_ = false;
    int64_t outProduced_ = 0;
    // Read buffers, allocated once: 32-bit as read, then widened one channel at a time.
    std::vector<std::vector<float>> readBuf_;
    std::vector<double> wide_;
};

// Pre-roll in source frames for a chain of this algorithm and rate pair: none for equal
// rates, else twice the calibrated tap count, held within 512...65536.
int64_t preRollFrames(const std::string& quality, int64_t fsIn, int64_t targetFs);
// The first source frame of a chain that starts `seconds` into a file of this rate.
int64_t startFrameAt(double seconds, double fileRate);

// A source opened and its engines built ahead of play. Used at most once (the engines
// carry filter state).
struct PreparedSource {
    QString quality;
    int targetFs = 0;
    std::unique_ptr<SeekableReader> file;
    std::vector<std::unique_ptr<ResamplerCore>> engines; // empty when already at targetFs
};

} // namespace sonteva
