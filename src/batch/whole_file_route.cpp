#include "batch/whole_file_route.h"

#include "audio_io/audio_io.h"
#include "audio_io/dither.h"
#include "audio_io/level_meter.h"
#include "audio_io/stop_request.h"
#include "batch/job_runner.h"
#include "batch/work_pool.h"
#include "engines/engine_table.h"
#include "engines/ssrc_runner.h"
#include "engines/system_log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>

namespace sonteva {

namespace {

// One channel through its engine, in the streaming route's blocks (the engines carry
// their state across blocks, so the result is the same as in one block), looking for a
// stop request between them; nothing when one came.
std::optional<std::vector<double>>
convertChannel(ResamplerCore& engine, const std::vector<double>& x, const std::stop_token& stop) {
    std::vector<double> y;
    std::vector<double> block;
    for (size_t at = 0; at < x.size(); at += static_cast<size_t>(kStreamBlockFrames)) {
        if (stop.stop_requested()) return std::nullopt;
        const size_t end = std::min(x.size(), at + static_cast<size_t>(kStreamBlockFrames));
        block.assign(x.begin() + static_cast<std::ptrdiff_t>(at),
                     x.begin() + static_cast<std::ptrdiff_t>(end));
        const auto converted = engine.processBlock(block);
        y.insert(y.end(), converted.begin(), converted.end());
    }
    const auto tail = engine.flush();
    y.insert(y.end(), tail.begin(), tail.end());
    return y;
}

// Every other engine converts the channels in parallel, each task with its own engine.
ChannelBuffers convertChannels(const JobContext& ctx, const ChannelBuffers& signal,
                               JobEngines& engines) {
    const int channels = static_cast<int>(signal.size());
    ChannelBuffers out(signal.size());
    std::mutex lock;
    int finished = 0;
    WorkPool::shared().run(channels, [&](int c) {
        ResamplerCore& engine = *engines.engines[static_cast<size_t>(c)];
        auto converted = convertChannel(engine, signal[static_cast<size_t>(c)], ctx.stop);
        if (!converted) return;
        std::lock_guard guard(lock);
        out[static_cast<size_t>(c)] = std::move(*converted);
        ++finished;
        if (ctx.progress) ctx.progress(0.1 + 0.8 * finished / channels);
    });
    throwIfStopped(ctx.stop);
    return out;
}

struct DitherApplied {
    DitherKind kind = DitherKind::none;
    int64_t clipped = 0;
};

// The plan's dither. A noise shaper the external converter cannot deliver falls back to
// TPDF, logged and noted (refused for a strict job, before anything is written).
DitherApplied applyDither(const JobContext& ctx, ChannelBuffers& signal) {
    const JobPlan& plan = ctx.plan;
    if (plan.dither == DitherKind::none) return {};
    if (plan.dither == DitherKind::shaped) {
        const int shaper = SSRCRunner::shaperIDs().at(ctx.job.dither.toStdString());
        std::string why;
        if (auto shaped = SSRCRunner::dither16(signal, ctx.job.targetFs, shaper, &why, ctx.stop)) {
            signal = std::move(*shaped);
            return {DitherKind::shaped, 0};
        }
        systemLog("Sonteva: noise-shaping dither unavailable (bitDepth " + rawValue(plan.stored) +
                  " / ssrc) \u2014 using TPDF");
        ctx.notes.substitute(QStringLiteral("%1 could not be applied (%2): TPDF dither was "
                                            "applied instead")
                                 .arg(ctx.job.dither, QString::fromStdString(why)));
    }
    return {DitherKind::tpdf, applyTPDF(signal, plan.stored)};
}

// The external converter takes integers: samples beyond full scale are clamped on the
// way in, which the other engines' float path would have kept. Says how many, and how far.
std::string clampedNote(int64_t clamped, const ChannelBuffers& source) {
    double peak = 0;
    for (const auto& channel : source)
        for (double v : channel)
            peak = std::max(peak, std::fabs(v));
    char text[200];
    std::snprintf(text, sizeof text,
                  "%lld samples above full scale (source peak %+.2f dBFS) were clipped to full "
                  "scale for the SSRC converter, which takes integer input",
                  static_cast<long long>(clamped), 20.0 * std::log10(peak));
    return text;
}

// The converted signal's levels, before any word-length reduction.
MeasuredLevels measure(const ChannelBuffers& signal, const JobContext& ctx) {
    LevelMeter meter(static_cast<int>(signal.size()), static_cast<double>(ctx.job.targetFs),
                     reductionBits(ctx.plan.stored));
    for (size_t c = 0; c < signal.size(); ++c)
        meter.channel(static_cast<int>(c)).measure(signal[c]);
    meter.collect();
    return meter.result();
}

ChannelBuffers readSource(const JobContext& ctx, WholeFileResult& result) {
    AudioIO source(ctx.sourcePath);
    ChannelBuffers signal = source.readAllDouble();
    result.nonFiniteSamples = source.nonFiniteSamples();
    if (source.readAsFloat())
        ctx.notes.substitute(QStringLiteral("the source could not be read with 64-bit precision "
                                            "and was read as 32-bit float samples"));
    return signal;
}

// Converts by the job's engine: the external converter over the whole signal, or the
// streaming engines channel by channel.
ChannelBuffers convert(const JobContext& ctx, const ChannelBuffers& signal, RouteReport& report) {
    const int64_t fsIn = ctx.plan.source.fsIn;
    const EngineInfo* engine = findEngine(ctx.job.quality.toStdString());
    if (engine && !engine->streams && fsIn != ctx.job.targetFs) {
        report.engine = engine->name;
        int64_t clamped = 0;
        ChannelBuffers out =
            SSRCRunner::convert(signal, fsIn, ctx.job.targetFs, &clamped, ctx.stop);
        report.clippedBeforeConversion = clamped;
        if (clamped > 0) ctx.notes.inform(QString::fromStdString(clampedNote(clamped, signal)));
        // The converter keeps its own timing; compensation only settles the length.
        if (ctx.job.compensateDelay)
            for (auto& channel : out)
                channel.resize(static_cast<size_t>(ctx.plan.exactFrames), 0.0);
        return out;
    }
    JobEngines engines = makeJobEngines(ctx, static_cast<int>(signal.size()));
    report.engine = engines.ran;
    report.latency = engines.latency;
    return convertChannels(ctx, signal, engines);
}

} // namespace

WholeFileResult wholeFileConvert(const JobContext& ctx) {
    WholeFileResult result;
    RouteReport& report = result.report;
    ChannelBuffers signal = readSource(ctx, result);
    throwIfStopped(ctx.stop);
    signal = convert(ctx, signal, report);
    throwIfStopped(ctx.stop);
    report.levels = measure(signal, ctx);
    // The external shaper's own clipping is not visible here: the meters' count of what an
    // undithered reduction would clip stands in for it.
    const DitherApplied dither = applyDither(ctx, signal);
    report.dither = ditherName(dither.kind, ctx.job);
    report.dithered = dither.kind == DitherKind::tpdf;
    report.ditherClipped = dither.clipped;
    const int channels = static_cast<int>(signal.size());
    const auto carried =
        carryForJob(ctx, channels, report.engine, report.dither.toStdString(), report.latency);
    report.notes = carried.notes;
    const LoudnessSummary loudness = loudnessSummary(report.levels);
    throwIfStopped(ctx.stop);
    AudioIO::write(ctx.outputPath, signal, static_cast<double>(ctx.job.targetFs), ctx.job.format,
                   ctx.plan.stored, &carried.metadata, &loudness);
    result.framesWritten = signal.empty() ? 0 : static_cast<int64_t>(signal[0].size());
    for (const auto& channel : signal)
        for (double v : channel)
            result.peak = std::max(result.peak, std::fabs(v));
    return result;
}

} // namespace sonteva
