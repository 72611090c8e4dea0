// Writes a small valid starting corpus for each fuzz target into DIR/<target>/: short
// files of every container and word length the readers accept, metadata of every kind the
// metadata reader knows, and the built-in presets as stored. Mutating valid inputs reaches
// far deeper into the parsers than random bytes do.
#include "audio_io/audio_io.h"
#include "audio_io/metadata.h"
#include "model/presets.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

using namespace sonteva;
namespace fs = std::filesystem;

namespace {

ChannelBuffers tone(int channels, int frames) {
    ChannelBuffers x(static_cast<size_t>(channels), std::vector<double>(size_t(frames)));
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            x[size_t(c)][size_t(i)] = 0.5 * std::sin(0.05 * (i + 7 * c));
    return x;
}

Metadata richMetadata() {
    Metadata m;
    m.origin = Container::riff;
    m.bext.assign(602, 0);
    std::memcpy(m.bext.data(), "A master", 8);
    m.bext[338] = 0x00, m.bext[339] = 0x60, m.bext[340] = 0x97, m.bext[346] = 2;
    const std::string history = "A=PCM,F=96000,W=24,M=stereo,T=Recorder\r\n";
    m.bext.insert(m.bext.end(), history.begin(), history.end());
    m.text = {
        {"INAM", "Title"}, {"IART", "Artist"}, {"ICOP", "(c) Label"}, {"ISRC", "GBAAA2600001"}};
    m.markers = {{1, 10, "Verse", "check", 0}, {2, 30, "Chorus", "", 5}};
    m.chunks = {{"iXML", {'<', 'x', '/', '>'}, false}, {"zzzz", {1, 2, 3}, false}};
    return m;
}

void writeBytes(const fs::path& path, const QByteArray& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target : {"ssrc_output", "user_presets", "source", "metadata"})
        fs::create_directories(root / target);
    try {
        const Metadata meta = richMetadata();
        struct File {
            const char* name;
            AudioFormat format;
            BitDepth depth;
            int channels;
            bool withMetadata;
        };
        for (const File& f : {File{"s16.wav", AudioFormat::wav, BitDepth::int16, 2, false},
                              File{"s24.wav", AudioFormat::wav, BitDepth::int24, 2, false},
                              File{"m24.wav", AudioFormat::wav, BitDepth::int24, 1, false},
                              File{"f32.wav", AudioFormat::wav, BitDepth::float32, 2, false},
                              File{"f64.wav", AudioFormat::wav, BitDepth::float64, 2, true},
                              File{"meta.wav", AudioFormat::wav, BitDepth::int16, 2, true},
                              File{"meta.aiff", AudioFormat::aiff, BitDepth::int24, 2, true},
                              File{"meta.flac", AudioFormat::flac, BitDepth::int16, 2, true}}) {
            const std::string dir = f.withMetadata ? "metadata" : "source";
            const fs::path path = root / dir / f.name;
            AudioIO::write(path.string(), tone(f.channels, 64), 48000, f.format, f.depth,
                           f.withMetadata ? &meta : nullptr);
            if (f.withMetadata) fs::copy_file(path, root / "source" / f.name);
            if (f.format == AudioFormat::wav &&
                (f.depth == BitDepth::int16 || f.depth == BitDepth::int24))
                fs::copy_file(path, root / "ssrc_output" / f.name);
        }
        writeBytes(root / "user_presets" / "builtin.json", encodePresets(makeBuiltInPresets()));
        auto one = makeBuiltInPresets();
        one.resize(1);
        one[0].dither.reset();
        writeBytes(root / "user_presets" / "one.json", encodePresets(one));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
