// carryMetadata: a source's metadata adapted to an output's rate and container.
#include "audio_io/chunk_file.h"
#include "audio_io/id3_tags.h"
#include "audio_io/metadata.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sonteva {

namespace {

// The common tags in each container's own form (nullptr: no place for it there).
struct TagForms {
    const char* key;
    const char* info;
    const char* aiff;
};
constexpr TagForms kForms[] = {
    {"TITLE", "INAM", "NAME"},   {"ARTIST", "IART", "AUTH"}, {"COPYRIGHT", "ICOP", "(c) "},
    {"COMMENT", "ICMT", "ANNO"}, {"DATE", "ICRD", nullptr},  {"ALBUM", "IPRD", nullptr},
    {"GENRE", "IGNR", nullptr},
};

Container containerOf(AudioFormat format) {
    switch (format) {
    case AudioFormat::wav:
        return Container::riff;
    case AudioFormat::aiff:
        return Container::aiff;
    case AudioFormat::flac:
        return Container::flac;
    }
    return Container::none;
}

const char* nameOf(Container c) {
    return c == Container::riff ? "WAV" : c == Container::aiff ? "AIFF" : "FLAC";
}

std::string upper(std::string s) {
    for (char& ch : s)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
}

// The native key of `key` in container c, or "" when c has none for it.
std::string nativeKey(const std::string& key, Container c) {
    if (c == Container::flac) return key;
    for (const auto& f : kForms) {
        const char* native = c == Container::riff ? f.info : f.aiff;
        if (key == f.key) return native ? native : "";
    }
    return "";
}

// A source's text tags under the common names; keys without one are named in `lost`.
TextTags commonTags(const Metadata& src, std::vector<std::string>& lost) {
    TextTags tags;
    for (const auto& [native, value] : src.text) {
        std::string key;
        if (src.origin == Container::flac) key = upper(native);
        for (const auto& f : kForms) {
            const char* form = src.origin == Container::riff ? f.info : f.aiff;
            if (src.origin != Container::flac && form && native == form) key = f.key;
        }
        if (key.empty())
            lost.push_back("LIST/INFO " + native);
        else
            tags.emplace_back(key, value);
    }
    // The ID3 tag adds what the container's own tags do not say.
    for (auto& property : readId3(src.id3).properties) {
        const bool known = std::any_of(tags.begin(), tags.end(),
                                       [&](const auto& t) { return t.first == property.first; });
        if (!known) tags.push_back(property);
    }
    return tags;
}

std::string codingHistoryLine(const CarryTarget& t) {
    const bool isFloat = t.bitDepth == BitDepth::float32 || t.bitDepth == BitDepth::float64;
    int bits = bitsOf(t.bitDepth);
    if (t.format == AudioFormat::flac) bits = t.bitDepth == BitDepth::int16 ? 16 : 24;
    const std::string mode = t.channels == 1   ? "mono"
                             : t.channels == 2 ? "stereo"
                                               : std::to_string(t.channels) + "-channel";
    std::string text = "Sonteva;" + t.algorithm + ";dither " + t.dither;
    if (isFloat && t.format != AudioFormat::flac) text += ";float";
    return "A=PCM,F=" + std::to_string(t.fsOut) + ",W=" + std::to_string(bits) + ",M=" + mode +
           ",T=" + text + "\r\n";
}

// The bext body for the output: the time reference rescaled, this conversion's line added
// to the coding history, version-2 loudness fields marked "not calculated" until the
// writer fills them in; the reserved bytes of older versions zeroed.
std::vector<uint8_t> carriedBext(std::vector<uint8_t> b, const CarryTarget& t) {
    const int64_t reference = int64_t(chunks::getLE(&b[338], 8));
    const uint64_t scaled = uint64_t(rescalePosition(reference, t.fsIn, t.fsOut));
    for (int i = 0; i < 8; ++i)
        b[338 + size_t(i)] = uint8_t(scaled >> (8 * i));
    const uint64_t version = chunks::getLE(&b[346], 2);
    std::fill(b.begin() + 412, b.begin() + 602, uint8_t{0});
    if (version >= 2)
        for (size_t at = 412; at < 422; at += 2)
            b[at] = 0xFF, b[at + 1] = 0x7F;
    std::string history(b.begin() + 602, b.end());
    history.erase(history.find_last_not_of('\0') + 1);
    if (!history.empty() && history.back() != '\n') history += "\r\n";
    history += codingHistoryLine(t);
    b.resize(602);
    b.insert(b.end(), history.begin(), history.end());
    return b;
}

// Markers as a FLAC cue sheet (one track per marker, outside the CD-DA subset).
FlacCueSheet sheetFromMarkers(std::vector<Marker> markers, std::vector<std::string>& lost) {
    std::sort(markers.begin(), markers.end(),
              [](const Marker& a, const Marker& b) { return a.position < b.position; });
    if (markers.size() > 254) lost.push_back("markers after the 254th");
    FlacCueSheet sheet;
    for (size_t i = 0; i < std::min<size_t>(markers.size(), 254); ++i) {
        CueTrack track;
        track.offset = uint64_t(markers[i].position);
        track.number = uint8_t(i + 1);
        track.indices.emplace_back(0, 1);
        sheet.tracks.push_back(track);
    }
    const bool named = std::any_of(markers.begin(), markers.end(), [](const Marker& m) {
        return !m.name.empty() || !m.note.empty();
    });
    if (named) lost.push_back("marker names");
    return sheet;
}

void rescaleSheet(FlacCueSheet& sheet, const CarryTarget& t, std::vector<std::string>& lost) {
    bool onFrames = t.fsOut == 44100;
    for (CueTrack& track : sheet.tracks) {
        const int64_t start = rescalePosition(int64_t(track.offset), t.fsIn, t.fsOut);
        for (auto& index : track.indices) {
            const int64_t at =
                rescalePosition(int64_t(track.offset + index.first), t.fsIn, t.fsOut);
            index.first = uint64_t(at - start);
            onFrames = onFrames && at % 588 == 0;
        }
        track.offset = uint64_t(start);
        onFrames = onFrames && start % 588 == 0;
    }
    sheet.leadIn = uint64_t(rescalePosition(int64_t(sheet.leadIn), t.fsIn, t.fsOut));
    if (sheet.compactDisc && !onFrames) {
        // Off the CD frame grid the sheet cannot stay CD-DA: it becomes a plain one.
        sheet.compactDisc = false;
        sheet.leadIn = 0;
        lost.push_back("CD-DA cue sheet flag");
    }
}

void carryMarkers(const Metadata& src, Metadata& m, const CarryTarget& t,
                  std::vector<std::string>& lost) {
    for (Marker marker : src.markers) {
        marker.position = rescalePosition(marker.position, t.fsIn, t.fsOut);
        marker.length = rescalePosition(marker.length, t.fsIn, t.fsOut);
        m.markers.push_back(marker);
    }
    if (m.origin == Container::flac) {
        m.cueSheet = src.cueSheet ? *src.cueSheet : sheetFromMarkers(src.markers, lost);
        if (m.cueSheet->tracks.empty()) m.cueSheet.reset();
        if (m.cueSheet) rescaleSheet(*m.cueSheet, t, lost);
        return;
    }
    if (src.cueSheet) {
        const auto& tracks = src.cueSheet->tracks;
        if (std::any_of(tracks.begin(), tracks.end(), [](auto& tr) { return !tr.isrc.empty(); }))
            lost.push_back("cue sheet ISRC codes");
        if (!src.cueSheet->catalog.empty()) lost.push_back("media catalog number");
    }
    if (m.origin != Container::aiff) return;
    // AIFF markers have no notes or lengths, and their ids are positive 16-bit numbers.
    bool renumber = false;
    for (const Marker& marker : m.markers) {
        if (!marker.note.empty() || marker.length > 0) {
            lost.push_back("marker notes and region lengths");
            break;
        }
    }
    for (const Marker& marker : m.markers)
        renumber = renumber || marker.id == 0 || marker.id > 32767;
    for (size_t i = 0; renumber && i < m.markers.size(); ++i)
        m.markers[i].id = uint32_t(i + 1);
}

// Text tags and the ID3 tag between containers.
void carryTags(const Metadata& src, Metadata& m, std::vector<std::string>& lost) {
    if (src.origin == m.origin) {
        m.text = src.text;
        m.id3 = src.id3;
        m.pictures = src.pictures;
        return;
    }
    const TextTags tags = commonTags(src, lost);
    if (m.origin == Container::flac) {
        m.text = tags;
        m.pictures = src.pictures;
        for (auto& picture : readId3(src.id3).pictures)
            m.pictures.push_back(std::move(picture));
        return;
    }
    // RIFF and AIFF: their own chunks for what they have a place for, the ID3 tag for the
    // rest (ISRC, date, pictures, ...).
    TextTags rest;
    for (const auto& [key, value] : tags) {
        const std::string native = nativeKey(key, m.origin);
        if (native.empty())
            rest.emplace_back(key, value);
        else
            m.text.emplace_back(native, value);
    }
    const auto inId3 = readId3(src.id3).properties;
    const bool covered = std::all_of(rest.begin(), rest.end(), [&](const auto& r) {
        return std::any_of(inId3.begin(), inId3.end(),
                           [&](const auto& p) { return p.first == r.first; });
    });
    if (covered && src.pictures.empty())
        m.id3 = src.id3;
    else
        m.id3 = renderId3(src.id3, tags, src.pictures);
}

} // namespace

