#pragma once
// Source files with metadata, laid out byte by byte here (the FLAC audio itself comes
// from libsndfile), independently of the reader and writers under test.
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace sonteva::test {

using Bytes = std::vector<uint8_t>;

inline void put(Bytes& b, uint64_t v, int n, bool big = false) {
    for (int i = 0; i < n; ++i)
        b.push_back(uint8_t(v >> (8 * (big ? n - 1 - i : i))));
}
inline void put(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}
inline uint64_t get(const Bytes& b, size_t at, int n, bool big = false) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v |= uint64_t(b.at(at + size_t(i))) << (8 * (big ? n - 1 - i : i));
    return v;
}
inline Bytes chunk(const std::string& id, const Bytes& body, bool big = false) {
    Bytes b;
    put(b, id);
    put(b, body.size(), 4, big);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1) b.push_back(0);
    return b;
}
inline Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
inline void save(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
inline Bytes load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A bext body: description, time reference, version, history; v2 loudness fields given.
inline Bytes bext(uint64_t timeReference, int version, const std::string& history,
                  int16_t loudness = 0) {
    Bytes b(602 + history.size(), 0);
    std::memcpy(b.data(), "A master", 8);
    std::memcpy(b.data() + 602, history.data(), history.size());
    for (int i = 0; i < 8; ++i)
        b[338 + size_t(i)] = uint8_t(timeReference >> (8 * i));
    b[346] = uint8_t(version);
    for (size_t at = 412; at < 422; at += 2)
        b[at] = uint8_t(loudness), b[at + 1] = uint8_t(uint16_t(loudness) >> 8);
    return b;
}

// A 16-bit PCM WAV of a 1 kHz tone (at -6 dBFS unless `amplitude` says otherwise) with
// `chunks` between "fmt " and "data".
inline void wavFile(const std::string& path, int rate, int channels, int frames,
                    const Bytes& chunks, int amplitude = 16384) {
    Bytes fmt, data;
    put(fmt, 1, 2), put(fmt, channels, 2), put(fmt, rate, 4), put(fmt, rate * channels * 2, 4);
    put(fmt, channels * 2, 2), put(fmt, 16, 2);
    for (int i = 0; i < frames * channels; ++i)
        put(data,
            uint16_t(
                int16_t(std::lround(amplitude * std::sin(6283.185307 * (i / channels) / rate)))),
            2);
    Bytes body = text("WAVE");
    for (const Bytes& c : {chunk("fmt ", fmt), chunks, chunk("data", data)})
        body.insert(body.end(), c.begin(), c.end());
    save(path, chunk("RIFF", body));
}

// A 16-bit AIFF of silence with `chunks` between "COMM" and "SSND".
inline void aiffFile(const std::string& path, int rate, int channels, int frames,
                     const Bytes& chunks) {
    Bytes comm;
    put(comm, channels, 2, true), put(comm, frames, 4, true), put(comm, 16, 2, true);
    const int exponent = int(std::floor(std::log2(rate))); // 80-bit extended rate
    put(comm, 16383 + exponent, 2, true);
    put(comm, uint64_t(rate) << (63 - exponent), 8, true);
    Bytes ssnd(8 + size_t(frames * channels * 2), 0);
    Bytes body = text("AIFF");
    for (const Bytes& c : {chunk("COMM", comm, true), chunks, chunk("SSND", ssnd, true)})
        body.insert(body.end(), c.begin(), c.end());
    save(path, chunk("FORM", body, true));
}

// A FLAC of a quiet tone with its metadata blocks after STREAMINFO replaced by `blocks`
// (type, body).
inline void flacFile(const std::string& path, int rate, int frames,
                     const std::vector<std::pair<int, Bytes>>& blocks) {
    SF_INFO info{};
    info.samplerate = rate, info.channels = 1, info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<double> x(static_cast<size_t>(frames));
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = 0.25 * std::sin(0.01 * double(i));
    sf_writef_double(f, x.data(), frames);
    sf_close(f);
    const Bytes in = load(path);
    size_t at = 4;
    for (bool last = false; !last; at += 4 + get(in, at + 1, 3, true))
        last = in[at] & 0x80;
    Bytes out(in.begin(), in.begin() + 4 + 4 + 34); // "fLaC" and STREAMINFO
    out[4] &= 0x7F;
    for (size_t i = 0; i < blocks.size(); ++i) {
        out.push_back(uint8_t(blocks[i].first | (i + 1 == blocks.size() ? 0x80 : 0)));
        put(out, blocks[i].second.size(), 3, true);
        out.insert(out.end(), blocks[i].second.begin(), blocks[i].second.end());
    }
    out.insert(out.end(), in.begin() + long(at), in.end());
    save(path, out);
}

} // namespace sonteva::test
