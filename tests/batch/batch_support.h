#pragma once
// Jobs and reference conversions for the batch tests.
#include "audio_io/audio_io.h"
#include "audio_io/dither.h"
#include "batch/job_runner.h"
#include "dsp/inhouse_engines.h"
#include "support/test_files.h"

#include <QUuid>

#include <fstream>
#include <iterator>
#include <set>

namespace sonteva::test {

inline ConversionJob jobFor(const std::string& source, int targetFs, BitDepth bits,
                            const QString& dither, AudioFormat format = AudioFormat::wav,
                            const QString& quality = kSontevaSRC) {
    ConversionJob job;
    job.id = QUuid::createUuid();
    job.inputFile.id = QUuid::createUuid();
    job.inputFile.url = QUrl::fromLocalFile(QString::fromStdString(source));
    job.targetFs = targetFs;
    job.bitDepth = bits;
    job.dither = dither;
    job.format = format;
    job.quality = quality;
    job.postfix = "_out";
    return job;
}

inline std::string outputOf(const ConversionJob& job) {
    return job.outputUrl().toLocalFile().toStdString();
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::set<std::string> namesIn(const TempDir& dir) {
    const auto names = dir.entries();
    return {names.begin(), names.end()};
}

// The whole channel through one engine in one block, then its flush.
inline std::vector<double> convertWhole(ResamplerCore& engine, const std::vector<double>& x) {
    auto y = engine.processBlock(x);
    const auto tail = engine.flush();
    y.insert(y.end(), tail.begin(), tail.end());
    return y;
}

// A Sonteva SRC job on a 24-bit source with TPDF at `bits`, as stored integers: each
// channel converted in one block and dithered in one block.
inline std::vector<std::vector<int32_t>> tpdfReference(const Planar& written, int fsIn, int fsOut,
                                                       int bits) {
    const Planar source = exactly(written, 24);
    std::vector<std::vector<int32_t>> want;
    for (size_t c = 0; c < source.size(); ++c) {
        auto engine = SontevaSRC::makeEngine(fsIn, fsOut);
        auto y = convertWhole(*engine, source[c]);
        DitherEngine(DitherType::tpdf, bits, int(c)).process(y);
        want.emplace_back();
        for (double v : y)
            want.back().push_back(int32_t(v * std::ldexp(1.0, bits - 1)));
    }
    return want;
}

} // namespace sonteva::test
