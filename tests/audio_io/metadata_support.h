#pragma once
// Helpers of the metadata tests: source files with every kind of metadata, and a
// conversion through carryMetadata and the writers.
#include "audio_io/audio_io.h"
#include "support/metadata_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace sonteva::test {

// A sorted copy, for tags whose order a container may change.
inline TextTags sorted(TextTags tags) {
    std::sort(tags.begin(), tags.end());
    return tags;
}

inline const std::string kHistory = "A=PCM,F=96000,W=24,M=stereo,T=Recorder\r\n";
inline const std::string kIsrc = "GBAYE2600001";

inline Bytes infoItem(const std::string& id, const std::string& s) {
    return chunk(id, text(s + '\0'));
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// An ID3v2.3 frame, and a tag of such frames (`flags`: the header's, 0x10 a footer flag
// as v2.4 has it).
inline Bytes id3Frame(const std::string& id, const Bytes& body) {
    Bytes frame = text(id);
    put(frame, body.size(), 4, true), put(frame, 0, 2);
    return cat({frame, body});
}
inline Bytes id3Of(const Bytes& frames, uint8_t version = 3, uint8_t flags = 0) {
    Bytes tag = text("ID3");
    tag.push_back(version), tag.push_back(0), tag.push_back(flags);
    for (int shift : {21, 14, 7, 0})
        tag.push_back(uint8_t((frames.size() >> shift) & 0x7F));
    Bytes out = cat({tag, frames});
    if (flags & 0x10)
        out.insert(out.end(), {'3', 'D', 'I', version, 0, flags, tag[6], tag[7], tag[8], tag[9]});
    return out;
}
// An ID3v2.3 tag of text frames.
inline Bytes id3Tag(std::initializer_list<std::pair<std::string, std::string>> frames) {
    Bytes body;
    for (const auto& [id, value] : frames)
        body = cat({body, id3Frame(id, cat({Bytes{0}, text(value)}))});
    return id3Of(body);
}

// A "cue " chunk of (id, position) points, and an adtl sub-chunk for cue point `id`.
inline Bytes cueChunk(const std::vector<std::pair<uint32_t, uint32_t>>& points) {
    Bytes cue;
    put(cue, points.size(), 4);
    for (auto [id, at] : points)
        put(cue, id, 4), put(cue, at, 4), put(cue, "data"), put(cue, 0, 8), put(cue, at, 4);
    return chunk("cue ", cue);
}
inline Bytes adtlItem(const std::string& kind, uint32_t id, const Bytes& body) {
    Bytes b;
    put(b, id, 4);
    return chunk(kind, cat({b, body}));
}

// A 96 kHz stereo master with every kind of RIFF chunk carried.
inline void masterWav(const std::string& path, const Bytes& extra = {}) {
    const Bytes info = cat({text("INFO"), infoItem("INAM", "Title"), infoItem("IART", "Artist"),
                            infoItem("ICOP", "(c) Label"), infoItem("ICRD", "2026-01-02"),
                            infoItem("ISFT", "Tool")});
    const Bytes adtl = cat({text("adtl"), chunk("labl", cat({Bytes{1, 0, 0, 0}, text("Verse")})),
                            chunk("labl", cat({Bytes{2, 0, 0, 0}, text("Chorus")})),
                            chunk("note", cat({Bytes{1, 0, 0, 0}, text("check")}))});
    wavFile(path, 96000, 2, 9600,
            cat({chunk("bext", bext(345600000, 2, kHistory, -2300)), chunk("LIST", info),
                 cueChunk({{1, 96000}, {2, 480000}}), chunk("LIST", adtl),
                 chunk("iXML", text("<BWFXML/>")), chunk("axml", text("<ebucore/>")),
                 chunk("smpl", Bytes(36, 0)),
                 chunk("id3 ", id3Tag({{"TSRC", kIsrc}, {"TYER", "2026"}})),
                 chunk("zzzz", text("odd")), extra}));
}

inline std::vector<uint8_t> bodyOf(const Metadata& m, const std::string& id) {
    for (const RawChunk& c : m.chunks)
        if (c.id == id) return c.body;
    return {};
}

// Each marker as "position name/note".
inline std::vector<std::string> marks(const Metadata& m) {
    std::vector<std::string> out;
    for (const Marker& k : m.markers)
        out.push_back(std::to_string(k.position) + " " + k.name + "/" + k.note);
    return out;
}

inline bool mentions(const std::vector<std::string>& notes, const std::string& what) {
    return std::any_of(notes.begin(), notes.end(),
                       [&](const std::string& n) { return n.find(what) != std::string::npos; });
}

inline bool contains(const Bytes& b, const std::string& s) {
    return std::search(b.begin(), b.end(), s.begin(), s.end()) != b.end();
}

// The source's metadata carried to the target (its sound `offset` frames late) and written
// with `frames` frames of a quiet tone, by the streaming writer or in one go, in `channels`
// channels (by default one from FLAC, else two).
inline CarriedMetadata convert(const std::string& source, const std::string& out,
                               AudioFormat format, BitDepth depth, int fsIn, int fsOut,
                               int64_t frames, bool wholeFile = false, double offset = 0,
                               int channels = 0) {
    const Metadata m = readMetadata(source);
    if (!channels) channels = m.origin == Container::flac ? 1 : 2;
    CarriedMetadata carried =
        carryMetadata(m, {format, depth, fsIn, fsOut, channels, "Sonteva SRC", "TPDF", offset});
    ChannelBuffers audio(static_cast<size_t>(channels), std::vector<double>(size_t(frames)));
    for (auto& ch : audio)
        for (size_t i = 0; i < ch.size(); ++i)
            ch[i] = 0.25 * std::sin(0.001 * double(i));
    const LoudnessSummary loudness{-14.234, 5.5, -0.5, -10.0,
                                   -std::numeric_limits<double>::infinity()};
    if (wholeFile) {
        AudioIO::write(out, audio, fsOut, format, depth, &carried.metadata, &loudness);
    } else {
        AudioStreamWriter writer(out, fsOut, int(audio.size()), format, depth, -1,
                                 &carried.metadata);
        writer.write(audio);
        writer.setLoudness(loudness);
        writer.close();
    }
    EXPECT_EQ(readFile(out).info.frames, frames);
    return carried;
}

// The positions of the cue points libsndfile reads from a WAV "cue " or an AIFF "MARK"
// chunk, in file order.
inline std::vector<int64_t> sndfileCues(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    SF_CUES cues{};
    std::vector<int64_t> out;
    if (f && sf_command(f, SFC_GET_CUE, &cues, sizeof cues) == SF_TRUE)
        for (uint32_t i = 0; i < std::min<uint32_t>(cues.cue_count, 100); ++i)
            out.push_back(cues.cue_points[i].sample_offset);
    if (f) sf_close(f);
    return out;
}

} // namespace sonteva::test
