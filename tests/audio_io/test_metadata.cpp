// Metadata from source to output for each container: carried, rescaled, mapped, and what
// a target cannot hold named in the notes.
#include "metadata_support.h"

using namespace sonteva;
using namespace sonteva::test;

TEST(Metadata, WavToWavCarriesEverythingAndRescalesPositions) {
    TempDir dir;
    masterWav(dir.file("m.wav"));
    masterWav(dir.file("m2.wav"), chunk("odd2", Bytes{1, 2})); // the other placeholder parity
    const Metadata src = readMetadata(dir.file("m.wav"));
    struct Case {
        const char* name;
        int fsOut;
        BitDepth depth;
        bool wholeFile;
        uint64_t reference;
        int64_t verse, chorus;
    };
    for (const Case& c :
         {Case{"a.wav", 48000, BitDepth::int24, false, 172800000, 48000, 240000},
          Case{"b.wav", 44100, BitDepth::float64, false, 158760000, 44100, 220500},
          Case{"c.wav", 44100, BitDepth::float64, true, 158760000, 44100, 220500},
          Case{"d.wav", 48000, BitDepth::float32, true, 172800000, 48000, 240000}}) {
        SCOPED_TRACE(c.name);
        const auto carried =
            convert(dir.file(c.name == std::string("d.wav") ? "m2.wav" : "m.wav"), dir.file(c.name),
                    AudioFormat::wav, c.depth, 96000, c.fsOut, c.fsOut / 10, c.wholeFile);
        const Metadata out = readMetadata(dir.file(c.name));
        ASSERT_EQ(out.bext.size() > 602, true);
        EXPECT_EQ(get(out.bext, 338, 8), c.reference); // one hour, rescaled exactly
        const std::string bits = c.depth == BitDepth::int24     ? "24"
                                 : c.depth == BitDepth::float32 ? "32"
                                                                : "64";
        const std::string line = "A=PCM,F=" + std::to_string(c.fsOut) + ",W=" + bits +
                                 ",M=stereo,T=Sonteva;Sonteva SRC;dither TPDF" +
                                 (c.depth == BitDepth::int24 ? "" : ";float") + "\r\n";
        EXPECT_EQ(std::string(out.bext.begin() + 602, out.bext.end()), kHistory + line);
        EXPECT_EQ(int16_t(get(out.bext, 412, 2)), -1423); // measured, not the source's -23
        EXPECT_EQ(int16_t(get(out.bext, 414, 2)), 550);
        EXPECT_EQ(get(out.bext, 420, 2), 0x7FFFu); // not calculated
        EXPECT_EQ(out.text, src.text);
        EXPECT_EQ(marks(out), (std::vector<std::string>{std::to_string(c.verse) + " Verse/check",
                                                        std::to_string(c.chorus) + " Chorus/"}));
        EXPECT_EQ(out.id3, src.id3);
        for (const char* id : {"iXML", "axml", "zzzz"})
            EXPECT_EQ(bodyOf(out, id), bodyOf(src, id)) << id;
        EXPECT_TRUE(bodyOf(out, "smpl").empty());
        EXPECT_TRUE(mentions(carried.notes, "smpl (sample positions)"));
    }
    // At an unchanged rate the positions stay valid and the chunk travels.
    const auto same =
        carryMetadata(src, {AudioFormat::wav, BitDepth::int24, 96000, 96000, 2, "x", "None"});
    EXPECT_EQ(bodyOf(same.metadata, "smpl").size(), 36u);
    EXPECT_TRUE(same.notes.empty());
}

TEST(Metadata, AiffRoundTripAndMappingsBetweenRiffAndAiff) {
    TempDir dir;
    Bytes mark;
    put(mark, 2, 2, true);
    put(mark, 1, 2, true), put(mark, 96000, 4, true), mark.push_back(5), put(mark, "Verse");
    put(mark, 2, 2, true), put(mark, 480000, 4, true), mark.push_back(6), put(mark, "Chorus"),
        mark.push_back(0);
    aiffFile(dir.file("m.aiff"), 96000, 2, 9600,
             cat({chunk("NAME", text("Title"), true), chunk("AUTH", text("Artist"), true),
                  chunk("(c) ", text("(c) Label"), true), chunk("ANNO", text("Note"), true),
                  chunk("MARK", mark, true), chunk("zzzz", text("odd"), true)}));
    convert(dir.file("m.aiff"), dir.file("a.aiff"), AudioFormat::aiff, BitDepth::int24, 96000,
            48000, 4800);
    const Metadata a = readMetadata(dir.file("a.aiff"));
    // Odd-sized text chunks come after the sound data, so the order may change.
    EXPECT_EQ(sorted(a.text), sorted(readMetadata(dir.file("m.aiff")).text));
    EXPECT_EQ(marks(a), (std::vector<std::string>{"48000 Verse/", "240000 Chorus/"}));
    EXPECT_EQ(bodyOf(a, "zzzz"), text("odd"));

    const auto toWav = convert(dir.file("m.aiff"), dir.file("w.wav"), AudioFormat::wav,
                               BitDepth::int16, 96000, 44100, 4410);
    const Metadata w = readMetadata(dir.file("w.wav"));
    EXPECT_EQ(
        w.text,
        (TextTags{{"INAM", "Title"}, {"IART", "Artist"}, {"ICOP", "(c) Label"}, {"ICMT", "Note"}}));
    EXPECT_EQ(marks(w), (std::vector<std::string>{"44100 Verse/", "220500 Chorus/"}));
    EXPECT_EQ(toWav.notes, std::vector<std::string>{"metadata not carried to WAV: zzzz"});

    masterWav(dir.file("m.wav"));
    const auto toAiff = convert(dir.file("m.wav"), dir.file("b.aiff"), AudioFormat::aiff,
                                BitDepth::int24, 96000, 48000, 4800);
    const Metadata b = readMetadata(dir.file("b.aiff"));
    EXPECT_EQ(sorted(b.text),
              sorted({{"NAME", "Title"}, {"AUTH", "Artist"}, {"(c) ", "(c) Label"}}));
    EXPECT_EQ(marks(b), (std::vector<std::string>{"48000 Verse/", "240000 Chorus/"}));
    EXPECT_TRUE(contains(b.id3, kIsrc)); // what AIFF has no chunk for goes to its ID3 tag
    for (const char* lost : {"bext", "iXML", "axml", "zzzz", "LIST/INFO ISFT", "marker notes"})
        EXPECT_TRUE(mentions(toAiff.notes, lost)) << lost;
}

