#include "audio_io/metadata_chunks.h"

#include "audio_io/audio_error.h"
#include "audio_io/chunk_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace sonteva {

namespace {

using Bytes = std::vector<uint8_t>;
using chunks::putBE;
using chunks::putLE;
using chunks::putText;

void putChunk(Bytes& out, const std::string& id, const Bytes& body, bool bigEndian) {
    putText(out, id);
    if (bigEndian)
        putBE(out, body.size(), 4);
    else
        putLE(out, body.size(), 4);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1) out.push_back(0);
}

uint32_t clamp32(int64_t v) {
    return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, 0xFFFFFFFFll));
}

// A version-2 loudness field: hundredths, or 0x7FFF for "not calculated".
uint16_t loudnessField(double value) {
    if (!std::isfinite(value)) return 0x7FFF;
    const double hundredths = std::round(value * 100.0);
    return static_cast<uint16_t>(static_cast<int16_t>(std::clamp(hundredths, -32767.0, 32766.0)));
}

Bytes bextBody(Bytes b, const LoudnessSummary* l) {
    if (!l || chunks::getLE(&b[346], 2) < 2) return b;
    const double fields[] = {l->integrated, l->range, l->maxTruePeak, l->maxMomentary,
                             l->maxShortTerm};
    for (size_t i = 0; i < 5; ++i) {
        const uint16_t v = loudnessField(fields[i]);
        b[412 + 2 * i] = uint8_t(v & 0xFF);
        b[413 + 2 * i] = uint8_t(v >> 8);
    }
    return b;
}

// A NUL-terminated text sub-chunk of LIST INFO or adtl.
void putTextItem(Bytes& out, const std::string& id, const Bytes& prefix, const std::string& text) {
    Bytes body = prefix;
    putText(body, text);
    body.push_back(0);
    putChunk(out, id, body, false);
}

// The cue chunk's body and the adtl list's.
std::pair<Bytes, Bytes> cueChunks(const std::vector<Marker>& markers) {
    Bytes cue, adtl;
    putLE(cue, markers.size(), 4);
    putText(adtl, "adtl");
    for (const Marker& m : markers) {
        putLE(cue, m.id, 4);
        putLE(cue, clamp32(m.position), 4);
        putText(cue, "data");
        putLE(cue, 0, 4);
        putLE(cue, 0, 4);
        putLE(cue, clamp32(m.position), 4);
        Bytes id;
        putLE(id, m.id, 4);
        if (!m.name.empty()) putTextItem(adtl, "labl", id, m.name);
        if (!m.note.empty()) putTextItem(adtl, "note", id, m.note);
        if (m.length > 0 || m.region) {
            const RegionText region = m.region.value_or(RegionText{});
            Bytes ltxt = id;
            putLE(ltxt, clamp32(m.length), 4);
            putText(ltxt, (region.purpose + "    ").substr(0, 4));
            for (uint16_t v : {region.country, region.language, region.dialect, region.codePage})
                putLE(ltxt, v, 2);
            if (!region.text.empty()) putText(ltxt, region.text), ltxt.push_back(0);
            putChunk(adtl, "ltxt", ltxt, false);
        }
        for (const Bytes& file : m.files) {
            Bytes body = id;
            body.insert(body.end(), file.begin(), file.end());
            putChunk(adtl, "file", body, false);
        }
    }
    return {std::move(cue), std::move(adtl)};
}

} // namespace

namespace {

struct Item {
    std::string id;
    Bytes body;
};

Bytes markChunk(const std::vector<Marker>& markers) {
    Bytes mark;
    const size_t count = std::min<size_t>(markers.size(), 0xFFFF);
    putBE(mark, count, 2);
    for (size_t i = 0; i < count; ++i) {
        const Marker& marker = markers[i];
        const size_t length = std::min<size_t>(marker.name.size(), 255);
        putBE(mark, marker.id, 2);
        putBE(mark, clamp32(marker.position), 4);
        mark.push_back(uint8_t(length));
        putText(mark, marker.name.substr(0, length));
        if ((length + 1) & 1) mark.push_back(0); // a Pascal string fills an even count
    }
    return mark;
}

ChunkLayout layOut(const std::vector<Item>& items, bool aiff, uint64_t frontRoom) {
    ChunkLayout out;
    for (const Item& item : items) {
        const uint64_t size = 8 + item.body.size() + (item.body.size() & 1);
        const bool front = out.front.size() + size <= frontRoom && !(aiff && item.body.size() % 2);
        putChunk(front ? out.front : out.back, item.id, item.body, aiff);
    }
    return out;
}

} // namespace

ChunkLayout riffMetadataLayout(const Metadata& m, const LoudnessSummary* loudness,
                               uint64_t frontRoom) {
    std::vector<Item> items;
    if (!m.bext.empty()) items.push_back({"bext", bextBody(m.bext, loudness)});
    if (!m.text.empty()) {
        Bytes info;
        putText(info, "INFO");
        for (const auto& [id, value] : m.text)
            putTextItem(info, id, {}, value);
        items.push_back({"LIST", info});
    }
    if (!m.markers.empty()) {
        auto [cue, adtl] = cueChunks(m.markers);
        items.push_back({"cue ", std::move(cue)});
        if (adtl.size() > 4) items.push_back({"LIST", std::move(adtl)});
    }
    for (const RawChunk& c : m.chunks)
        items.push_back({c.id, c.body});
    if (!m.id3.empty()) items.push_back({"id3 ", m.id3});
    return layOut(items, false, frontRoom);
}

