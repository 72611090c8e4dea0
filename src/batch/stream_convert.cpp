#include "batch/stream_convert.h"

#include "audio_io/audio_io.h"
#include "audio_io/dither.h"
#include "audio_io/stop_request.h"
#include "batch/work_pool.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <utility>

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

// A block on its way through the channels: the source (nothing for the final flush), and
// what the channels made of it.
struct InFlight {
    ChannelBuffers source;
    bool flush = false;
    ChannelBuffers out;
    std::vector<std::vector<double>> energies; // per channel: the completed 100 ms energies
    int channelsLeft = 0;
};

// Blocks read and not yet written: enough for every stage to find work, few enough that a
// job's memory stays at a handful of blocks whatever the speed of its stages.
constexpr int kMostInFlight = 4;

// One job as tasks on the shared pool, in strands that keep each stage's order: reading;
// converting each channel (converted, measured while in cache, dithered with the channel's
// own generator); writing. The channels do not wait for each other at every block: one
// may run a block ahead while another waits for a core. Each engine and generator still
// sees its channel's blocks in order, and blocks complete in order (a block completes when
// its last channel finishes it, after every channel finished the block before), so the
// output does not depend on the overlap, nor on how many jobs share the pool.
class StreamJob {
public:
    explicit StreamJob(const JobContext& ctx)
        : ctx_(ctx), job_(ctx.job), reader_(ctx.sourcePath), channels_(reader_.channels()),
          engines_(makeJobEngines(ctx, channels_)), dither_(makeDither(ctx.plan, channels_)),
          carried_(carryForJob(ctx, channels_, engines_.ran,
                               ditherName(ctx.plan.dither, ctx.job).toStdString(),
                               engines_.latency)),
          writer_(ctx.outputPath, static_cast<double>(job_.targetFs), channels_, job_.format,
                  ctx.plan.stored, expectedFrames(ctx.plan.source.fsIn), &carried_.metadata),
          meter_(channels_, static_cast<double>(job_.targetFs), reductionBits(ctx.plan.stored)),
          pool_(WorkPool::shared()), reading_(pool_), writing_(pool_) {
        for (int c = 0; c < channels_; ++c)
            converting_.push_back(std::make_unique<Strand>(pool_));
    }

    StreamResult run(const ProgressFn& progress);

private:
    int64_t expectedFrames(int64_t fsIn) const {
        return static_cast<int64_t>(std::ceil(static_cast<double>(reader_.totalFrames() + 4096) *
                                              job_.targetFs / static_cast<double>(fsIn)));
    }
    void post(Strand& strand, std::function<void()> task);
    void readNext();
    void convert(InFlight& block, int c);
    void complete(InFlight& block);
    void writeOut(const ChannelBuffers& out);
    void fail(std::exception_ptr e);
    bool stopped();
    void summarise();

    const JobContext& ctx_;
    const ConversionJob& job_;
    AudioStreamReader reader_;
    int channels_;
    JobEngines engines_;
    std::vector<DitherEngine> dither_;
    CarriedMetadata carried_;
    AudioStreamWriter writer_;
    LevelMeter meter_;
    FirstError failure_;
    std::atomic<bool> failed_{false};
    Spares<ChannelBuffers> spare_{kMostInFlight}; // source blocks, back to the reader
    WorkPool& pool_;
    Strand reading_;
    std::vector<std::unique_ptr<Strand>> converting_; // one per channel
    Strand writing_;
    std::mutex state_; // the counts below
    std::condition_variable idle_;
    int pending_ = 0;  // tasks posted and not yet ended
    int inFlight_ = 0; // blocks read and not yet written
    bool readerParked_ = false;
    std::mutex completion_; // the channels' hand-over of finished blocks
    const ProgressFn* progress_ = nullptr;
    int64_t framesConverted_ = 0;
    StreamResult result_;
};

