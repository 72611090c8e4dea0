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

// Four running maxima so that the comparisons of neighbouring samples overlap.
double peakOf(const std::vector<double>& x) {
    double m[4] = {0, 0, 0, 0};
    size_t i = 0;
    for (; i + 4 <= x.size(); i += 4)
        for (int j = 0; j < 4; ++j)
            m[j] = std::max(m[j], std::fabs(x[i + j]));
    for (; i < x.size(); ++i)
        m[0] = std::max(m[0], std::fabs(x[i]));
    return std::max(std::max(m[0], m[1]), std::max(m[2], m[3]));
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

} // namespace

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
    auto engines = channelEngines(job, fsIn, params, channels);
    auto dither = makeDither(job, channels);
    ChannelPool pool(ChannelPool::workersFor(channels));
    std::mutex outputLock;
    StreamResult result;
    FirstError failure;
    BlockQueue<ChannelBuffers> toConvert(2), toWrite(2);

    // Reading and writing run beside the conversion; the engines and dither generators
    // still see every channel's blocks in order, so the output is the same.
    std::thread readStage([&] {
        try {
            for (ChannelBuffers b = reader.read(kStreamBlockFrames); !b.empty();
                 b = reader.read(kStreamBlockFrames))
                if (!toConvert.push(std::move(b))) break;
        } catch (...) {
            failure.set(std::current_exception());
            toConvert.abort();
            toWrite.abort();
        }
        toConvert.close();
    });
    std::thread writeStage([&] {
        try {
            while (auto out = toWrite.pop()) {
                writer.write(*out);
                result.framesWritten += static_cast<int64_t>((*out)[0].size());
            }
        } catch (...) {
            failure.set(std::current_exception());
            toWrite.abort();
            toConvert.abort();
        }
    });

    // Converts one block (or, given none, flushes the engines) and dithers each channel
    // with its own generator; empty results (an engine still filling) are not written.
    auto convertBlock = [&](const ChannelBuffers* block) {
        ChannelBuffers out(static_cast<size_t>(channels));
        pool.run(channels, [&](int c) {
            ResamplerCore& engine = *engines[static_cast<size_t>(c)];
            auto converted = block ? engine.processBlock((*block)[c]) : engine.flush();
            if (!dither.empty()) dither[static_cast<size_t>(c)].process(converted);
            const double peak = peakOf(converted);
            std::lock_guard lock(outputLock);
            out[static_cast<size_t>(c)] = std::move(converted);
            result.peak = std::max(result.peak, peak);
        });
        if (!out.empty() && !out[0].empty()) toWrite.push(std::move(out));
    };

    try {
        int64_t framesRead = 0;
        while (auto block = toConvert.pop()) {
            convertBlock(&*block);
            framesRead += static_cast<int64_t>((*block)[0].size());
            if (progress) progress(streamProgress(framesRead, frames));
        }
        failure.rethrow(); // a failed read must not pass for the end of the file
        convertBlock(nullptr);
        toWrite.close();
    } catch (...) {
        failure.set(std::current_exception());
        toConvert.abort();
        toWrite.abort();
    }
    readStage.join();
    writeStage.join();
    failure.rethrow();
    writer.close();
    result.nonFiniteSamples = reader.nonFiniteSamples();
    return result;
}

} // namespace sonteva
