#pragma once
// Test audio written and read with libsndfile directly, independently of the writers
// under test, in a per-test temporary folder that is removed afterwards.
#include "support/temp_dir.h"

#include <sndfile.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace sonteva::test {

namespace fs = std::filesystem;
using Planar = std::vector<std::vector<double>>;

// Music-like test content per channel: tones plus a little noise, peaking near -3 dBFS.
inline Planar musicLike(int channels, int64_t frames, int rate, uint64_t seed = 7) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> noise(-0.05, 0.05);
    Planar out(static_cast<size_t>(channels), std::vector<double>(static_cast<size_t>(frames)));
    for (int c = 0; c < channels; ++c)
        for (int64_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            out[c][i] = 0.4 * std::sin(6.283185307179586 * (220.0 * (c + 1)) * t) +
                        0.2 * std::sin(6.283185307179586 * 5000.0 * t) + noise(rng);
        }
    return out;
}

// Quantises to `bits` (round half away, clamp) the way an exact integer file stores it.
inline int32_t toInt(double x, int bits) {
    const double scale = std::ldexp(1.0, bits - 1);
    double v = std::round(x * scale);
    v = std::min(std::max(v, -scale), scale - 1);
    return static_cast<int32_t>(v);
}

// Writes exact integers (subformat SF_FORMAT_PCM_16/24/32) or doubles (FLOAT/DOUBLE).
inline void writeFile(const std::string& path, const Planar& data, int rate, int format) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = static_cast<int>(data.size());
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    const size_t frames = data.empty() ? 0 : data[0].size();
    const int sub = format & SF_FORMAT_SUBMASK;
    const int bits = sub == SF_FORMAT_PCM_16 ? 16 : sub == SF_FORMAT_PCM_24 ? 24 : 32;
    const bool integer =
        sub == SF_FORMAT_PCM_16 || sub == SF_FORMAT_PCM_24 || sub == SF_FORMAT_PCM_32;
    std::vector<int> ints;
    std::vector<double> doubles;
    for (size_t i = 0; i < frames; ++i)
        for (const auto& ch : data) {
            if (integer)
                ints.push_back(
                    static_cast<int>(static_cast<uint32_t>(toInt(ch[i], bits)) << (32 - bits)));
            else
                doubles.push_back(ch[i]);
        }
    if (integer)
        sf_writef_int(f, ints.data(), sf_count_t(frames));
    else
        sf_writef_double(f, doubles.data(), sf_count_t(frames));
    sf_close(f);
}

// What a signal stored exactly at `bits` reads back as.
inline Planar exactly(const Planar& data, int bits) {
    Planar out = data;
    const double scale = std::ldexp(1.0, bits - 1);
    for (auto& ch : out)
        for (double& v : ch)
            v = toInt(v, bits) / scale;
    return out;
}

struct ReadBack {
    SF_INFO info{};
    std::vector<std::vector<int32_t>> ints; // integer value at the file's own word length
    Planar doubles;
};

// Reads a file whole: integers shifted down to the file's word length, and doubles.
inline ReadBack readFile(const std::string& path) {
    ReadBack r;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &r.info);
    if (!f) {
        ADD_FAILURE() << "cannot open " << path << ": " << sf_strerror(nullptr);
        return r;
    }
    const int sub = r.info.format & SF_FORMAT_SUBMASK;
    const int bits = sub == SF_FORMAT_PCM_16 ? 16 : sub == SF_FORMAT_PCM_24 ? 24 : 32;
    const auto frames = static_cast<size_t>(r.info.frames);
    const auto channels = static_cast<size_t>(r.info.channels);
    std::vector<int> ints(frames * channels);
    sf_readf_int(f, ints.data(), sf_count_t(frames));
    sf_seek(f, 0, SEEK_SET);
    std::vector<double> doubles(frames * channels);
    sf_readf_double(f, doubles.data(), sf_count_t(frames));
    sf_close(f);
    r.ints.assign(channels, std::vector<int32_t>(frames));
    r.doubles.assign(channels, std::vector<double>(frames));
    for (size_t i = 0; i < frames; ++i)
        for (size_t c = 0; c < channels; ++c) {
            r.ints[c][i] = ints[i * channels + c] >> (32 - bits);
            r.doubles[c][i] = doubles[i * channels + c];
        }
    return r;
}

} // namespace sonteva::test
