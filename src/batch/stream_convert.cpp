#include "batch/stream_convert.h"

#include "audio_io/audio_io.h"
#include "audio_io/dither.h"
#include "batch/block_queue.h"
#include "batch/channel_pool.h"
#include "engines/engine_factory.h"
#include "engines/system_log.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>

namespace sonteva {

namespace {

// One engine per channel, each independent, all from the same factory rules.
std::vector<std::unique_ptr<ResamplerCore>>
channelEngines(const ConversionJob& job, int64_t fsIn, const FilterParams& params, int channels) {
    std::vector<std::unique_ptr<ResamplerCore>> engines;
    for (int c = 0; c < channels; ++c)
        engines.push_back(
            makeExportResampler(job.quality.toStdString(), fsIn, job.targetFs, params));
    return engines;
}

// TPDF for "TPDF" on 16- and 24-bit targets. A noise shaper on a 24-bit target (the
// external shapers only exist for 16 bits) gets TPDF too, with the same log line as the
// whole-file route. Every other combination is written undithered.
std::vector<DitherEngine> makeDither(const ConversionJob& job, int channels) {
    const bool integerTarget = job.bitDepth == BitDepth::int16 || job.bitDepth == BitDepth::int24;
    if (!integerTarget) return {};
    const bool tpdf = job.dither == QLatin1String("TPDF");
    if (!tpdf && !isNoiseShaping(job.dither)) return {};
    if (!tpdf)
        systemLog("Sonteva: noise-shaping dither unavailable (bitDepth " + rawValue(job.bitDepth) +
                  " / ssrc) \u2014 using TPDF");
    std::vector<DitherEngine> dither;
    for (int c = 0; c < channels; ++c)
        dither.emplace_back(DitherType::tpdf, bitsOf(job.bitDepth), c);
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

// One job's stages, each on its own thread and handing blocks on through bounded queues:
// reading, converting (each channel in its own task: converted, measured while it is in
// cache, dithered with its own generator), and writing. The engines and dither generators
// see every channel's blocks in order, so the output does not depend on the overlap.
class StreamJob {
public:
    StreamJob(const ConversionJob& job, const std::string& sourcePath,
              const std::string& outputPath, int64_t fsIn, const FilterParams& params,
              const Metadata& metadata)
        : job_(job), reader_(sourcePath), channels_(reader_.channels()),
          engines_(channelEngines(job, fsIn, params, channels_)),
          dither_(makeDither(job, channels_)),
          carried_(carryForJob(job, metadata, fsIn, channels_, dither_.empty() ? "None" : "TPDF")),
          writer_(outputPath, static_cast<double>(job.targetFs), channels_, job.format,
                  job.bitDepth, expectedFrames(fsIn), &carried_.metadata),
          meter_(channels_, static_cast<double>(job.targetFs), reductionBits(job)),
          pool_(ChannelPool::workersFor(channels_)) {}

    StreamResult run(const ProgressFn& progress);

private:
    int64_t expectedFrames(int64_t fsIn) const {
        return static_cast<int64_t>(std::ceil(static_cast<double>(reader_.totalFrames() + 4096) *
                                              job_.targetFs / static_cast<double>(fsIn)));
    }
    void convertBlock(const ChannelBuffers* block);
    void readStage();
    void writeStage();
    void fail(std::exception_ptr e);
    void summarise();

    const ConversionJob& job_;
    AudioStreamReader reader_;
    int channels_;
    std::vector<std::unique_ptr<ResamplerCore>> engines_;
    std::vector<DitherEngine> dither_;
    CarriedMetadata carried_;
    AudioStreamWriter writer_;
    LevelMeter meter_;
    ChannelPool pool_;
    std::mutex outputLock_;
    FirstError failure_;
    Spares<ChannelBuffers> spare_{2}; // source blocks, back to the reader
    BlockQueue<ChannelBuffers> toConvert_{2};
    BlockQueue<ChannelBuffers> toWrite_{2};
    StreamResult result_;
};

void StreamJob::fail(std::exception_ptr e) {
    failure_.set(std::move(e));
    toConvert_.abort();
    toWrite_.abort();
}

void StreamJob::readStage() {
    try {
        for (ChannelBuffers b = spare_.take(); reader_.read(kStreamBlockFrames, b);
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

// Converts one block (or, given none, flushes the engines), measures each channel before
// its dither and dithers it; empty results (an engine still filling) are not written.
void StreamJob::convertBlock(const ChannelBuffers* block) {
    ChannelBuffers out(static_cast<size_t>(channels_));
    pool_.run(channels_, [&](int c) {
        const auto i = static_cast<size_t>(c);
        auto converted = block ? engines_[i]->processBlock((*block)[i]) : engines_[i]->flush();
        meter_.channel(c).measure(converted);
        if (!dither_.empty()) dither_[i].process(converted);
        std::lock_guard lock(outputLock_);
        out[i] = std::move(converted);
    });
    meter_.collect();
    if (!out[0].empty()) toWrite_.push(std::move(out));
}

StreamResult StreamJob::run(const ProgressFn& progress) {
    std::thread reading([this] { readStage(); });
    std::thread writing([this] { writeStage(); });
    try {
        int64_t framesRead = 0;
        while (auto block = toConvert_.pop()) {
            convertBlock(&*block);
            framesRead += static_cast<int64_t>((*block)[0].size());
            if (progress) progress(streamProgress(framesRead, reader_.totalFrames()));
            spare_.put(std::move(*block));
        }
        failure_.rethrow(); // a failed read must not pass for the end of the file
        convertBlock(nullptr);
        toWrite_.close();
    } catch (...) {
        fail(std::current_exception());
    }
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
    report.levels = meter_.result();
    report.dithered = !dither_.empty();
    report.notes = carried_.notes;
    result_.peak =
        dither_.empty() ? writtenPeak(report.levels.samplePeak, reductionBits(job_)) : 0.0;
    for (const DitherEngine& d : dither_) {
        report.ditherClipped += d.clippedSamples();
        result_.peak = std::max(result_.peak, d.peak());
    }
}

} // namespace

StreamResult streamConvert(const ConversionJob& job, const std::string& sourcePath,
                           const std::string& outputPath, int64_t fsIn, const FilterParams& params,
                           const ProgressFn& progress, const Metadata& metadata) {
    return StreamJob(job, sourcePath, outputPath, fsIn, params, metadata).run(progress);
}

} // namespace sonteva
