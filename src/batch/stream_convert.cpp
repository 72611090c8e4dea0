#include "batch/stream_convert.h"

#include "audio_io/audio_io.h"
#include "audio_io/dither.h"
#include "audio_io/stop_request.h"
#include "batch/block_queue.h"
#include "batch/channel_pool.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>

namespace sonteva {

namespace {

// TPDF per channel when the plan dithers (a shaped dither never streams).
std::vector<DitherEngine> makeDither(const JobPlan& plan, int channels) {
    std::vector<DitherEngine> dither;
    if (plan.dither == DitherKind::tpdf)
        for (int c = 0; c < channels; ++c)
            dither.emplace_back(DitherType::tpdf, bitsOf(plan.stored), c);
    return dither;
}

// The largest magnitude an undithered reduction writes for a signal whose sample peak is
// `peak`: the nearest code, at most full scale.
double writtenPeak(double peak, int bits) {
    if (bits == 0) return peak;
    const double scale = std::ldexp(1.0, bits - 1);
    return std::min(std::round(peak * scale), scale) / scale;
}

} // namespace

double streamProgress(int64_t framesRead, int64_t totalFrames) {
    const double denominator = static_cast<double>(std::max<int64_t>(totalFrames, 1));
    return std::min(0.1 + 0.85 * static_cast<double>(framesRead) / denominator, 0.95);
}

namespace {

// The first failure of any stage wins; the others then stop at their next hand-over.
class FirstError {
public:
    void set(std::exception_ptr e) {
        std::lock_guard lock(mutex_);
        if (!error_) error_ = std::move(e);
    }
    void rethrow() {
        std::lock_guard lock(mutex_);
        if (error_) std::rethrow_exception(error_);
    }

private:
    std::mutex mutex_;
    std::exception_ptr error_;
};

// Arrays a stage is done with, handed back for reuse: their memory is kept rather than
// allocated, cleared and faulted in afresh for every block.
template <typename T> class Spares {
public:
    explicit Spares(size_t most) : most_(most) {}
    void put(T item) {
        std::lock_guard lock(mutex_);
        if (spare_.size() < most_) spare_.push_back(std::move(item));
    }
    T take() {
        std::lock_guard lock(mutex_);
        if (spare_.empty()) return {};
        T item = std::move(spare_.back());
        spare_.pop_back();
        return item;
    }

private:
    std::mutex mutex_;
    std::vector<T> spare_;
    const size_t most_;
};

// A block on its way through the channel lanes: the source (nothing for the final flush),
// and what the lanes made of it.
struct InFlight {
    ChannelBuffers source;
    bool flush = false;
    ChannelBuffers out;
    std::vector<std::vector<double>> energies; // per channel: the completed 100 ms energies
    int lanesLeft = 0;
};

// One job's stages, each on its own thread and handing blocks on through bounded queues:
// reading; converting in lanes, each owning a fixed set of channels (converted, measured
// while in cache, dithered with the channel's own generator); and writing. The lanes do
// not wait for each other at every block: one may run a block ahead while the other
// shares its core with the reader or the writer. Each engine and generator still sees its
// channel's blocks in order, and blocks complete in order (a block completes when its last
// lane finishes it, after every lane finished the block before), so the output does not
// depend on the overlap.
class StreamJob {
public:
    explicit StreamJob(const JobContext& ctx)
        : ctx_(ctx), job_(ctx.job), reader_(ctx.sourcePath), channels_(reader_.channels()),
          lanes_(std::min(channels_, ChannelPool::workersFor(channels_) + 1)),
          engines_(makeJobEngines(ctx, channels_)), dither_(makeDither(ctx.plan, channels_)),
          carried_(carryForJob(ctx, channels_, engines_.ran,
                               ditherName(ctx.plan.dither, ctx.job).toStdString(),
                               engines_.latency)),
          writer_(ctx.outputPath, static_cast<double>(job_.targetFs), channels_, job_.format,
                  ctx.plan.stored, expectedFrames(ctx.plan.source.fsIn), &carried_.metadata),
          meter_(channels_, static_cast<double>(job_.targetFs), reductionBits(ctx.plan.stored)) {
        for (int l = 0; l < lanes_; ++l)
            toLane_.push_back(std::make_unique<BlockQueue<std::shared_ptr<InFlight>>>(1));
    }

    StreamResult run(const ProgressFn& progress);

private:
    int64_t expectedFrames(int64_t fsIn) const {
        return static_cast<int64_t>(std::ceil(static_cast<double>(reader_.totalFrames() + 4096) *
                                              job_.targetFs / static_cast<double>(fsIn)));
    }
    bool dispatch(std::shared_ptr<InFlight> item);
    void laneStage(int lane);
    void complete(InFlight& item);
    void readStage();
    void writeStage();
    void fail(std::exception_ptr e);
    bool stopped();
    void summarise();

