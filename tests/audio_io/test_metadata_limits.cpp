// What a container cannot hold: AIFF chunks that other readers skip by their size field
// alone, and every loss named in the job's note, with what could be kept kept.
#include "metadata_support.h"
#include "support/independent_readers.h"

#include <functional>

using namespace sonteva;
using namespace sonteva::test;

namespace {

const Bytes kApplication = text("pdosabc"); // a signature and three bytes: an odd size

// A 96 kHz AIFF whose metadata chunks all have odd sizes, the ID3 tag's included.
void oddAiff(const std::string& path, const Bytes& id3) {
    Bytes mark;
    put(mark, 1, 2, true), put(mark, 1, 2, true), put(mark, 96000, 4, true);
    mark.push_back(5), put(mark, "Verse");
    aiffFile(path, 96000, 2, 9600,
             cat({chunk("NAME", text("Title"), true), chunk("APPL", kApplication, true),
                  chunk("MARK", mark, true), chunk("ID3 ", id3, true),
                  chunk("zzzz", text("odd"), true)}));
}

} // namespace

TEST(MetadataLimits, AiffOutputsOpenInSoxAndLibsndfile) {
    SKIP_WITHOUT(hasTool(kSox), "sox");
    SKIP_WITHOUT(hasPythonSoundfile(), "python3-soundfile");
    TempDir dir;
    const Bytes isrcFrame = id3Frame("TSRC", cat({Bytes{0}, text(kIsrc)}));
    const Bytes oddId3 = id3Of(isrcFrame);
    const Bytes footerId3 = id3Of(isrcFrame, 4, 0x10); // no room for padding

    ASSERT_EQ(oddId3.size() % 2, 1u);
    ASSERT_EQ(footerId3.size() % 2, 1u);
    oddAiff(dir.file("odd.aiff"), oddId3);
    oddAiff(dir.file("footer.aiff"), footerId3);
    masterWav(dir.file("m.wav"));
    struct Case {
        const char* source;
        BitDepth depth;
        int channels;
        int64_t frames; // 24-bit mono with an odd count: an odd-sized sound data chunk
        bool wholeFile;
    };
    int n = 0;
    for (const Case& c : {Case{"odd.aiff", BitDepth::int24, 1, 4801, false},
                          Case{"odd.aiff", BitDepth::int16, 2, 4800, true},
                          Case{"footer.aiff", BitDepth::int24, 1, 4801, true},
                          Case{"footer.aiff", BitDepth::float32, 2, 4800, false},
                          Case{"m.wav", BitDepth::int24, 1, 4801, false}}) {
        std::string name = std::to_string(++n);
        name += ".aiff";
        const std::string out = dir.file(name);
        SCOPED_TRACE(out + " from " + c.source);
        const auto carried = convert(dir.file(c.source), out, AudioFormat::aiff, c.depth, 96000,
                                     48000, c.frames, c.wholeFile, 0, c.channels);
        std::string error;
        EXPECT_EQ(soxFrames(out, &error), c.frames) << error;
        EXPECT_EQ(soundfileFrames(out), c.frames);
        // In front of the sound data only even sizes; the walk ends at the file's end.
        bool afterSound = false;
        uint64_t end = 12;
        for (const std::string& fact : factsOf(chunkFacts(out), "chunk")) {
            const uint64_t size = std::stoull(fact.substr(5));
            if (!afterSound) {
                EXPECT_EQ(size % 2, 0u) << fact;
            }
            afterSound = afterSound || fact.rfind("SSND", 0) == 0;
            end += 8 + size + (size & 1);
        }
        const Bytes written = load(out);
        EXPECT_EQ(end, written.size());
        EXPECT_EQ(get(written, 4, 4, true), written.size() - 8);
        // Everything comes back, the ID3 tag still a tag.
        const Metadata back = readMetadata(out);
        const Metadata source = readMetadata(dir.file(c.source));
        EXPECT_EQ(sorted(back.text), sorted(carried.metadata.text));
        ASSERT_EQ(back.markers.size(), source.markers.size());
        EXPECT_EQ(back.markers[0].name, "Verse");
        EXPECT_TRUE(contains(back.id3, kIsrc));
        if (source.origin == Container::aiff) {
            EXPECT_EQ(back.chunks.size(), 2u);
            EXPECT_EQ(bodyOf(back, "APPL"), kApplication);
            EXPECT_EQ(back.id3.size() % 2, c.source == std::string("odd.aiff") ? 0u : 1u);
        }
    }
}

