// Written metadata as readers that share no code with ours find it: SoX and libsndfile
// open every AIFF, metaflac reads the FLAC comments and cue sheet, mediainfo the ID3 tags,
// Python's XML parser the iXML, and a few lines of Python the bext fields.
#include "metadata_support.h"
#include "support/independent_readers.h"

using namespace sonteva;
using namespace sonteva::test;

namespace {

const std::string kMediainfo = "/usr/bin/mediainfo";

// An extended UMID: SMPTE's label, length 0x33, instance 0, material number, source pack.
Bytes umid() {
    Bytes u = {0x06, 0x0A, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x05,
               0x01, 0x01, 0x01, 0x20, 0x33, 0,    0,    0};
    for (uint8_t i = 0; i < 48; ++i)
        u.push_back(uint8_t(0x40 + i)); // material number and source pack
    return u;
}

std::string hex(const Bytes& b) {
    std::string out;
    char digits[3];
    for (uint8_t v : b)
        std::snprintf(digits, sizeof digits, "%02X", v), out += digits;
    return out;
}

// A bext of the given version whose UMID field holds `field` (garbage for version 0).
Bytes bextWith(int version, const Bytes& field, uint64_t reference) {
    Bytes b = bext(reference, version, kHistory, version >= 2 ? -2300 : 0);
    std::copy(field.begin(), field.end(), b.begin() + 348);
    return b;
}

// The source's iXML: its format, time stamps, a copy of the bext fields, one sync point.
const std::string kIxml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BWFXML>"
    "<SPEED><FILE_SAMPLE_RATE>96000</FILE_SAMPLE_RATE>"
    "<AUDIO_BIT_DEPTH>16</AUDIO_BIT_DEPTH>"
    "<DIGITIZER_SAMPLE_RATE>96000</DIGITIZER_SAMPLE_RATE>"
    "<TIMESTAMP_SAMPLE_RATE>96000</TIMESTAMP_SAMPLE_RATE>"
    "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>2</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>"
    "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>1410065408</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>"
    "</SPEED><BEXT><BWF_VERSION>1</BWF_VERSION>"
    "<BWF_TIME_REFERENCE_LOW>1410065408</BWF_TIME_REFERENCE_LOW>"
    "<BWF_TIME_REFERENCE_HIGH>2</BWF_TIME_REFERENCE_HIGH>"
    "<BWF_UMID>0</BWF_UMID><BWF_CODING_HISTORY/></BEXT>"
    "<SYNC_POINT_LIST><SYNC_POINT><SYNC_POINT_FUNCTION>SLATE_GENERIC"
    "</SYNC_POINT_FUNCTION><SYNC_POINT_LOW>96001</SYNC_POINT_LOW>"
    "<SYNC_POINT_HIGH>0</SYNC_POINT_HIGH></SYNC_POINT></SYNC_POINT_LIST>"
    "</BWFXML>";

std::string only(const std::vector<std::pair<std::string, std::string>>& facts,
                 const std::string& key) {
    const auto values = factsOf(facts, key);
    return values.size() == 1 ? values[0] : std::to_string(values.size()) + " values";
}

} // namespace

// 10 000 000 000 frames at 96 kHz (past 2^32, so both halves of iXML's pairs count) at
// 48 kHz with the sound 10.4 frames late: 4 999 999 990. The sync point at 96 001 lands
// at 48 000.5 + 10.4, frame 48 011; the cue point at 96 000 at 48 010.
TEST(MetadataReaders, BextAndIxmlStateTheDeliveredFile) {
    SKIP_WITHOUT(hasTool(kPython), "python3");
    TempDir dir;
    struct Case {
        int version;
        Bytes field;
        std::string umidAfter; // hex of the written UMID field, "changed" for a new instance
    };
    const Bytes garbage(64, 0xAB);
    for (const Case& c : {Case{0, garbage, std::string(128, '0')}, Case{1, umid(), "changed"},
                          Case{2, Bytes(64, 0), std::string(128, '0')}}) {
        SCOPED_TRACE(c.version);
        wavFile(dir.file("m.wav"), 96000, 2, 9600,
                cat({chunk("bext", bextWith(c.version, c.field, 10000000000ull)),
                     cueChunk({{1, 96000}}), chunk("iXML", text(kIxml))}));
        const auto carried = convert(dir.file("m.wav"), dir.file("o.wav"), AudioFormat::wav,
                                     BitDepth::int24, 96000, 48000, 4800, false, 10.4);
        EXPECT_TRUE(carried.notes.empty()) << carried.notes[0];
        const auto facts = chunkFacts(dir.file("o.wav"));
        ASSERT_TRUE(factsOf(facts, "error").empty()) << only(facts, "error");
        EXPECT_EQ(only(facts, "bext.reference"), "4999999990");
        EXPECT_EQ(only(facts, "bext.version"), "2"); // upgraded, with the measured loudness
        EXPECT_EQ(only(facts, "bext.loudness"), "-1423 550 -50 -1000 32767");
        const std::string written = only(facts, "bext.umid");
        if (c.umidAfter != "changed") {
            EXPECT_EQ(written, c.umidAfter);
        } else {
            // The material number and source pack stay; the instance is new, made by method 1.
            const std::string source = hex(c.field);
            EXPECT_EQ(written.substr(0, 22), source.substr(0, 22));
            EXPECT_EQ(written.substr(22, 2), "21");
            EXPECT_EQ(written.substr(24, 2), "33");
            EXPECT_NE(written.substr(26, 6), "000000");
            EXPECT_EQ(written.substr(32), source.substr(32));
            EXPECT_EQ(only(facts, "ixml.BWF_UMID"), written);
        }
        EXPECT_EQ(only(facts, "ixml.FILE_SAMPLE_RATE"), "48000");
        EXPECT_EQ(only(facts, "ixml.AUDIO_BIT_DEPTH"), "24");
        EXPECT_EQ(only(facts, "ixml.DIGITIZER_SAMPLE_RATE"), "96000"); // the recorder's, kept
        EXPECT_EQ(only(facts, "ixml.BWF_TIME_REFERENCE_HIGH"), "1");
        EXPECT_EQ(only(facts, "ixml.BWF_TIME_REFERENCE_LOW"), "705032694");
        EXPECT_EQ(only(facts, "ixml.TIMESTAMP_SAMPLE_RATE"), "48000");
        EXPECT_EQ(only(facts, "ixml.TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI"), "1");
        EXPECT_EQ(only(facts, "ixml.TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO"), "705032694");
        EXPECT_EQ(only(facts, "ixml.SYNC_POINT_LOW"), "48011");
        EXPECT_EQ(only(facts, "ixml.BWF_VERSION"), "2");
        EXPECT_EQ(sndfileCues(dir.file("o.wav")), std::vector<int64_t>{48010});
    }
}

