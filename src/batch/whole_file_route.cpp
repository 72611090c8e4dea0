#include "batch/whole_file_route.h"

#include "audio_io/audio_io.h"
#include "audio_io/dither.h"
#include "audio_io/level_meter.h"
#include "batch/channel_pool.h"
#include "engines/engine_factory.h"
#include "engines/ssrc_runner.h"
#include "engines/system_log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace sonteva {

namespace {

// Every other engine converts the channels in parallel, each task with its own engine.
ChannelBuffers convertChannels(const ConversionJob& job, const ChannelBuffers& signal, int64_t fsIn,
                               const FilterParams& params, const ProgressFn& progress) {
    const int channels = static_cast<int>(signal.size());
    ChannelBuffers out(signal.size());
    std::mutex lock;
    int finished = 0;
    ChannelPool pool(ChannelPool::workersFor(channels));
    pool.run(channels, [&](int c) {
        auto engine = makeExportResampler(job.quality.toStdString(), fsIn, job.targetFs, params);
        auto converted = engine->processBlock(signal[static_cast<size_t>(c)]);
        const auto tail = engine->flush();
        converted.insert(converted.end(), tail.begin(), tail.end());
        std::lock_guard guard(lock);
        out[static_cast<size_t>(c)] = std::move(converted);
        ++finished;
        if (progress) progress(0.1 + 0.8 * finished / channels);
    });
    return out;
}

void logTpdfSubstitute(BitDepth depth) {
    systemLog("Sonteva: noise-shaping dither unavailable (bitDepth " + rawValue(depth) +
              " / ssrc) \u2014 using TPDF");
}

struct DitherApplied {
    std::string name = "None";
    bool tpdf = false;
    int64_t clipped = 0;
};

DitherApplied tpdf(ChannelBuffers& signal, BitDepth depth) {
    return {"TPDF", true, applyTPDF(signal, depth)};
}

// Dither only ever touches 16- and 24-bit targets. A noise shaper the external converter
// cannot deliver (and any on 24 bits) falls back to TPDF with a log line.
DitherApplied applyDither(const ConversionJob& job, ChannelBuffers& signal) {
    if (job.bitDepth != BitDepth::int16 && job.bitDepth != BitDepth::int24) return {};
    const auto& shapers = SSRCRunner::shaperIDs();
    const auto shaper = shapers.find(job.dither.toStdString());
    if (shaper != shapers.end()) {
        if (job.bitDepth == BitDepth::int16) {
            if (auto shaped = SSRCRunner::dither16(signal, job.targetFs, shaper->second)) {
                signal = std::move(*shaped);
                return {shaper->first, false, 0};
            }
        }
        logTpdfSubstitute(job.bitDepth);
        return tpdf(signal, job.bitDepth);
    }
    if (job.dither == QLatin1String("TPDF")) return tpdf(signal, job.bitDepth);
    return {};
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
MeasuredLevels measure(const ChannelBuffers& signal, const ConversionJob& job) {
    LevelMeter meter(static_cast<int>(signal.size()), static_cast<double>(job.targetFs),
                     reductionBits(job));
    for (size_t c = 0; c < signal.size(); ++c)
        meter.channel(static_cast<int>(c)).measure(signal[c]);
    meter.collect();
    return meter.result();
}

} // namespace

WholeFileResult wholeFileConvert(const ConversionJob& job, const std::string& sourcePath,
                                 const std::string& outputPath, int64_t fsIn,
                                 const FilterParams& params, const ProgressFn& progress,
                                 const Metadata& metadata) {
    AudioIO source(sourcePath);
    ChannelBuffers signal = source.readAllDouble();
    WholeFileResult result;
    result.nonFiniteSamples = source.nonFiniteSamples();
    int64_t clamped = 0;
    std::string clampNote;
    if (job.quality == kSSRCShibata && job.targetFs != fsIn) {
        ChannelBuffers converted = SSRCRunner::convert(signal, fsIn, job.targetFs, &clamped);
        if (clamped > 0) clampNote = clampedNote(clamped, signal);
        signal = std::move(converted);
    } else {
        signal = convertChannels(job, signal, fsIn, params, progress);
    }
    result.report.levels = measure(signal, job);
    result.report.clippedBeforeConversion = clamped;
    // The external shaper's own clipping is not visible here: the meters' count of what an
    // undithered reduction would clip stands in for it.
    const DitherApplied dither = applyDither(job, signal);
    result.report.dithered = dither.tpdf;
    result.report.ditherClipped = dither.clipped;
    const auto carried =
        carryForJob(job, metadata, fsIn, static_cast<int>(signal.size()), dither.name);
    result.report.notes = carried.notes;
    if (!clampNote.empty()) result.report.notes.push_back(clampNote);
    const LoudnessSummary loudness = loudnessSummary(result.report.levels);
    AudioIO::write(outputPath, signal, static_cast<double>(job.targetFs), job.format, job.bitDepth,
                   &carried.metadata, &loudness);
    result.framesWritten = signal.empty() ? 0 : static_cast<int64_t>(signal[0].size());
    for (const auto& channel : signal)
        for (double v : channel)
            result.peak = std::max(result.peak, std::fabs(v));
    return result;
}

} // namespace sonteva
