// readMetadata: the metadata of a RIFF/RF64, AIFF/AIFC or FLAC source as stored.
#include "audio_io/chunk_file.h"
#include "audio_io/metadata.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>

namespace sonteva {

namespace {

using chunks::getBE;
using chunks::getLE;
using Bytes = std::vector<uint8_t>;

// Larger chunks are left behind (and named) rather than held in memory.
constexpr uint64_t kMaxChunkBytes = uint64_t{64} << 20;

// Chunks that describe the audio as this file stores it; the writer makes its own.
const std::set<std::string> kStructural = {"fmt ", "data", "fact", "PEAK", "ds64", "JUNK", "junk",
                                           "PAD ", "FLLR", "COMM", "SSND", "FVER", "filr"};
// Chunks holding sample positions that are not rescaled here.
const std::set<std::string> kPositional = {"smpl", "cart", "levl", "r64m"};

// Text up to the first NUL, as RIFF and AIFF strings store it.
std::string cString(const uint8_t* p, size_t n) {
    if (n == 0) return {}; // an empty chunk body may have no storage at all
    const auto* end = static_cast<const uint8_t*>(std::memchr(p, 0, n));
    return std::string(reinterpret_cast<const char*>(p), end ? size_t(end - p) : n);
}

class FileCloser {
public:
    explicit FileCloser(int fd) : fd_(fd) {}
    ~FileCloser() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    int fd_;
};

void readInfoList(const Bytes& body, Metadata& m) {
    for (size_t at = 4; at + 8 <= body.size();) {
        const std::string id(reinterpret_cast<const char*>(&body[at]), 4);
        const size_t size = getLE(&body[at + 4], 4);
        if (at + 8 + size > body.size()) {
            m.unreadable.push_back("LIST/INFO (damaged after its first tags)");
            break;
        }
        m.text.emplace_back(id, cString(&body[at + 8], size));
        at += 8 + size + (size & 1);
    }
}

struct AdtlEntry {
    std::optional<std::string> label, note;
    int64_t length = 0;
    std::optional<RegionText> region;
    std::vector<Bytes> files;
};

// One ltxt body after its cue id: length, purpose, country, language, dialect, code
// page, text.
void readLtxt(const uint8_t* p, size_t size, AdtlEntry& e) {
    RegionText region;
    e.length = int64_t(getLE(p, 4));
    if (size >= 8) region.purpose.assign(reinterpret_cast<const char*>(p + 4), 4);
    if (size >= 16) {
        region.country = uint16_t(getLE(p + 8, 2));
        region.language = uint16_t(getLE(p + 10, 2));
        region.dialect = uint16_t(getLE(p + 12, 2));
        region.codePage = uint16_t(getLE(p + 14, 2));
        region.text = cString(p + 16, size - 16);
    }
    e.region = std::move(region);
}

void readAdtlList(const Bytes& body, std::map<uint32_t, AdtlEntry>& adtl, Metadata& m) {
    for (size_t at = 4; at + 12 <= body.size();) {
        const std::string id(reinterpret_cast<const char*>(&body[at]), 4);
        const size_t size = getLE(&body[at + 4], 4);
        if (size < 4 || at + 8 + size > body.size()) {
            m.unreadable.push_back("LIST/adtl (damaged after its first entries)");
            break;
        }
        const uint8_t* p = &body[at + 8];
        const uint32_t cueId = uint32_t(getLE(p, 4));
        AdtlEntry& e = adtl[cueId];
        const std::string of = " of cue point " + std::to_string(cueId);
        const auto text = [&](std::optional<std::string>& into) {
            if (into)
                m.unreadable.push_back("adtl " + id + of + " (a second one)");
            else
                into = cString(p + 4, size - 4);
        };
        if (id == "labl")
            text(e.label);
        else if (id == "note")
            text(e.note);
        else if (id == "ltxt" && size >= 8 && !e.region)
            readLtxt(p + 4, size - 4, e);
        else if (id == "file" && size >= 8)
            e.files.emplace_back(p + 4, p + size);
        else
            m.unreadable.push_back("adtl " + id + of);
        at += 8 + size + (size & 1);
    }
}

// Labels, notes and regions go to the cue points they name; those naming none are left.
void attachAdtl(std::map<uint32_t, AdtlEntry>& adtl, Metadata& m) {
    std::set<uint32_t> used;
    for (Marker& marker : m.markers) {
        const auto e = adtl.find(marker.id);
        if (e == adtl.end()) continue;
        marker.name = e->second.label.value_or("");
        marker.note = e->second.note.value_or("");
        marker.length = e->second.length;
        marker.region = e->second.region;
        marker.files = e->second.files;
        used.insert(marker.id);
    }
    std::erase_if(adtl, [&](const auto& entry) { return used.count(entry.first) > 0; });
    if (adtl.empty()) return;
    std::string ids;
    size_t listed = 0;
    for (const auto& entry : adtl) {
        if (++listed > 8) {
            ids += " …";
            break;
        }
        ids += (ids.empty() ? "" : " ") + std::to_string(entry.first);
    }
    m.unreadable.push_back("adtl entries of " + std::to_string(adtl.size()) +
                           (adtl.size() == 1 ? " cue point" : " cue points") +
                           " that the cue chunk does not have (" +
                           (adtl.size() == 1 ? "id " : "ids ") + ids + ")");
}

void readCue(const Bytes& body, Metadata& m) {
    const size_t count = body.size() >= 4 ? getLE(body.data(), 4) : 0;
    const size_t stored = body.size() >= 4 ? (body.size() - 4) / 24 : 0;
    for (size_t i = 0; i < std::min(count, stored); ++i) {
        const uint8_t* p = &body[4 + 24 * i];
        Marker marker;
        marker.id = uint32_t(getLE(p, 4));
        marker.position = int64_t(getLE(p + 20, 4)); // the sample offset within "data"
        m.markers.push_back(marker);
    }
    if (count > stored)
        m.unreadable.push_back("cue (it announces " + std::to_string(count) +
                               " cue points and holds " + std::to_string(stored) + ")");
}

void readRiffChunk(const std::string& id, Bytes&& body, Metadata& m,
                   std::map<uint32_t, AdtlEntry>& adtl) {
    const bool list = id == "LIST" && body.size() >= 4;
    if (list && std::memcmp(body.data(), "INFO", 4) == 0)
        readInfoList(body, m);
    else if (list && std::memcmp(body.data(), "adtl", 4) == 0)
        readAdtlList(body, adtl, m);
    else if (id == "cue ")
        readCue(body, m);
    else if (id == "bext" && body.size() >= 602)
        m.bext = std::move(body);
    else if (id == "bext")
        m.unreadable.push_back("bext (damaged)");
    else if (id == "id3 " || id == "ID3 ")
        m.id3 = std::move(body);
    else
        m.chunks.push_back({id, std::move(body), kPositional.count(id) > 0});
}

void readMarkChunk(const Bytes& body, Metadata& m) {
    const size_t count = body.size() >= 2 ? getBE(body.data(), 2) : 0;
    size_t at = 2;
    for (size_t i = 0; i < count && at + 7 <= body.size(); ++i) {
        Marker marker;
        marker.id = uint32_t(getBE(&body[at], 2));
        marker.position = int64_t(getBE(&body[at + 2], 4));
        const size_t length = body[at + 6];
        if (at + 7 + length > body.size()) break;
        marker.name.assign(reinterpret_cast<const char*>(&body[at + 7]), length);
        m.markers.push_back(marker);
        at += 7 + length + ((length + 1) & 1); // the count byte and text, padded to even
    }
}

void readAiffChunk(const std::string& id, Bytes&& body, Metadata& m) {
    if (id == "NAME" || id == "AUTH" || id == "(c) " || id == "ANNO")
        m.text.emplace_back(id, cString(body.data(), body.size()));
    else if (id == "MARK")
        readMarkChunk(body, m);
    else if (id == "ID3 " || id == "id3 ")
        m.id3 = std::move(body);
    else
        m.chunks.push_back({id, std::move(body), kPositional.count(id) > 0});
}

Metadata readChunks(int fd, chunks::Layout layout) {
    Metadata m;
    m.origin = layout == chunks::Layout::riff ? Container::riff : Container::aiff;
    std::map<uint32_t, AdtlEntry> adtl;
    for (const auto& c : chunks::walk(fd, layout)) {
        if (kStructural.count(c.id)) continue;
        if (!c.complete || c.size > kMaxChunkBytes) {
            m.unreadable.push_back(c.id + (c.complete ? " (too large)" : " (cut short)"));
            continue;
        }
        Bytes body(c.size);
        if (!chunks::readAt(fd, c.offset + 8, body.data(), body.size())) continue;
        if (layout == chunks::Layout::riff)
            readRiffChunk(c.id, std::move(body), m, adtl);
        else
            readAiffChunk(c.id, std::move(body), m);
    }
    attachAdtl(adtl, m);
    return m;
}

void readVorbisComment(const Bytes& b, Metadata& m) {
    size_t at = 0;
    const auto field = [&](std::string& out) {
        if (at + 4 > b.size()) return false;
        const size_t n = getLE(&b[at], 4);
        if (at + 4 + n > b.size()) return false;
        out.assign(reinterpret_cast<const char*>(&b[at + 4]), n);
        at += 4 + n;
        return true;
    };
    std::string text;
    if (!field(text) || at + 4 > b.size()) return; // the vendor string belongs to the encoder
    const size_t count = getLE(&b[at], 4);
    at += 4;
    for (size_t i = 0; i < count && field(text);) {
        const size_t eq = text.find('=');
        if (eq != std::string::npos) m.text.emplace_back(text.substr(0, eq), text.substr(eq + 1));
        ++i;
    }
}

void readCueSheet(const Bytes& b, Metadata& m) {
    if (b.size() < 396) return;
    FlacCueSheet sheet;
    sheet.catalog = cString(b.data(), 128);
    sheet.leadIn = getBE(&b[128], 8);
    sheet.compactDisc = b[136] & 0x80;
    size_t at = 396;
    for (size_t t = 0, tracks = b[395]; t < tracks && at + 36 <= b.size(); ++t) {
        CueTrack track;
        track.offset = getBE(&b[at], 8);
        track.number = b[at + 8];
        track.isrc = cString(&b[at + 9], 12);
        track.flags = b[at + 21];
        const size_t indices = b[at + 35];
        at += 36;
        for (size_t i = 0; i < indices && at + 12 <= b.size(); ++i, at += 12)
            track.indices.emplace_back(getBE(&b[at], 8), b[at + 8]);
        sheet.tracks.push_back(std::move(track));
    }
    // Every index point is a marker where the other containers are concerned.
    uint32_t id = 0;
    for (const CueTrack& track : sheet.tracks) {
        for (const auto& [offset, number] : track.indices) {
            Marker marker;
            marker.id = ++id;
            marker.position = int64_t(track.offset + offset);
            char name[40];
            std::snprintf(name, sizeof name, number == 1 ? "Track %02u" : "Track %02u index %02u",
                          unsigned(track.number), unsigned(number));
            marker.name = name;
            m.markers.push_back(marker);
        }
    }
    m.cueSheet = std::move(sheet);
}

Metadata readFlac(int fd) {
    Metadata m;
    m.origin = Container::flac;
    uint64_t audioStart = 0;
    for (auto& block : chunks::flacBlocks(fd, audioStart)) {
        if (block.type == 4) readVorbisComment(block.body, m);
        if (block.type == 5) readCueSheet(block.body, m);
        if (block.type == 6) m.pictures.push_back(std::move(block.body));
        if (block.type == 2) m.chunks.push_back({"APPL", std::move(block.body), false});
    }
    return m;
}

} // namespace

bool Metadata::empty() const {
    return bext.empty() && text.empty() && markers.empty() && !cueSheet && id3.empty() &&
           chunks.empty() && pictures.empty() && unreadable.empty();
}

Metadata readMetadata(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    FileCloser closer(fd);
    switch (chunks::layoutOf(fd)) {
    case chunks::Layout::riff:
        return readChunks(fd, chunks::Layout::riff);
    case chunks::Layout::aiff:
        return readChunks(fd, chunks::Layout::aiff);
    case chunks::Layout::flac:
        return readFlac(fd);
    case chunks::Layout::unknown:
        break;
    }
    return {};
}

} // namespace sonteva
