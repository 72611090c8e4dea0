#include "preview/chain.h"

#include "engines/engine_table.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace sonteva {

Chain::Chain(std::unique_ptr<SeekableReader> file,
             std::vector<std::unique_ptr<ResamplerCore>> engines, double targetRate,
             int64_t startFrame, int64_t primeFrames)
    : file_(std::move(file)), engines_(std::move(engines)), targetRate_(targetRate) {
    channels_ = file_->channels();
    if (!engines_.empty() && engines_.size() != static_cast<size_t>(channels_))
        throw std::invalid_argument("a chain needs one engine per channel or none");
    sourceRate_ = file_->sampleRate();
    totalFrames_ = file_->totalFrames();
    sourceFrame_ = startFrame;
    startTime_ = double(startFrame) / sourceRate_;
    fifo_.resize(static_cast<size_t>(channels_));
    try {
        readBuf_.assign(static_cast<size_t>(channels_),
                        std::vector<float>(static_cast<size_t>(kReadBlock)));
        wide_.resize(static_cast<size_t>(kReadBlock));
    } catch (const std::bad_alloc&) {
        // Without buffers nothing can be read: no pre-roll, and the first refill ends it.
        readBuf_.clear();
    }
    prime(std::min(startFrame, primeFrames));
}

// Runs the engines over the audio just before the start and drops what they return:
// afterwards they hold the filter history of the real signal.
void Chain::prime(int64_t frames) {
    if (!engines_.empty() && frames >= 1 && file_->setPosition(sourceFrame_ - frames)) {
        while (frames >= 1) {
            const int64_t got = readBlock(std::min(frames, kReadBlock));
            if (got < 1) break;
            for (int c = 0; c < channels_; ++c)
                engines_[static_cast<size_t>(c)]->processBlock(widen(c, got));
            frames -= got;
        }
    }
    file_->setPosition(sourceFrame_);
}

int64_t Chain::readBlock(int64_t n) {
    if (readBuf_.empty()) return 0;
    return file_->read(readBuf_, n);
}

std::span<const double> Chain::widen(int c, int64_t frames) {
    const float* in = readBuf_[static_cast<size_t>(c)].data();
    for (int64_t i = 0; i < frames; ++i)
        wide_[static_cast<size_t>(i)] = in[i];
    return {wide_.data(), static_cast<size_t>(frames)};
}

void Chain::fill() {
    if (eof_) {
        if (!flushed_) {
            for (size_t c = 0; c < engines_.size(); ++c) {
                const std::vector<double> tail = engines_[c]->flush();
                fifo_[c].insert(fifo_[c].end(), tail.begin(), tail.end());
            }
        }
        flushed_ = true;
        return;
    }
    const int64_t remaining = totalFrames_ - sourceFrame_;
    const int64_t got = remaining > 0 ? readBlock(std::min(remaining, kReadBlock)) : 0;
    if (got < 1) {
        eof_ = true;
        return;
    }
    sourceFrame_ += got;
    for (int c = 0; c < channels_; ++c) {
        std::vector<double>& out = fifo_[static_cast<size_t>(c)];
        const std::span<const double> x = widen(c, got);
        if (engines_.empty()) {
            out.insert(out.end(), x.begin(), x.end());
        } else {
            const std::vector<double> y = engines_[static_cast<size_t>(c)]->processBlock(x);
            out.insert(out.end(), y.begin(), y.end());
        }
    }
}

int Chain::produce(ChunkBlocks& blocks) {
    while (available() < kChunkFrames && !flushed_)
        fill();
    const int n = static_cast<int>(std::clamp<int64_t>(available(), 0, kChunkFrames));
    blocks.resize(static_cast<size_t>(channels_));
    for (int c = 0; c < channels_; ++c) {
        std::vector<double>& block = blocks[static_cast<size_t>(c)];
        block.assign(kChunkFrames, 0.0);
        if (n > 0) {
            const double* from = fifo_[static_cast<size_t>(c)].data() + fifoOffset_;
            std::copy(from, from + n, block.begin());
        }
    }
    fifoOffset_ += static_cast<size_t>(n);
    outProduced_ += n;
    if (fifoOffset_ > kCompactAfter) {
        for (auto& channel : fifo_)
            channel.erase(channel.begin(), channel.begin() + static_cast<ptrdiff_t>(fifoOffset_));
        fifoOffset_ = 0;
    }
    return n;
}

void Chain::refillUntilAvailable() {
    while (available() < 1 && !flushed_)
        fill();
}

int64_t preRollFrames(const std::string& quality, int64_t fsIn, int64_t targetFs) {
    if (fsIn == targetFs) return 0;
    const int64_t taps = engineParams(quality, fsIn, targetFs).taps;
    return std::clamp<int64_t>(2 * taps, 512, 65536);
}

int64_t startFrameAt(double seconds, double fileRate) {
    return static_cast<int64_t>(seconds * fileRate);
}

} // namespace sonteva