ChunkLayout aiffMetadataLayout(const Metadata& m, uint64_t frontRoom) {
    std::vector<Item> items;
    for (const auto& [id, value] : m.text)
        items.push_back({id, Bytes(value.begin(), value.end())});
    if (!m.markers.empty()) items.push_back({"MARK", markChunk(m.markers)});
    for (const RawChunk& c : m.chunks)
        items.push_back({c.id, c.body});
    if (!m.id3.empty()) items.push_back({"ID3 ", m.id3});
    return layOut(items, true, frontRoom);
}

Bytes riffMetadataChunks(const Metadata& m, const LoudnessSummary* loudness) {
    return riffMetadataLayout(m, loudness, UINT64_MAX).front;
}

Bytes aiffMetadataChunks(const Metadata& m) {
    return aiffMetadataLayout(m, UINT64_MAX).front;
}

Bytes fillerChunk(uint64_t total, bool aiff) {
    Bytes out;
    putText(out, aiff ? "FLLR" : "JUNK");
    if (aiff)
        putBE(out, total - 8, 4);
    else
        putLE(out, total - 8, 4);
    out.resize(total, 0);
    return out;
}

namespace {

Bytes vorbisComment(const std::string& vendor, const TextTags& text) {
    Bytes b;
    putLE(b, vendor.size(), 4);
    putText(b, vendor);
    putLE(b, text.size(), 4);
    for (const auto& [key, value] : text) {
        putLE(b, key.size() + 1 + value.size(), 4);
        putText(b, key + "=" + value);
    }
    return b;
}

Bytes cueSheet(const FlacCueSheet& sheet, int64_t frames) {
    Bytes b(128, 0);
    std::copy_n(sheet.catalog.begin(), std::min<size_t>(sheet.catalog.size(), 128), b.begin());
    putBE(b, sheet.leadIn, 8);
    b.push_back(sheet.compactDisc ? 0x80 : 0);
    b.resize(b.size() + 258, 0);
    std::vector<CueTrack> tracks;
    for (const CueTrack& t : sheet.tracks)
        if (!t.indices.empty()) tracks.push_back(t); // the lead-out is made afresh below
    CueTrack leadOut;
    leadOut.offset = uint64_t(frames);
    leadOut.number = sheet.compactDisc ? 170 : 255;
    tracks.push_back(leadOut);
    b.push_back(uint8_t(tracks.size()));
    for (const CueTrack& t : tracks) {
        putBE(b, t.offset, 8);
        b.push_back(t.number);
        Bytes isrc(12, 0);
        std::copy_n(t.isrc.begin(), std::min<size_t>(t.isrc.size(), 12), isrc.begin());
        b.insert(b.end(), isrc.begin(), isrc.end());
        b.push_back(t.flags & 0xC0);
        b.resize(b.size() + 13, 0);
        b.push_back(uint8_t(t.indices.size()));
        for (const auto& [offset, number] : t.indices) {
            putBE(b, offset, 8);
            b.push_back(number);
            b.resize(b.size() + 3, 0);
        }
    }
    return b;
}

// Moves bytes [from, end) of the file to start at `to`, in pieces, from the far end first
// when moving up so that nothing is overwritten before it is read.
void moveTail(int fd, uint64_t from, uint64_t to, uint64_t end) {
    constexpr uint64_t kPiece = uint64_t{1} << 20;
    Bytes piece(kPiece);
    const uint64_t length = end - from;
    for (uint64_t done = 0; done < length;) {
        const uint64_t n = std::min(kPiece, length - done);
        const uint64_t at = to > from ? length - done - n : done;
        if (!chunks::readAt(fd, from + at, piece.data(), size_t(n)))
            throw AudioError("The encoded FLAC file could not be read back");
        chunks::writeAt(fd, to + at, piece.data(), size_t(n));
        done += n;
    }
    if (to < from && ::ftruncate(fd, off_t(to + length)) != 0)
        throw AudioError(std::strerror(errno));
}

} // namespace

void rewriteFlacMetadata(int fd, const Metadata& m, int64_t frames) {
    uint64_t audioStart = 0;
    const auto blocks = chunks::flacBlocks(fd, audioStart);
    if (blocks.empty() || blocks[0].type != 0)
        throw AudioError("The encoded FLAC file has no stream information");
    std::string vendor = "Sonteva";
    std::vector<std::pair<int, Bytes>> out;
    for (const auto& b : blocks) {
        if (b.type == 4 && b.body.size() >= 4) {
            const size_t n = chunks::getLE(b.body.data(), 4);
            if (4 + n <= b.body.size())
                vendor.assign(b.body.begin() + 4, b.body.begin() + 4 + long(n));
        } else if (b.type != 1) {
            out.emplace_back(b.type, b.body); // stream information, seek table
        }
    }
    vendor.resize(std::min(vendor.size(), kFlacVendorRoom));
    out.emplace_back(4, vorbisComment(vendor, m.text));
    if (m.cueSheet) out.emplace_back(5, cueSheet(*m.cueSheet, frames));
    for (const auto& picture : m.pictures)
        out.emplace_back(6, picture);
    for (const RawChunk& c : m.chunks)
        if (c.id == "APPL") out.emplace_back(2, c.body);
    // A block declares its length in 24 bits: the carry left out (and named) what is longer.
    std::erase_if(out, [](const auto& b) { return b.second.size() > kFlacBlockLimit; });
    Bytes header = {'f', 'L', 'a', 'C'};
    for (size_t i = 0; i < out.size(); ++i) {
        header.push_back(uint8_t(out[i].first | (i + 1 == out.size() ? 0x80 : 0)));
        putBE(header, out[i].second.size(), 3);
        header.insert(header.end(), out[i].second.begin(), out[i].second.end());
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw AudioError(std::strerror(errno));
    if (header.size() != audioStart) moveTail(fd, audioStart, header.size(), uint64_t(st.st_size));
    chunks::writeAt(fd, 0, header.data(), header.size());
}

} // namespace sonteva