TEST(MetadataLimits, WhatATargetCannotHoldIsNamed) {
    TempDir dir;
    Bytes region;
    put(region, 9600, 4), put(region, "voic"), put(region, 44, 2), put(region, 9, 2);
    put(region, 1, 2), put(region, 1252, 2), put(region, std::string("Intro\0", 6));
    const Bytes labelled =
        cat({cueChunk({{1, 96000}}),
             chunk("LIST", cat({text("adtl"), adtlItem("labl", 1, text("Verse")),
                                adtlItem("ltxt", 1, region), adtlItem("file", 1, text("TEXTabc")),
                                adtlItem("labl", 9, text("Nowhere"))}))});
    const std::string orphan =
        "adtl entries of 1 cue point that the cue chunk does not have (id 9)";
    const Bytes id3 =
        id3Of(cat({id3Frame("TIT2", cat({Bytes{0}, text("Title")})),
                   id3Frame("PRIV", text(std::string("owner@example\0\1\2", 16))),
                   id3Frame("UFID", text(std::string("http://example.org\0id", 21)))}));
    const auto manyMarkers = [] {
        std::vector<std::pair<uint32_t, uint32_t>> points;
        for (uint32_t i = 0; i < 70000; ++i)
            points.emplace_back(i + 1, i * 2);
        return cueChunk(points);
    }();
    const Bytes bigInfo = chunk(
        "LIST", cat({text("INFO"), infoItem("INAM", "Title"),
                     infoItem("ICMT", std::string(20 << 20, 'x')), infoItem("IART", "Artist")}));
    Bytes truncatedCue = cueChunk({{1, 96000}, {2, 192000}});
    truncatedCue[8] = 3; // announces three
    // Converts a 96 kHz WAV (or AIFF) with `chunks` at 48 kHz; `lost` are the parts of its
    // one note, `check` looks at the output.
    const auto expect = [&](const std::string& name, const Bytes& chunks, AudioFormat format,
                            const std::vector<std::string>& lost,
                            const std::function<void(const Metadata&)>& check, bool aiff = false) {
        SCOPED_TRACE(name);
        const std::string source = dir.file(aiff ? "source.aiff" : "source.wav");
        if (aiff)
            aiffFile(source, 96000, 2, 9600, chunks);
        else
            wavFile(source, 96000, 2, 9600, chunks);
        // far.wav: 44.1 to 88.2 kHz doubles every position.
        const bool far = name == "far.wav";
        const auto carried = convert(source, dir.file(name), format, BitDepth::int24,
                                     far ? 44100 : 96000, far ? 88200 : 48000, 4800);
        const std::string target = format == AudioFormat::wav    ? "WAV"
                                   : format == AudioFormat::aiff ? "AIFF"
                                                                 : "FLAC";
        std::string expected = "metadata not carried to " + target + ": ";
        for (size_t i = 0; i < lost.size(); ++i)
            expected.append(i ? "; " : "").append(lost[i]);
        EXPECT_EQ(carried.notes, lost.empty() ? std::vector<std::string>{} : std::vector{expected});
        if (check) check(readMetadata(dir.file(name)));
    };
    expect("regions.wav", labelled, AudioFormat::wav, {orphan}, [](const Metadata& m) {
        ASSERT_EQ(m.markers.size(), 1u);
        EXPECT_EQ(m.markers[0].length, 4800);
        ASSERT_TRUE(m.markers[0].region);
        EXPECT_EQ(m.markers[0].region->purpose, "voic");
        EXPECT_EQ(m.markers[0].region->country, 44);
        EXPECT_EQ(m.markers[0].region->codePage, 1252);
        EXPECT_EQ(m.markers[0].region->text, "Intro");
        EXPECT_EQ(m.markers[0].files, std::vector<Bytes>{text("TEXTabc")});
    });
    const std::vector<std::string> regionParts = {"region lengths", "ltxt texts",
                                                  "ltxt purposes and languages",
                                                  "adtl file data of 1 cue point"};
    std::vector<std::string> lost = {orphan};
    lost.insert(lost.end(), regionParts.begin(), regionParts.end());
    expect("regions.aiff", labelled, AudioFormat::aiff, lost,
           [](const Metadata& m) { EXPECT_EQ(m.markers.at(0).name, "Verse"); });
    lost.insert(lost.begin() + 1, "marker names");
    expect("regions.flac", labelled, AudioFormat::flac, lost,
           [](const Metadata& m) { EXPECT_EQ(m.cueSheet->tracks.at(0).offset, 48000u); });
    expect("frames.flac", chunk("id3 ", id3), AudioFormat::flac,
           {"ID3 frames PRIV UFID/http://example.org (a Vorbis comment has no form for them)"},
           [](const Metadata& m) {
               EXPECT_EQ(m.text, (TextTags{{"TITLE", "Title"}}));
           });
    expect("frames.aiff", chunk("id3 ", id3), AudioFormat::aiff, {},
           [](const Metadata& m) { EXPECT_TRUE(contains(m.id3, "owner@example")); });
    expect("many.aiff", manyMarkers, AudioFormat::aiff,
           {"70 000 markers past AIFF's limit of 65 535 (the first 65 535 were kept)"},
           [](const Metadata& m) {
               ASSERT_EQ(m.markers.size(), 65535u);
               EXPECT_EQ(m.markers.back().id, 65535u);
               EXPECT_EQ(m.markers.back().position, 65534);
           });
    expect("big.flac", bigInfo, AudioFormat::flac,
           {"1 tag of 20.0 MiB past FLAC's limit of 16 MiB for its comment block (COMMENT)"},
           [](const Metadata& m) {
               EXPECT_EQ(m.text, (TextTags{{"TITLE", "Title"}, {"ARTIST", "Artist"}}));
           });
    expect("far.wav", cueChunk({{1, 0xFFFFF000u}, {2, 100}}), AudioFormat::wav,
           {"1 marker past frame 4 294 967 295, which a cue point cannot address"},
           [](const Metadata& m) { EXPECT_EQ(marks(m), std::vector<std::string>{"200 /"}); });
    expect("cut.wav", truncatedCue, AudioFormat::wav,
           {"cue (it announces 3 cue points and holds 2)"},
           [](const Metadata& m) { EXPECT_EQ(m.markers.size(), 2u); });
    expect("appl.wav", chunk("APPL", kApplication, true), AudioFormat::wav,
           {"AIFF application chunk 'pdos'"}, nullptr, true);
}

// A hostile file's thousands of unreadable items make one note of bounded length.
TEST(MetadataLimits, ANoteNamesAtMostTwentyFourItems) {
    Bytes adtl = text("adtl");
    for (uint32_t id = 1; id <= 3000; ++id)
        adtl = cat({adtl, adtlItem("xxxx", id, {})});
    TempDir dir;
    wavFile(dir.file("m.wav"), 96000, 2, 96, chunk("LIST", adtl));
    const auto carried =
        carryMetadata(readMetadata(dir.file("m.wav")),
                      {AudioFormat::wav, BitDepth::int24, 96000, 48000, 2, "", ""});
    ASSERT_EQ(carried.notes.size(), 1u);
    const std::string& note = carried.notes[0];
    EXPECT_EQ(note.rfind("metadata not carried to WAV: adtl xxxx of cue point 1; ", 0), 0u);
    EXPECT_TRUE(note.ends_with("; and 2977 more")) << note;
    EXPECT_LT(note.size(), 1000u);
}
