#pragma once
// A small back catalogue for the catalogue tests: masters of mixed rates, word lengths and
// channel counts, and manifests with mixed recipes delivering into a tree of folders; and
// what a delivery tree holds, for comparing a cluster's delivery with a local one.
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace sonteva::test {

struct Catalogue {
    std::string root;                 // masters/ and the manifests live here
    std::vector<std::string> sources; // relative to root
    std::vector<std::string> recipes; // each source's settings, as written in the manifest
    std::vector<std::string> folders; // the delivery's sub-folders

    // Writes a manifest delivering into `deliverRoot` (relative to the root, created with
    // its folders) and returns its path.
    std::string manifest(const std::string& deliverRoot) const {
        namespace fs = std::filesystem;
        for (const std::string& f : folders)
            fs::create_directories(root + "/" + deliverRoot + "/" + f);
        const std::string path = root + "/manifest-" + deliverRoot + ".tsv";
        std::ofstream m(path);
        m << "# " << sources.size() << " masters, mixed recipes\n";
        for (size_t i = 0; i < sources.size(); ++i) {
            std::string settings = recipes[i];
            const size_t at = settings.find("out=");
            settings.insert(at + 4, deliverRoot + "/");
            m << sources[i] << '\t' << settings << "\n\n";
        }
        return path;
    }
};

// A master written in code: two tones and a little deterministic noise.
inline void writeMaster(const std::string& path, int rate, int channels, double seconds,
                        int subformat, uint64_t seed) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | subformat;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return;
    const auto frames = static_cast<int64_t>(seconds * rate);
    std::vector<double> block;
    uint64_t noise = seed * 2654435761u + 1;
    for (int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            noise ^= noise << 13, noise ^= noise >> 7, noise ^= noise << 17;
            const double t = double(i) / rate;
            block.push_back(0.4 * std::sin(6.283185307179586 * (110.0 * (seed % 7 + 1) + c) * t) +
                            0.2 * std::sin(6.283185307179586 * 4000.0 * t) +
                            0.02 * (double(noise >> 11) * 0x1p-53 - 0.5));
        }
    sf_writef_double(f, block.data(), frames);
    sf_close(f);
}

// `count` masters in `root`/masters with recipes that mix rates, word lengths, formats,
// dithers and a preset, each lasting about half a second times `scale`. With
// `longSeconds`, the first master in the shards' order ("masters/a-long.wav", the first
// job of shard 0) lasts that long and delivers alone into "long".
inline Catalogue makeCatalogue(const std::string& root, int count, double longSeconds = 0,
                               double scale = 1) {
    static const std::vector<std::pair<std::string, std::string>> recipes = {
        {"rate=44100 bits=16", "cd"},
        {"rate=48000 bits=24", "48k"},
        {"preset=\"Hi Res\"", "hires"},
        {"rate=48000 bits=24 format=flac", "flac"},
        {"rate=44100 bits=24 dither=None format=aiff", "aiff"},
        {"preset=\"Video / DVD\" postfix=_video", "video"},
    };
    static const int rates[] = {44100, 48000, 96000, 88200};
    Catalogue c;
    c.root = root;
    std::filesystem::create_directories(root + "/masters");
    for (const auto& [settings, folder] : recipes)
        c.folders.push_back(folder);
    for (int i = 0; i < count; ++i) {
        const bool isLong = longSeconds > 0 && i == 0;
        const std::string name =
            isLong ? "masters/a-long.wav" : "masters/m" + std::to_string(10 + i) + " take.wav";
        const int rate = isLong ? 96000 : rates[i % 4];
        writeMaster(root + "/" + name, rate, i % 5 == 3 ? 1 : 2,
                    isLong ? longSeconds : scale * (0.4 + 0.05 * (i % 7)),
                    i % 3 == 0 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24, 1000 + i);
        const auto& [settings, folder] = recipes[i % recipes.size()];
        c.sources.push_back(name);
        c.recipes.push_back(settings + " out=" + (isLong ? "long" : folder));
    }
    if (longSeconds > 0) c.folders.push_back("long");
    return c;
}

// The deliverables under `folder` (relative path -> contents): neither `.sonteva.json`
// records nor hidden (temporary) files; with `everything`, every file.
inline std::map<std::string, std::string> deliveredFiles(const std::string& folder,
                                                         bool everything = false) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (!e.is_regular_file()) continue;
        const std::string rel = fs::relative(e.path(), folder).string();
        if (!everything &&
            (rel.ends_with(".sonteva.json") || e.path().filename().string().starts_with(".")))
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        files[rel] = {std::istreambuf_iterator<char>(in), {}};
    }
    return files;
}

} // namespace sonteva::test