// The instance number depends on the source and the conversion, never on chance: the same
// job writes the same bytes, another recipe another instance.
TEST(MetadataReaders, UmidInstanceFollowsTheConversion) {
    Metadata m;
    m.origin = Container::riff;
    m.bext = bextWith(1, umid(), 0);
    const CarryTarget base{AudioFormat::wav, BitDepth::int24, 96000, 48000, 2, "SRC", "TPDF"};
    const auto instance = [&](CarryTarget t) {
        const Bytes b = carryMetadata(m, t).metadata.bext;
        return hex(Bytes(b.begin() + 361, b.begin() + 364));
    };
    CarryTarget other = base;
    other.bitDepth = BitDepth::int16;
    EXPECT_EQ(instance(base), instance(base));
    EXPECT_NE(instance(base), instance(other));
    EXPECT_NE(instance(base), "000000");
    // Not a SMPTE UMID: left as it is.
    Bytes foreign = umid();
    foreign[0] = 0x07;
    m.bext = bextWith(1, foreign, 0);
    const Bytes kept = carryMetadata(m, base).metadata.bext;
    EXPECT_EQ(Bytes(kept.begin() + 348, kept.begin() + 412), foreign);
}

// Cue points, AIFF markers, the FLAC cue sheet and the time reference move with the offset;
// a negative offset drops what would land before the first frame, and says so.
TEST(MetadataReaders, PositionsMoveWithTheOffset) {
    SKIP_WITHOUT(hasTool(kMetaflac), "metaflac");
    TempDir dir;
    wavFile(dir.file("m.wav"), 96000, 2, 9600,
            cat({chunk("bext", bext(345600000, 2, kHistory)),
                 cueChunk({{1, 96001}, {2, 480000}, {3, 10}})}));
    struct Case {
        AudioFormat format;
        const char* name;
        double offset;
        std::vector<int64_t> positions;
        const char* note;
    };
    for (const Case& c : {
             Case{AudioFormat::wav, "a.wav", 10.4, {44111, 220510, 15}, ""},
             Case{AudioFormat::aiff, "a.aiff", 10.4, {44111, 220510, 15}, ""},
             Case{AudioFormat::flac, "a.flac", 10.4, {15, 44111, 220510}, "bext"},
             Case{AudioFormat::wav, "b.wav", -7.6, {44093, 220492}, "1 marker before the output's"},
             Case{AudioFormat::wav, "c.wav", 0, {44100, 220500, 5}, ""},
         }) {
        SCOPED_TRACE(c.name);
        const auto carried = convert(dir.file("m.wav"), dir.file(c.name), c.format, BitDepth::int24,
                                     96000, 44100, 4410, false, c.offset);
        if (*c.note) {
            EXPECT_TRUE(mentions(carried.notes, c.note)) << carried.notes.at(0);
        }
        if (c.format != AudioFormat::flac) {
            EXPECT_EQ(sndfileCues(dir.file(c.name)), c.positions);
            continue;
        }
        const ToolRun r = runTool({kMetaflac, "--list", "--block-type=CUESHEET", dir.file(c.name)});
        std::vector<int64_t> offsets;
        for (size_t at = r.out.find("offset: "); at != std::string::npos;
             at = r.out.find("offset: ", at + 1))
            offsets.push_back(std::stoll(r.out.substr(at + 8)));
        // Each track's offset and its index's (0), then the lead-out at the end of the audio.
        EXPECT_EQ(offsets, (std::vector<int64_t>{15, 0, 44111, 0, 220510, 0, 4410}));
    }
    // 158 760 000 at 44.1 kHz, 10.4 earlier.
    EXPECT_EQ(get(readMetadata(dir.file("a.wav")).bext, 338, 8), 158759990u);
    EXPECT_EQ(get(readMetadata(dir.file("b.wav")).bext, 338, 8), 158760008u);
}

