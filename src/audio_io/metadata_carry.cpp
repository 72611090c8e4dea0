// carryMetadata: a source's metadata adapted to an output's rate, delay and container.
#include "audio_io/metadata_carry.h"

#include "audio_io/chunk_file.h"
#include "audio_io/id3_tags.h"
#include "audio_io/metadata_chunks.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

namespace sonteva {

namespace {

using carry::grouped;
using carry::Losses;

// The common tags in each container's own form (nullptr: no place for it there).
// `alsoId3`: a WAV states it in its ID3 tag too, where more readers look for identifiers.
struct TagForms {
    const char* key;
    const char* info;
    const char* aiff;
    bool alsoId3;
};
constexpr TagForms kForms[] = {
    {"TITLE", "INAM", "NAME", false},       {"ARTIST", "IART", "AUTH", false},
    {"COPYRIGHT", "ICOP", "(c) ", false},   {"COMMENT", "ICMT", "ANNO", false},
    {"DATE", "ICRD", nullptr, false},       {"ALBUM", "IPRD", nullptr, false},
    {"GENRE", "IGNR", nullptr, false},      {"ISRC", "ISRC", nullptr, true},
    {"TRACKNUMBER", "ITRK", nullptr, true},
};

// AIFF's MARK chunk counts its markers in 16 bits.
constexpr size_t kAiffMarkers = 65535;
// A FLAC cue sheet numbers its tracks 1 to 254 (255 is the lead-out).
constexpr size_t kFlacTracks = 254;
constexpr int64_t kMax32 = 0xFFFFFFFFll;

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

std::string counted(size_t n, const std::string& one, const std::string& many) {
    return grouped(n) + " " + (n == 1 ? one : many);
}

std::string mebibytes(size_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / double(1 << 20));
    return text;
}

// Four characters as a note can show them.
std::string printable(std::string id) {
    for (char& c : id)
        if (!std::isprint(static_cast<unsigned char>(c))) c = '?';
    return id;
}

const TagForms* formOf(const std::string& key) {
    for (const auto& f : kForms)
        if (key == f.key) return &f;
    return nullptr;
}

// The native key of `key` in container c, or "" when c has none for it.
std::string nativeKey(const std::string& key, Container c) {
    if (c == Container::flac) return key;
    const TagForms* f = formOf(key);
    const char* native = !f ? nullptr : c == Container::riff ? f->info : f->aiff;
    return native ? native : "";
}

// Two letters, three letters or digits, seven digits; hyphens aside.
bool isIsrcCode(std::string v) {
    std::erase(v, '-');
    if (v.size() != 12) return false;
    for (size_t i = 0; i < v.size(); ++i) {
        const auto c = static_cast<unsigned char>(v[i]);
        if (i < 2 ? !std::isalpha(c) : i < 5 ? !std::isalnum(c) : !std::isdigit(c)) return false;
    }
    return true;
}

// A source's text tags under the common names; the ID3 tag adds what they do not say.
TextTags commonTags(const Metadata& src, Container target, Losses& lost) {
    TextTags tags;
    for (const auto& [native, value] : src.text) {
        std::string key;
        if (src.origin == Container::flac) key = upper(native);
        for (const auto& f : kForms) {
            const char* form = src.origin == Container::riff ? f.info : f.aiff;
            if (src.origin != Container::flac && form && native == form) key = f.key;
        }
        if (key == "ISRC" && src.origin == Container::riff && !isIsrcCode(value)) {
            const std::string shown = value.size() > 40 ? value.substr(0, 40) + "…" : value;
            lost.push_back("LIST/INFO ISRC \"" + shown +
                           "\" (no ISRC code; RIFF also uses ISRC for the name of a source)");
        } else if (key.empty()) {
            lost.push_back("LIST/INFO " + printable(native));
        } else {
            tags.emplace_back(key, value);
        }
    }
    const Id3Contents id3 = readId3(src.id3);
    for (const auto& property : id3.properties) {
        const bool known = std::any_of(tags.begin(), tags.end(),
                                       [&](const auto& t) { return t.first == property.first; });
        if (!known) tags.push_back(property);
    }
    if (target == Container::flac && !id3.unsupported.empty()) {
        std::string frames;
        for (const auto& frame : id3.unsupported)
            frames += (frames.empty() ? "" : " ") + frame;
        lost.push_back("ID3 frames " + frames + " (a Vorbis comment has no form for them)");
    }
    return tags;
}

// The Vorbis comment block holds at most 16 MiB: fields are kept in order while they fit.
TextTags fitVorbis(const TextTags& tags, Losses& lost) {
    size_t size = 4 + kFlacVendorRoom + 4;
    TextTags kept;
    std::string dropped;
    size_t droppedCount = 0, droppedBytes = 0;
    for (const auto& [key, value] : tags) {
        const size_t field = 4 + key.size() + 1 + value.size();
        if (size + field <= kFlacBlockLimit) {
            size += field;
            kept.emplace_back(key, value);
            continue;
        }
        if (++droppedCount <= 8) dropped += " " + printable(key.substr(0, 64));
        droppedBytes += field;
    }
    if (droppedCount > 0)
        lost.push_back(counted(droppedCount, "tag", "tags") + " of " + mebibytes(droppedBytes) +
                       " past FLAC's limit of 16 MiB for its comment block (" + dropped.substr(1) +
                       (droppedCount > 8 ? " …)" : ")"));
    return kept;
}

std::vector<std::vector<uint8_t>> fitPictures(std::vector<std::vector<uint8_t>> pictures,
                                              Losses& lost) {
    for (const auto& p : pictures)
        if (p.size() > kFlacBlockLimit)
            lost.push_back("a picture of " + mebibytes(p.size()) +
                           " (past FLAC's limit of 16 MiB for a metadata block)");
    std::erase_if(pictures, [](const auto& p) { return p.size() > kFlacBlockLimit; });
    return pictures;
}

// Text tags and the ID3 tag between containers.
void carryTags(const Metadata& src, Metadata& m, Losses& lost) {
    if (src.origin == m.origin) {
        m.text = m.origin == Container::flac ? fitVorbis(src.text, lost) : src.text;
        m.id3 = m.origin == Container::aiff ? evenId3(src.id3) : src.id3;
        m.pictures = fitPictures(src.pictures, lost);
        return;
    }
    const TextTags tags = commonTags(src, m.origin, lost);
    if (m.origin == Container::flac) {
        m.text = fitVorbis(tags, lost);
        auto pictures = src.pictures;
        for (auto& picture : readId3(src.id3).pictures)
            pictures.push_back(std::move(picture));
        m.pictures = fitPictures(std::move(pictures), lost);
        return;
    }
    // RIFF and AIFF: their own chunks for what they have a place for, the ID3 tag for the
    // rest (ISRC, date, pictures, ...) and for the identifiers.
    TextTags rest;
    for (const auto& [key, value] : tags) {
        const std::string native = nativeKey(key, m.origin);
        if (!native.empty()) m.text.emplace_back(native, value);
        const TagForms* form = formOf(key);
        if (native.empty() || (form && form->alsoId3)) rest.emplace_back(key, value);
    }
    const auto inId3 = readId3(src.id3).properties;
    const bool covered = std::all_of(rest.begin(), rest.end(), [&](const auto& r) {
        return std::any_of(inId3.begin(), inId3.end(),
                           [&](const auto& p) { return p.first == r.first; });
    });
    if (covered && src.pictures.empty()) {
        m.id3 = src.id3;
    } else {
        std::vector<std::string> rejected;
        m.id3 = renderId3(src.id3, tags, src.pictures, rejected);
        for (const auto& key : rejected)
            if (nativeKey(key, m.origin).empty())
                lost.push_back("tag " + printable(key) + " (no ID3 frame holds it)");
    }
    if (m.origin == Container::aiff) m.id3 = evenId3(std::move(m.id3));
}

// What of the markers a target without RIFF's adtl list cannot hold.
void markerDetails(const std::vector<Marker>& markers, bool keepsNames, Losses& lost) {
    const auto any = [&](auto&& test) { return std::any_of(markers.begin(), markers.end(), test); };
    if (!keepsNames && any([](const Marker& m) { return !m.name.empty(); }))
        lost.push_back("marker names");
    if (any([](const Marker& m) { return !m.note.empty(); })) lost.push_back("marker notes");
    if (any([](const Marker& m) { return m.length > 0; })) lost.push_back("region lengths");
    if (any([](const Marker& m) { return m.region && !m.region->text.empty(); }))
        lost.push_back("ltxt texts");
    if (any([](const Marker& m) {
            const auto& r = m.region;
            return r &&
                   (r->purpose != "rgn " || r->country || r->language || r->dialect || r->codePage);
        }))
        lost.push_back("ltxt purposes and languages");
    const size_t files = size_t(std::count_if(markers.begin(), markers.end(),
                                              [](const Marker& m) { return !m.files.empty(); }));
    if (files > 0) lost.push_back("adtl file data of " + counted(files, "cue point", "cue points"));
}

// Markers as a FLAC cue sheet (one track per marker, outside the CD-DA subset).
FlacCueSheet sheetFromMarkers(std::vector<Marker> markers, Losses& lost) {
    markerDetails(markers, false, lost);
    std::stable_sort(markers.begin(), markers.end(),
                     [](const Marker& a, const Marker& b) { return a.position < b.position; });
    if (markers.size() > kFlacTracks)
        lost.push_back(counted(markers.size() - kFlacTracks, "marker", "markers") +
                       " past a FLAC cue sheet's limit of 254 tracks (the first 254 were kept)");
    FlacCueSheet sheet;
    for (size_t i = 0; i < std::min(markers.size(), kFlacTracks); ++i) {
        CueTrack track;
        track.offset = uint64_t(markers[i].position);
        track.number = uint8_t(i + 1);
        track.indices.emplace_back(0, 1);
        sheet.tracks.push_back(track);
    }
    return sheet;
}

void placeSheet(FlacCueSheet& sheet, const CarryTarget& t, Losses& lost) {
    bool onFrames = t.fsOut == 44100, early = false;
    const auto place = [&](uint64_t at) {
        const int64_t p = carry::placed(int64_t(std::min<uint64_t>(at, INT64_MAX)), t);
        early = early || p < 0;
        return std::max<int64_t>(p, 0);
    };
    for (CueTrack& track : sheet.tracks) {
        const int64_t start = place(track.offset);
        for (auto& index : track.indices) {
            const int64_t at = std::max(place(track.offset + index.first), start);
            index.first = uint64_t(at - start);
            onFrames = onFrames && at % 588 == 0;
        }
        track.offset = uint64_t(start);
        onFrames = onFrames && start % 588 == 0;
    }
    sheet.leadIn = uint64_t(
        rescalePosition(int64_t(std::min<uint64_t>(sheet.leadIn, INT64_MAX)), t.fsIn, t.fsOut));
    if (early) lost.push_back("cue sheet positions before the first frame (moved to it)");
    if (sheet.compactDisc && !onFrames) {
        // Off the CD frame grid the sheet cannot stay CD-DA: it becomes a plain one.
        sheet.compactDisc = false;
        sheet.leadIn = 0;
        lost.push_back("CD-DA cue sheet flag (the positions are off the CD's frame grid)");
    }
}

// RIFF and AIFF address frames in 32 bits.
void keepAddressable(std::vector<Marker>& markers, Container target, Losses& lost) {
    const auto past = std::erase_if(markers, [](const Marker& m) { return m.position > kMax32; });
    if (past > 0)
        lost.push_back(counted(past, "marker", "markers") + " past frame 4 294 967 295, which " +
                       (target == Container::riff ? "a cue point" : "an AIFF marker") +
                       " cannot address");
    bool cut = false;
    for (Marker& m : markers) {
        cut = cut || m.length > kMax32;
        m.length = std::min(m.length, kMax32);
    }
    if (cut) lost.push_back("the ends of regions longer than 4 294 967 295 frames (cut there)");
}

void fitAiffMarkers(std::vector<Marker>& markers, Losses& lost) {
    if (markers.empty()) return;
    markerDetails(markers, true, lost);
    if (markers.size() > kAiffMarkers) {
        lost.push_back(grouped(markers.size()) +
                       " markers past AIFF's limit of 65 535 (the first " + "65 535 were kept)");
        markers.resize(kAiffMarkers);
    }
    bool cut = false;
    for (Marker& m : markers) {
        cut = cut || m.name.size() > 255;
        if (m.name.size() > 255) m.name.resize(255);
        m.note.clear(), m.length = 0, m.region.reset(), m.files.clear();
    }
    if (cut) lost.push_back("the ends of marker names longer than 255 bytes");
    // AIFF marker ids are positive 16-bit numbers, one per marker.
    std::set<uint32_t> ids;
    for (const Marker& m : markers)
        ids.insert(m.id);
    const bool valid = ids.size() == markers.size() && !ids.count(0) && *ids.rbegin() <= 32767;
    for (size_t i = 0; !valid && i < markers.size(); ++i)
        markers[i].id = uint32_t(i + 1);
}

void carryMarkers(const Metadata& src, Metadata& m, const CarryTarget& t, Losses& lost) {
    size_t early = 0;
    for (Marker marker : src.markers) {
        marker.position = carry::placed(marker.position, t);
        marker.length = rescalePosition(marker.length, t.fsIn, t.fsOut);
        if (marker.position < 0)
            ++early;
        else
            m.markers.push_back(std::move(marker));
    }
    if (early > 0 && (m.origin != Container::flac || !src.cueSheet))
        lost.push_back(counted(early, "marker", "markers") + " before the output's first frame");
    if (m.origin == Container::flac) {
        if (src.cueSheet) {
            m.cueSheet = *src.cueSheet;
            placeSheet(*m.cueSheet, t, lost);
        } else {
            m.cueSheet = sheetFromMarkers(m.markers, lost);
        }
        if (m.cueSheet->tracks.empty()) m.cueSheet.reset();
        m.markers.clear(); // the cue sheet states them
        return;
    }
    if (src.cueSheet) {
        const auto& tracks = src.cueSheet->tracks;
        if (std::any_of(tracks.begin(), tracks.end(), [](auto& tr) { return !tr.isrc.empty(); }))
            lost.push_back("cue sheet ISRC codes");
        if (!src.cueSheet->catalog.empty()) lost.push_back("media catalog number");
    }
    keepAddressable(m.markers, m.origin, lost);
    if (m.origin == Container::aiff) fitAiffMarkers(m.markers, lost);
}

std::string chunkName(const RawChunk& chunk, Container origin) {
    if (chunk.id != "APPL" || origin == Container::riff) return printable(chunk.id);
    const std::string signature(chunk.body.begin(),
                                chunk.body.begin() + long(std::min<size_t>(chunk.body.size(), 4)));
    return (origin == Container::flac ? "FLAC application block '" : "AIFF application chunk '") +
           printable(signature) + "'";
}

void carryChunks(const Metadata& src, Metadata& m, const CarryTarget& t, Losses& lost) {
    // Positions that are not rescaled here stay right only where nothing moves.
    const bool moved = t.fsIn != t.fsOut || !(std::fabs(t.offset) < 0.5);
    for (const RawChunk& chunk : src.chunks) {
        if (src.origin != m.origin)
            lost.push_back(chunkName(chunk, src.origin));
        else if (chunk.positional && moved)
            lost.push_back(chunk.id + " (sample positions)");
        else if (chunk.id == "iXML")
            m.chunks.push_back({chunk.id, carry::carriedIxml(chunk.body, t, m.bext, lost), false});
        else
            m.chunks.push_back(chunk);
    }
}

// One note for everything lost: repeats counted once, and a hostile file's thousands of
// items cut short.
std::string lossNote(const Losses& lost, Container target) {
    constexpr size_t kShown = 24;
    std::map<std::string, size_t> times;
    std::vector<const std::string*> order;
    for (const std::string& item : lost)
        if (times[item]++ == 0) order.push_back(&item);
    std::string note = std::string("metadata not carried to ") + nameOf(target) + ": ";
    for (size_t i = 0; i < std::min(order.size(), kShown); ++i) {
        const size_t n = times[*order[i]];
        note += (i ? "; " : "") + *order[i] +
                (n == 1   ? ""
                 : n == 2 ? " (twice)"
                          : " (" + grouped(n) + " times)");
    }
    if (order.size() > kShown) note += "; and " + grouped(order.size() - kShown) + " more";
    return note;
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
    Losses lost = src.unreadable;
    if (!src.bext.empty()) {
        if (m.origin == Container::riff)
            m.bext = carry::carriedBext(src.bext, t, lost);
        else
            lost.push_back("bext");
    }
    carryMarkers(src, m, t, lost);
    carryTags(src, m, lost);
    carryChunks(src, m, t, lost);
    if (!lost.empty()) out.notes.push_back(lossNote(lost, m.origin));
    return out;
}

} // namespace sonteva
