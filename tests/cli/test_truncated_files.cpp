// Partial copies of every container through the real command line, in one batch with
// whole files of the same containers: each partial copy fails with "Source ended early"
// and leaves nothing behind; the whole ones, also those longer than they declare or with
// their length left open, are written exactly.
#include "cli_support.h"
#include "support/ffmpeg_files.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace sonteva::test;

namespace {

constexpr int64_t kFrames = 48000;

struct Source {
    const char* extension;
    int format; // 0: an M4A made with FFmpeg
    int channels;
};

const Source kSources[] = {
    {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2},
    {"aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2},
    {"aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 2},
    {"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 2},
    {"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_24, 2},
    {"w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 2},
    {"au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 2},
    {"nist", SF_FORMAT_NIST | SF_FORMAT_PCM_16, 2},
    {"voc", SF_FORMAT_VOC | SF_FORMAT_PCM_16, 2},
    {"mat", SF_FORMAT_MAT4 | SF_FORMAT_PCM_16, 2},
    {"mat5", SF_FORMAT_MAT5 | SF_FORMAT_PCM_16, 2},
    {"8svx", SF_FORMAT_SVX | SF_FORMAT_PCM_S8, 1},
    {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2},
    {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2},
    {"m4a", 0, 2},
};

std::string outputOf(const std::string& folder, const std::string& name) {
    return folder + "/" + name.substr(0, name.rfind('.')) + "_48k_24b_Sonteva.wav";
}

} // namespace

TEST(TruncatedFiles, EveryPartialCopyFailsAndEveryWholeFileConvertsExactly) {
    TempDir dir;
    const std::string out = dir.file("out");
    fs::create_directories(dir.file("in"));
    fs::create_directories(out);
    const auto in = [&](const std::string& name) { return dir.file("in/" + name); };

    std::vector<std::string> whole, partial;
    for (const Source& s : kSources) {
        const std::string ext = s.extension;
        const std::string name = ext + "-whole." + ext;
        const Planar signal = musicLike(s.channels, kFrames, 48000);
        if (s.format)
            writeFile(in(name), signal, 48000, s.format);
        else
            writeM4a(in(name), {AV_CODEC_ID_ALAC, AV_SAMPLE_FMT_S32P, 24}, 48000, signal);
        const std::string bytes = slurp(in(name));
        const auto keep = [&](const char* label, size_t size) {
            const std::string cut = ext + "-" + label + "." + ext;
            put(in(cut), bytes.substr(0, size));
            partial.push_back(cut);
        };
        keep("half", bytes.size() / 2);
        // One byte short of the audio (VOC ends with a one-byte terminator).
        keep("short", bytes.size() - (ext == "voc" ? 2 : 1));
        keep("header", 26);
        whole.push_back(name);
        // Longer than it declares: what follows the audio is not part of it.
        const std::string longer = ext + "-longer." + ext;
        put(in(longer), bytes + std::string(3000, '\x5A'));
        whole.push_back(longer);
    }
    // The sizes a recording still being written leaves: the audio runs to the end.
    std::string open = slurp(in("wav-whole.wav"));
    const size_t data = open.find("data");
    open.replace(data + 4, 4, "\xFF\xFF\xFF\xFF");
    open.replace(4, 4, std::string(4, '\0'));
    put(in("wav-open.wav"), open);
    open.replace(data + 4, 4, std::string(4, '\0'));
    put(in("wav-open0.wav"), open);
    whole.insert(whole.end(), {"wav-open.wav", "wav-open0.wav"});

    QStringList args{"convert", "-r", "48000", "-b", "24", "-d", "None", "-o", q(out)};
    for (const auto* names : {&whole, &partial})
        for (const std::string& name : *names)
            args << q(in(name));
    const CliRun r = runCli(args);
    const std::string printed = r.printed();

    EXPECT_EQ(r.status, 1) << printed;
    for (const std::string& name : partial)
        EXPECT_TRUE(failureOf(r, q(name)).startsWith("Source ended early at "))
            << name << ": " << failureOf(r, q(name)).toStdString();
    // The figures, in frames where the container has fixed-size frames.
    EXPECT_EQ(failureOf(r, "caf-short.caf"), "Source ended early at frame 47999 of 48000 \u2014 "
                                             "the file is truncated or damaged");
    std::set<std::string> expected;
    for (const std::string& name : whole)
        expected.insert(fs::path(outputOf(out, name)).filename().string());
    EXPECT_EQ(namesIn(out), expected) << printed;

    for (const std::string& name : whole) {
        const ReadBack written = readFile(outputOf(out, name));
        EXPECT_EQ(written.info.frames, kFrames) << name;
        // Every integer source is carried over exactly: same rate, no dither, 24 bits.
        if (name.ends_with(".m4a") || name.ends_with(".ogg") || name.ends_with(".mp3") ||
            name.ends_with(".aifc"))
            continue;
        const std::string ext = name.substr(name.find('.') + 1);
        const std::string source = ext + "-whole." + ext;
        EXPECT_EQ(written.doubles, readFile(in(source)).doubles) << name;
    }
}