// A stop request fails the job like any other error, so that the tasks still queued end
// without doing anything and the temporary output is removed on the way out.
bool StreamJob::stopped() {
    if (!ctx_.stop.stop_requested()) return false;
    fail(std::make_exception_ptr(StopRequested()));
    return true;
}

void StreamJob::fail(std::exception_ptr e) {
    failure_.set(std::move(e));
    failed_ = true;
}

// Every task is counted until it has ended, so that run() knows when nothing of the job is
// left on the pool. After a failure the tasks still queued end without doing anything.
void StreamJob::post(Strand& strand, std::function<void()> task) {
    {
        std::lock_guard lock(state_);
        ++pending_;
    }
    strand.post([this, task = std::move(task)] {
        try {
            if (!failed_) task();
        } catch (...) {
            fail(std::current_exception());
        }
        std::lock_guard lock(state_);
        if (--pending_ == 0) idle_.notify_all();
    });
}

// Reads one block and hands it to every channel; at the end of the file, the flush. Reads
// on while fewer than kMostInFlight blocks are on their way, and otherwise waits for the
// writer to take one.
void StreamJob::readNext() {
    if (stopped()) return;
    ChannelBuffers source = spare_.take();
    const bool more = reader_.read(kStreamBlockFrames, source);
    auto block = std::make_shared<InFlight>();
    block->flush = !more;
    if (more) block->source = std::move(source);
    block->out.resize(static_cast<size_t>(channels_));
    block->energies.resize(static_cast<size_t>(channels_));
    block->channelsLeft = channels_;
    bool readOn = false;
    {
        std::lock_guard lock(state_);
        ++inFlight_;
        readOn = more && inFlight_ < kMostInFlight;
        readerParked_ = more && !readOn;
    }
    for (int c = 0; c < channels_; ++c)
        post(*converting_[static_cast<size_t>(c)], [this, block, c] { convert(*block, c); });
    if (readOn) post(reading_, [this] { readNext(); });
}

// Converts channel c of the block (or flushes its engine), measures it before its dither
// and dithers it.
void StreamJob::convert(InFlight& block, int c) {
    if (stopped()) return;
    const auto i = static_cast<size_t>(c);
    ResamplerCore& engine = *engines_.engines[i];
    auto converted = block.flush ? engine.flush() : engine.processBlock(block.source[i]);
    ChannelMeter& meter = meter_.channel(c);
    meter.measure(converted);
    block.energies[i] = std::move(meter.completedEnergies());
    meter.completedEnergies().clear();
    if (!dither_.empty()) dither_[i].process(converted);
    block.out[i] = std::move(converted);
    std::lock_guard lock(completion_);
    if (--block.channelsLeft == 0) complete(block);
}

// The last channel through a block, holding the completion lock: the block's levels, its
// output to the writer, the progress.
void StreamJob::complete(InFlight& block) {
    meter_.collect(block.energies);
    post(writing_, [this, out = std::move(block.out)] { writeOut(out); });
    if (block.flush) return;
    framesConverted_ += static_cast<int64_t>(block.source[0].size());
    if (*progress_) (*progress_)(streamProgress(framesConverted_, reader_.totalFrames()));
    spare_.put(std::move(block.source));
}

// Empty results (an engine still filling) are not written.
void StreamJob::writeOut(const ChannelBuffers& out) {
    if (!out[0].empty()) {
        writer_.write(out);
        result_.framesWritten += static_cast<int64_t>(out[0].size());
    }
    bool wakeReader = false;
    {
        std::lock_guard lock(state_);
        --inFlight_;
        wakeReader = std::exchange(readerParked_, false);
    }
    if (wakeReader) post(reading_, [this] { readNext(); });
}

StreamResult StreamJob::run(const ProgressFn& progress) {
    progress_ = &progress;
    post(reading_, [this] { readNext(); });
    {
        std::unique_lock lock(state_);
        idle_.wait(lock, [&] { return pending_ == 0; });
    }
    failure_.rethrow(); // a failed read must not pass for the end of the file
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
