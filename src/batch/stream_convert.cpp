#include "batch/stream_convert.h"

#include "audio_io/audio_io.h"
#include "audio_io/dither.h"
#include "batch/channel_pool.h"
#include "engines/engine_factory.h"
#include "engines/system_log.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

namespace sonteva {

namespace {

// One engine per channel, each independent, all from the same factory rules.
std::vector<std::unique_ptr<ResamplerCore>> makeEngines(const ConversionJob& job, int64_t fsIn,
                                                        const FilterParams& params, int channels) {
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

double peakOf(const ChannelBuffers& block) {
    double peak = 0;
    for (const auto& channel : block)
        for (double v : channel)
            peak = std::max(peak, std::fabs(v));
    return peak;
}

} // namespace

double streamProgress(int64_t framesRead, int64_t totalFrames) {
    const double denominator = static_cast<double>(std::max<int64_t>(totalFrames, 1));
    return std::min(0.1 + 0.85 * static_cast<double>(framesRead) / denominator, 0.95);
}

StreamResult streamConvert(const ConversionJob& job, const std::string& sourcePath,
                           const std::string& outputPath, int64_t fsIn, const FilterParams& params,
                           const ProgressFn& progress) {
    AudioStreamReader reader(sourcePath);
    const int channels = reader.channels();
    const int64_t frames = reader.totalFrames();
    const int64_t expected = static_cast<int64_t>(
        std::ceil(static_cast<double>(frames + 4096) * job.targetFs / static_cast<double>(fsIn)));
    AudioStreamWriter writer(outputPath, static_cast<double>(job.targetFs), channels, job.format,
                             job.bitDepth, expected);
    auto engines = makeEngines(job, fsIn, params, channels);
    auto dither = makeDither(job, channels);
    ChannelPool pool(ChannelPool::workersFor(channels));
    std::mutex outputLock;
    StreamResult result;

    // Converts one block (or, given none, flushes the engines), dithers and writes it.
    auto emitBlock = [&](const ChannelBuffers* block) {
        ChannelBuffers out(static_cast<size_t>(channels));
        if (block) {
            pool.run(channels, [&](int c) {
                auto converted = engines[static_cast<size_t>(c)]->processBlock((*block)[c]);
                std::lock_guard lock(outputLock);
                out[static_cast<size_t>(c)] = std::move(converted);
            });
        } else {
            for (int c = 0; c < channels; ++c)
                out[static_cast<size_t>(c)] = engines[c]->flush();
        }
        for (size_t c = 0; c < dither.size(); ++c)
            dither[c].process(out[c]);
        if (!out.empty() && !out[0].empty()) {
            writer.write(out);
            result.framesWritten += static_cast<int64_t>(out[0].size());
            result.peak = std::max(result.peak, peakOf(out));
        }
    };

    int64_t framesRead = 0;
    while (true) {
        const ChannelBuffers block = reader.read(kStreamBlockFrames);
        if (block.empty()) break;
        emitBlock(&block);
        framesRead += static_cast<int64_t>(block[0].size());
        if (progress) progress(streamProgress(framesRead, frames));
    }
    emitBlock(nullptr);
    writer.close();
    result.nonFiniteSamples = reader.nonFiniteSamples();
    return result;
}

} // namespace sonteva