    const JobContext& ctx_;
    const ConversionJob& job_;
    AudioStreamReader reader_;
    int channels_;
    int lanes_;
    JobEngines engines_;
    std::vector<DitherEngine> dither_;
    CarriedMetadata carried_;
    AudioStreamWriter writer_;
    LevelMeter meter_;
    FirstError failure_;
    Spares<ChannelBuffers> spare_{2}; // source blocks, back to the reader
    BlockQueue<ChannelBuffers> toConvert_{2};
    std::vector<std::unique_ptr<BlockQueue<std::shared_ptr<InFlight>>>> toLane_;
    BlockQueue<ChannelBuffers> toWrite_{2};
    std::mutex completion_; // the lanes' hand-over of finished blocks
    const ProgressFn* progress_ = nullptr;
    int64_t framesConverted_ = 0;
    StreamResult result_;
};

// A stop request fails the job like any other error, so that every stage leaves at its
// next hand-over and the temporary output is removed on the way out.
bool StreamJob::stopped() {
    if (!ctx_.stop.stop_requested()) return false;
    fail(std::make_exception_ptr(StopRequested()));
    return true;
}

void StreamJob::fail(std::exception_ptr e) {
    failure_.set(std::move(e));
    toConvert_.abort();
    for (auto& lane : toLane_)
        lane->abort();
    toWrite_.abort();
}

void StreamJob::readStage() {
    try {
        for (ChannelBuffers b = spare_.take(); !stopped() && reader_.read(kStreamBlockFrames, b);
             b = spare_.take())
            if (!toConvert_.push(std::move(b))) break;
    } catch (...) {
        fail(std::current_exception());
    }
    toConvert_.close();
}

void StreamJob::writeStage() {
    try {
        while (auto block = toWrite_.pop()) {
            writer_.write(*block);
            result_.framesWritten += static_cast<int64_t>((*block)[0].size());
        }
    } catch (...) {
        fail(std::current_exception());
    }
}

bool StreamJob::dispatch(std::shared_ptr<InFlight> item) {
    item->out.resize(static_cast<size_t>(channels_));
    item->energies.resize(static_cast<size_t>(channels_));
    item->lanesLeft = lanes_;
    for (auto& lane : toLane_)
        if (!lane->push(item)) return false;
    return true;
}

// Converts the lane's channels of each block (or flushes their engines), measures each
// before its dither and dithers it.
void StreamJob::laneStage(int lane) {
    try {
        while (auto item = toLane_[static_cast<size_t>(lane)]->pop()) {
            if (stopped()) break;
            InFlight& block = **item;
            for (int c = lane; c < channels_; c += lanes_) {
                const auto i = static_cast<size_t>(c);
                ResamplerCore& engine = *engines_.engines[i];
                auto converted =
                    block.flush ? engine.flush() : engine.processBlock(block.source[i]);
                ChannelMeter& meter = meter_.channel(c);
                meter.measure(converted);
                block.energies[i] = std::move(meter.completedEnergies());
                meter.completedEnergies().clear();
                if (!dither_.empty()) dither_[i].process(converted);
                block.out[i] = std::move(converted);
            }
            std::lock_guard lock(completion_);
            if (--block.lanesLeft == 0) complete(block);
        }
    } catch (...) {
        fail(std::current_exception());
    }
}

// The last lane through a block, holding the completion lock: the block's levels, its
// output (empty results, an engine still filling, are not written), the progress.
void StreamJob::complete(InFlight& block) {
    meter_.collect(block.energies);
    if (!block.out[0].empty()) toWrite_.push(std::move(block.out));
    if (block.flush) return;
    framesConverted_ += static_cast<int64_t>(block.source[0].size());
    if (*progress_) (*progress_)(streamProgress(framesConverted_, reader_.totalFrames()));
    spare_.put(std::move(block.source));
}

StreamResult StreamJob::run(const ProgressFn& progress) {
    progress_ = &progress;
    std::thread reading([this] { readStage(); });
    std::thread writing([this] { writeStage(); });
    std::vector<std::thread> lanes;
    for (int l = 0; l < lanes_; ++l)
        lanes.emplace_back([this, l] { laneStage(l); });
    try {
        bool open = true;
        while (open) {
            auto block = toConvert_.pop();
            if (!block) break;
            auto item = std::make_shared<InFlight>();
            item->source = std::move(*block);
            open = dispatch(std::move(item));
        }
        failure_.rethrow(); // a failed read must not pass for the end of the file
        auto flush = std::make_shared<InFlight>();
        flush->flush = true;
        dispatch(std::move(flush));
        for (auto& lane : toLane_)
            lane->close();
    } catch (...) {
        fail(std::current_exception());
    }
    for (auto& lane : lanes)
        lane.join();
    toWrite_.close();
    reading.join();
    writing.join();
    failure_.rethrow();
    summarise();
    writer_.setLoudness(loudnessSummary(result_.report.levels));
    writer_.close();
    result_.nonFiniteSamples = reader_.nonFiniteSamples();
    return result_;
}

// The levels, the largest sample written and the notes, once the last block is through.
void StreamJob::summarise() {
    RouteReport& report = result_.report;
    report.engine = engines_.ran;
    report.dither = ditherName(ctx_.plan.dither, job_);
    report.latency = engines_.latency;
    report.levels = meter_.result();
    report.dithered = !dither_.empty();
    report.notes = carried_.notes;
    result_.peak = dither_.empty()
                       ? writtenPeak(report.levels.samplePeak, reductionBits(ctx_.plan.stored))
                       : 0.0;
    for (const DitherEngine& d : dither_) {
        report.ditherClipped += d.clippedSamples();
        result_.peak = std::max(result_.peak, d.peak());
    }
}

} // namespace

StreamResult streamConvert(const JobContext& ctx) {
    return StreamJob(ctx).run(ctx.progress);
}

} // namespace sonteva