int64_t rescalePosition(int64_t position, int64_t fsIn, int64_t fsOut) {
    if (fsIn <= 0 || fsIn == fsOut) return position;
    const __int128 scaled = static_cast<__int128>(position) * fsOut * 2;
    const __int128 rounded = (scaled >= 0 ? scaled + fsIn : scaled - fsIn) / (2 * __int128{fsIn});
    return static_cast<int64_t>(rounded);
}

CarriedMetadata carryMetadata(const Metadata& src, const CarryTarget& t) {
    CarriedMetadata out;
    Metadata& m = out.metadata;
    m.origin = containerOf(t.format);
    std::vector<std::string> lost = src.unreadable;
    if (!src.bext.empty()) {
        if (m.origin == Container::riff)
            m.bext = carriedBext(src.bext, t);
        else
            lost.push_back("bext");
    }
    carryMarkers(src, m, t, lost);
    carryTags(src, m, lost);
    const bool sameFamily = src.origin == m.origin;
    for (const RawChunk& chunk : src.chunks) {
        if (!sameFamily)
            lost.push_back(chunk.id == "APPL" ? "FLAC application blocks" : chunk.id);
        else if (chunk.positional && t.fsIn != t.fsOut)
            lost.push_back(chunk.id + " (sample positions)");
        else
            m.chunks.push_back(chunk);
    }
    if (!lost.empty()) {
        std::string note = std::string("metadata not carried to ") + nameOf(m.origin) + ": ";
        for (size_t i = 0; i < lost.size(); ++i)
            note += (i ? ", " : "") + lost[i];
        out.notes.push_back(note);
    }
    return out;
}

} // namespace sonteva