TEST(Metadata, FlacCommentsCueSheetAndPictures) {
    TempDir dir;
    Bytes vorbis;
    put(vorbis, 4, 4), put(vorbis, "test");
    const std::vector<std::string> fields = {"TITLE=Title", "ARTIST=Artist", "ISRC=" + kIsrc,
                                             "DATE=2026", "ALBUM=Album"};
    put(vorbis, fields.size(), 4);
    for (const auto& f : fields)
        put(vorbis, f.size(), 4), put(vorbis, f);
    Bytes sheet(128, 0);
    std::memcpy(sheet.data(), "1234567890123", 13);
    put(sheet, 0, 8, true), sheet.resize(sheet.size() + 259, 0), sheet.push_back(3);
    const auto track = [&](uint64_t offset, int number, const std::string& isrc,
                           std::vector<std::pair<uint64_t, int>> indices) {
        put(sheet, offset, 8, true), sheet.push_back(uint8_t(number));
        Bytes code(12, 0);
        std::copy(isrc.begin(), isrc.end(), code.begin());
        sheet.insert(sheet.end(), code.begin(), code.end());
        sheet.resize(sheet.size() + 14, 0), sheet.push_back(uint8_t(indices.size()));
        for (auto [at, n] : indices)
            put(sheet, at, 8, true), sheet.push_back(uint8_t(n)), put(sheet, 0, 3);
    };
    track(96000, 1, kIsrc, {{0, 1}});
    track(480000, 2, "", {{0, 1}, {9600, 2}});
    track(960000, 255, "", {});
    Bytes picture;
    put(picture, 3, 4, true), put(picture, 9, 4, true), put(picture, "image/png");
    put(picture, 0, 4, true), picture.resize(picture.size() + 16, 0);
    put(picture, 4, 4, true), put(picture, "\x89PNG");
    flacFile(dir.file("m.flac"), 96000, 9600, {{4, vorbis}, {5, sheet}, {6, picture}});

    convert(dir.file("m.flac"), dir.file("a.flac"), AudioFormat::flac, BitDepth::int24, 96000,
            48000, 24000);
    const Metadata a = readMetadata(dir.file("a.flac"));
    EXPECT_EQ(a.text, readMetadata(dir.file("m.flac")).text);
    ASSERT_TRUE(a.cueSheet);
    EXPECT_EQ(a.cueSheet->catalog, "1234567890123");
    // Offsets, ISRC and index offsets; the lead-out ends the output.
    std::vector<std::string> tracks;
    for (const CueTrack& t : a.cueSheet->tracks) {
        tracks.push_back(std::to_string(t.offset) + " " + t.isrc);
        for (const auto& [at, number] : t.indices)
            tracks.back()
                .append(" ")
                .append(std::to_string(number))
                .append("@")
                .append(std::to_string(at));
    }
    EXPECT_EQ(tracks, (std::vector<std::string>{"48000 " + kIsrc + " 1@0", "240000  1@0 2@4800",
                                                "24000 "}));
    EXPECT_EQ(a.pictures, std::vector<Bytes>{picture});

    const auto toWav = convert(dir.file("m.flac"), dir.file("w.wav"), AudioFormat::wav,
                               BitDepth::int24, 96000, 44100, 4410);
    const Metadata w = readMetadata(dir.file("w.wav"));
    EXPECT_EQ(w.text, (TextTags{{"INAM", "Title"},
                                {"IART", "Artist"},
                                {"ISRC", kIsrc},
                                {"ICRD", "2026"},
                                {"IPRD", "Album"}}));
    EXPECT_TRUE(contains(w.id3, kIsrc));
    EXPECT_TRUE(contains(w.id3, "APIC"));
    EXPECT_EQ(marks(w).at(2), "224910 Track 02 index 02/"); // 220500 + 4410
    EXPECT_TRUE(mentions(toWav.notes, "cue sheet ISRC codes"));
    EXPECT_TRUE(mentions(toWav.notes, "media catalog number"));
}