TEST(MetadataReaders, IdentifiersTravelToEveryContainer) {
    SKIP_WITHOUT(hasTool(kMetaflac), "metaflac");
    SKIP_WITHOUT(hasTool(kMediainfo), "mediainfo");
    TempDir dir;
    const Bytes info = cat(
        {text("INFO"), infoItem("INAM", "Title"), infoItem("ISRC", kIsrc), infoItem("ITRK", "3")});
    wavFile(dir.file("m.wav"), 96000, 2, 9600, chunk("LIST", info));
    convert(dir.file("m.wav"), dir.file("a.flac"), AudioFormat::flac, BitDepth::int24, 96000, 48000,
            4800);
    const ToolRun tags = runTool({kMetaflac, "--export-tags-to=-", dir.file("a.flac")});
    EXPECT_EQ(tags.out, "TITLE=Title\nISRC=" + kIsrc + "\nTRACKNUMBER=3\n");
    // FLAC to AIFF and WAV: ID3 TSRC and TRCK, and LIST/INFO in the WAV besides.
    for (const char* name : {"a.aiff", "a.wav", "m.aiff"}) {
        SCOPED_TRACE(name);
        const bool fromWav = name == std::string("m.aiff");
        const auto carried = convert(dir.file(fromWav ? "m.wav" : "a.flac"), dir.file(name),
                                     name[2] == 'w' ? AudioFormat::wav : AudioFormat::aiff,
                                     BitDepth::int24, fromWav ? 96000 : 48000, 48000, 4800);
        EXPECT_TRUE(carried.notes.empty()) << carried.notes[0];
        const ToolRun r =
            runTool({kMediainfo, "--Inform=General;%ISRC%|%Track/Position%", dir.file(name)});
        EXPECT_EQ(r.out, kIsrc + "|3\n");
    }
    EXPECT_EQ(readMetadata(dir.file("a.wav")).text,
              (TextTags{{"INAM", "Title"}, {"ISRC", kIsrc}, {"ITRK", "3"}}));
    // RIFF also uses ISRC for the name of a source: such a text is no code, and is named.
    const Bytes source = cat({text("INFO"), infoItem("ISRC", "Studio B, tape 4")});
    wavFile(dir.file("s.wav"), 96000, 2, 9600, chunk("LIST", source));
    const auto carried = convert(dir.file("s.wav"), dir.file("s.flac"), AudioFormat::flac,
                                 BitDepth::int24, 96000, 48000, 4800);
    EXPECT_EQ(carried.notes,
              std::vector<std::string>{
                  "metadata not carried to FLAC: LIST/INFO ISRC \"Studio B, tape "
                  "4\" (no ISRC code; RIFF also uses ISRC for the name of a source)"});
    EXPECT_EQ(runTool({kMetaflac, "--export-tags-to=-", dir.file("s.flac")}).out, "");
}

// Element search and rewriting take one pass over a hostile body: a thousand of thousands
// of openings without an end, an empty element, a longer name that begins alike, and text
// around them that stays byte for byte.
TEST(MetadataReaders, IxmlRewritingLeavesEverythingElseAlone) {
    std::string xml = "<BWFXML><FILE_SAMPLE_RATE_X>1</FILE_SAMPLE_RATE_X><FILE_SAMPLE_RATE/>"
                      "<FILE_SAMPLE_RATE attr=\"1\"> 96000 </FILE_SAMPLE_RATE>&amp;";
    const std::string tail = std::string(1 << 20, ' ');
    std::string hostile = xml;
    for (int i = 0; i < 400000; ++i)
        hostile += "<FILE_SAMPLE_RATE>";
    hostile += tail;
    Metadata m;
    m.origin = Container::riff;
    m.chunks = {{"iXML", text(xml), false}, {"iXML", text(hostile), false}};
    const auto carried =
        carryMetadata(m, {AudioFormat::wav, BitDepth::int16, 96000, 44100, 2, "SRC", "None"});
    ASSERT_EQ(carried.metadata.chunks.size(), 2u);
    const std::string expected =
        "<BWFXML><FILE_SAMPLE_RATE_X>1</FILE_SAMPLE_RATE_X><FILE_SAMPLE_RATE/>"
        "<FILE_SAMPLE_RATE attr=\"1\">44100</FILE_SAMPLE_RATE>&amp;";
    EXPECT_EQ(carried.metadata.chunks[0].body, text(expected));
    const Bytes& rewritten = carried.metadata.chunks[1].body;
    ASSERT_EQ(rewritten.size(), hostile.size() + expected.size() - xml.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), rewritten.end() - long(tail.size())));
}
