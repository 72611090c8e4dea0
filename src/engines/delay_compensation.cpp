#include "engines/delay_compensation.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace sonteva {

namespace {

int64_t owedFrames(int64_t frames, int64_t fsIn, int64_t fsOut) {
    const __int128 twice = static_cast<__int128>(frames) * fsOut * 2;
    return static_cast<int64_t>((twice + fsIn) / (2 * static_cast<__int128>(fsIn)));
}

} // namespace

DelayCompensated::DelayCompensated(std::unique_ptr<ResamplerCore> inner, int64_t fsIn,
                                   int64_t fsOut)
    : inner_(std::move(inner)), fsIn_(fsIn), fsOut_(fsOut),
      toSkip_(std::max<int64_t>(0, std::llround(inner_->latencyFrames()))),
      residual_(inner_->latencyFrames() - static_cast<double>(toSkip_)) {}

void DelayCompensated::trim(std::vector<double>& out, int64_t limit) {
    const auto skip = std::min<int64_t>(toSkip_, static_cast<int64_t>(out.size()));
    out.erase(out.begin(), out.begin() + skip);
    toSkip_ -= skip;
    const int64_t room = std::max<int64_t>(0, limit - delivered_);
    if (static_cast<int64_t>(out.size()) > room) out.resize(static_cast<size_t>(room));
    delivered_ += static_cast<int64_t>(out.size());
}

std::vector<double> DelayCompensated::processBlock(std::span<const double> x) {
    framesIn_ += static_cast<int64_t>(x.size());
    std::vector<double> out = inner_->processBlock(x);
    // The length is only settled at the end: an engine may run a frame ahead of what the
    // input so far owes, and that frame belongs to the sound.
    trim(out, INT64_MAX);
    return out;
}

// The engine's own tail covers about its delay; silence fed before the flush makes sure
// the sound's last frames come out even where the tail falls a frame or two short.
std::vector<double> DelayCompensated::flush() {
    const int64_t target = owedFrames(framesIn_, fsIn_, fsOut_);
    const double latency = inner_->latencyFrames();
    const auto extra =
        static_cast<size_t>(std::ceil(std::max(0.0, latency) * static_cast<double>(fsIn_) /
                                      static_cast<double>(fsOut_)) +
                            4);
    const std::vector<double> silence(extra, 0.0);
    std::vector<double> out = inner_->processBlock(silence);
    const std::vector<double> tail = inner_->flush();
    out.insert(out.end(), tail.begin(), tail.end());
    trim(out, target);
    // An engine that still owes frames ends in silence; the sound itself is complete.
    if (delivered_ < target) {
        out.resize(out.size() + static_cast<size_t>(target - delivered_), 0.0);
        delivered_ = target;
    }
    return out;
}

} // namespace sonteva
