// The broadcast chunks of a new deliverable: bext (EBU Tech 3285) and iXML, both of which
// restate the rate, the word length and the time of the first frame.
#include "audio_io/chunk_file.h"
#include "audio_io/metadata_carry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace sonteva::carry {

namespace {

using Bytes = std::vector<uint8_t>;

// bext offsets.
constexpr size_t kReference = 338, kVersion = 346, kUmid = 348, kLoudness = 412, kHistory = 602;

// position · fsOut / fsIn + shift, rounded to the nearest frame (halves away from zero).
int64_t shifted(int64_t position, const CarryTarget& t, double shift) {
    if (!std::isfinite(shift)) shift = 0;
    if (shift == 0) return rescalePosition(position, t.fsIn, t.fsOut);
    const bool rescaled = t.fsIn > 0 && t.fsIn != t.fsOut;
    const __int128 in = rescaled ? t.fsIn : 1;
    const __int128 scaled = static_cast<__int128>(position) * (rescaled ? t.fsOut : 1);
    __int128 whole = scaled / in, part = scaled % in;
    if (part < 0) part += in, --whole;
    const double rest = std::clamp(double(part) / double(in) + shift, -0x1p62, 0x1p62);
    const __int128 result = whole + std::llround(rest);
    return int64_t(std::clamp<__int128>(result, std::numeric_limits<int64_t>::min(),
                                        std::numeric_limits<int64_t>::max()));
}

int deliveredBits(const CarryTarget& t) {
    if (t.format == AudioFormat::flac) return t.bitDepth == BitDepth::int16 ? 16 : 24;
    return bitsOf(t.bitDepth);
}

std::string codingHistoryLine(const CarryTarget& t) {
    const bool isFloat = t.bitDepth == BitDepth::float32 || t.bitDepth == BitDepth::float64;
    const std::string mode = t.channels == 1   ? "mono"
                             : t.channels == 2 ? "stereo"
                                               : std::to_string(t.channels) + "-channel";
    std::string text = "Sonteva;" + t.algorithm + ";dither " + t.dither;
    if (isFloat && t.format != AudioFormat::flac) text += ";float";
    return "A=PCM,F=" + std::to_string(t.fsOut) + ",W=" + std::to_string(deliveredBits(t)) +
           ",M=" + mode + ",T=" + text + "\r\n";
}

void putLE(uint8_t* at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = uint8_t(v >> (8 * i));
}

// A converted file is a new instance of the same material (SMPTE 330M): the material number
// stays, so that the deliverable still leads back to its master, and the instance number
// changes, so that no two different files share one UMID. The number is derived from the
// source's UMID and the conversion (the same job gives the same file, byte for byte) and is
// marked as made by a 24-bit pseudo-random generator (method 1). The source pack of an
// extended UMID, which says when and where the material was made, stays as it was.
void newInstance(uint8_t* umid, const CarryTarget& t) {
    static constexpr uint8_t kLabel[] = {0x06, 0x0A, 0x2B, 0x34};
    if (!std::equal(kLabel, kLabel + 4, umid)) return; // no UMID, or none of SMPTE's
    if (umid[12] != 0x13 && umid[12] != 0x33) return;  // neither basic nor extended
    uint64_t hash = 0xCBF29CE484222325ull;             // FNV-1a
    const auto mix = [&](const void* data, size_t n) {
        for (size_t i = 0; i < n; ++i)
            hash = (hash ^ static_cast<const uint8_t*>(data)[i]) * 0x100000001B3ull;
    };
    mix(umid, 64);
    const int64_t numbers[] = {t.fsIn, t.fsOut, int64_t(t.format), int64_t(t.bitDepth),
                               std::llround(std::isfinite(t.offset) ? t.offset * 1024 : 0)};
    mix(numbers, sizeof numbers);
    mix(t.algorithm.data(), t.algorithm.size());
    mix(t.dither.data(), t.dither.size());
    const uint32_t old = uint32_t(umid[13]) << 16 | uint32_t(umid[14]) << 8 | umid[15];
    uint32_t number = uint32_t(hash ^ (hash >> 24) ^ (hash >> 48)) & 0xFFFFFF;
    if (number == 0 || number == old) number = old % 0xFFFFFF + 1; // 0 is the first instance
    umid[11] = uint8_t((umid[11] & 0xF0) | 0x01);
    umid[13] = uint8_t(number >> 16), umid[14] = uint8_t(number >> 8), umid[15] = uint8_t(number);
}

std::string history(const Bytes& bext) {
    std::string text(bext.begin() + kHistory, bext.end());
    text.erase(text.find_last_not_of('\0') + 1);
    return text;
}

// ---- iXML: elements found by name and their text replaced; the rest stays byte for byte.

struct Range {
    size_t begin, end; // the element's text
};

// The text ranges of the elements called `name`, in order.
std::vector<Range> elements(const std::string& xml, const std::string& name) {
    std::vector<Range> out;
    const std::string open = "<" + name, close = "</" + name + ">";
    // Each search starts past the last find, so that a hostile body costs one pass.
    for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        const size_t after = at + open.size();
        if (after >= xml.size() ||
            (xml[after] != '>' && !std::isspace(static_cast<unsigned char>(xml[after]))))
            continue; // a longer name that begins alike
        const size_t gt = xml.find('>', after);
        if (gt == std::string::npos) break;
        if (xml[gt - 1] == '/') continue; // an empty element
        const size_t end = xml.find(close, gt + 1);
        if (end == std::string::npos) break;
        out.push_back({gt + 1, end});
        at = end;
    }
    return out;
}

// The xml with the text of each range replaced by textFor(range), in one pass.
template <typename TextFor>
void rewrite(std::string& xml, const std::vector<Range>& ranges, TextFor&& textFor) {
    if (ranges.empty()) return;
    std::string out;
    out.reserve(xml.size());
    size_t at = 0;
    for (const Range& r : ranges) {
        out.append(xml, at, r.begin - at);
        out += textFor(r);
        at = r.end;
    }
    out.append(xml, at);
    xml = std::move(out);
}

std::optional<uint64_t> number(const std::string& xml, const Range& r) {
    size_t b = r.begin, e = r.end;
    while (b < e && std::isspace(static_cast<unsigned char>(xml[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(xml[e - 1])))
        --e;
    uint64_t v = 0;
    const auto [end, error] = std::from_chars(xml.data() + b, xml.data() + e, v);
    if (error != std::errc() || end != xml.data() + e || b == e) return std::nullopt;
    return v;
}

std::optional<uint64_t> firstNumber(const std::string& xml, const std::string& name) {
    const auto found = elements(xml, name);
    return found.empty() ? std::nullopt : number(xml, found.front());
}

// Sets the text of every element called `name`.
void setText(std::string& xml, const std::string& name, const std::string& text) {
    rewrite(xml, elements(xml, name), [&](const Range&) { return text; });
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return out;
}

// A 64-bit count stored as two decimal 32-bit halves (iXML's *_LOW/*_HIGH, *_LO/*_HI).
std::optional<uint64_t> pair(const std::string& xml, const std::string& low,
                             const std::string& high) {
    const auto lo = firstNumber(xml, low);
    if (!lo) return std::nullopt;
    return (firstNumber(xml, high).value_or(0) << 32) | (*lo & 0xFFFFFFFFu);
}

void setPair(std::string& xml, const std::string& low, const std::string& high, uint64_t value) {
    setText(xml, high, std::to_string(value >> 32));
    setText(xml, low, std::to_string(value & 0xFFFFFFFFu));
}

// Sync points are positions in the file: they move with the sound.
void placeSyncPoints(std::string& xml, const CarryTarget& t, Losses& lost) {
    size_t early = 0;
    rewrite(xml, elements(xml, "SYNC_POINT"), [&](const Range& r) {
        std::string inner = xml.substr(r.begin, r.end - r.begin);
        if (const auto stored = pair(inner, "SYNC_POINT_LOW", "SYNC_POINT_HIGH")) {
            const int64_t at = placed(int64_t(std::min<uint64_t>(*stored, INT64_MAX)), t);
            early += at < 0;
            setPair(inner, "SYNC_POINT_LOW", "SYNC_POINT_HIGH", uint64_t(std::max<int64_t>(at, 0)));
        }
        if (const auto length = firstNumber(inner, "SYNC_POINT_EVENT_DURATION"))
            setText(inner, "SYNC_POINT_EVENT_DURATION",
                    std::to_string(rescalePosition(int64_t(std::min<uint64_t>(*length, INT64_MAX)),
                                                   t.fsIn, t.fsOut)));
        return inner;
    });
    if (early > 0)
        lost.push_back("the places of " + grouped(early) +
                       " iXML sync points before the first frame (0 is written)");
}

// The time of the first frame, twice: as bext states it, and as samples since midnight at
// a rate of its own. Both are restated at the delivered rate (rather than keeping the
// timestamp's own rate), so that every time the file states speaks one rate and all of
// them honour the offset.
void placeTimes(std::string& xml, const CarryTarget& t, const Bytes& bext, Losses& lost) {
    std::optional<int64_t> reference;
    if (!bext.empty())
        reference = int64_t(chunks::getLE(&bext[kReference], 8));
    else if (const auto own = pair(xml, "BWF_TIME_REFERENCE_LOW", "BWF_TIME_REFERENCE_HIGH"))
        reference = placedReference(int64_t(std::min<uint64_t>(*own, INT64_MAX)), t);
    if (reference)
        setPair(xml, "BWF_TIME_REFERENCE_LOW", "BWF_TIME_REFERENCE_HIGH",
                uint64_t(std::max<int64_t>(*reference, 0)));
    const auto stamp =
        pair(xml, "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI");
    if (!stamp) return;
    CarryTarget own = t;
    own.fsIn = int64_t(firstNumber(xml, "TIMESTAMP_SAMPLE_RATE").value_or(uint64_t(t.fsIn)));
    if (own.fsIn <= 0 || own.fsIn > (int64_t{1} << 40)) {
        lost.push_back("iXML TIMESTAMP_SAMPLES_SINCE_MIDNIGHT (its TIMESTAMP_SAMPLE_RATE is no "
                       "rate; left as it was)");
        return;
    }
    const int64_t at = placedReference(int64_t(std::min<uint64_t>(*stamp, INT64_MAX)), own);
    setPair(xml, "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI",
            uint64_t(std::max<int64_t>(at, 0)));
    setText(xml, "TIMESTAMP_SAMPLE_RATE", std::to_string(t.fsOut));
}

// iXML's copy of the bext fields this conversion changed.
void mirrorBext(std::string& xml, const Bytes& bext) {
    if (bext.empty()) return;
    setText(xml, "BWF_VERSION", std::to_string(chunks::getLE(&bext[kVersion], 2)));
    setText(xml, "BWF_CODING_HISTORY", escaped(history(bext)));
    const uint8_t* umid = &bext[kUmid];
    if (std::all_of(umid, umid + 64, [](uint8_t b) { return b == 0; })) return;
    std::string hex;
    char digits[3];
    for (size_t i = 0; i < (umid[12] == 0x33 ? 64u : 32u); ++i) {
        std::snprintf(digits, sizeof digits, "%02X", umid[i]);
        hex += digits;
    }
    setText(xml, "BWF_UMID", hex);
}

} // namespace

int64_t placed(int64_t position, const CarryTarget& t) {
    return shifted(position, t, t.offset);
}

int64_t placedReference(int64_t reference, const CarryTarget& t) {
    return shifted(reference, t, -t.offset);
}

std::string grouped(uint64_t n) {
    const std::string digits = std::to_string(n);
    if (digits.size() < 5) return digits; // 4-digit numbers stay whole
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
        out += digits[i];
    }
    return out;
}

Bytes carriedBext(const Bytes& source, const CarryTarget& t, Losses& lost) {
    Bytes b = source;
    const uint64_t stored = chunks::getLE(&b[kReference], 8);
    const int64_t reference = placedReference(int64_t(std::min<uint64_t>(stored, INT64_MAX)), t);
    if (reference < 0)
        lost.push_back("the bext time reference " + grouped(stored) +
                       " (the delay moves the first frame before midnight; 0 is written)");
    putLE(&b[kReference], uint64_t(std::max<int64_t>(reference, 0)), 8);
    // Older versions become version 2, so that the measured loudness has its fields; the
    // UMID field was reserved before version 1.
    const uint64_t version = chunks::getLE(&b[kVersion], 2);
    if (version == 0) std::fill(b.begin() + kUmid, b.begin() + kLoudness, uint8_t{0});
    if (version < 2) putLE(&b[kVersion], 2, 2);
    std::fill(b.begin() + kLoudness, b.begin() + kHistory, uint8_t{0});
    for (size_t at = kLoudness; at < kLoudness + 10; at += 2)
        putLE(&b[at], 0x7FFF, 2); // "not calculated" until the writer has the measurement
    newInstance(&b[kUmid], t);
    std::string text = history(b);
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    text += codingHistoryLine(t);
    b.resize(kHistory);
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

Bytes carriedIxml(const Bytes& source, const CarryTarget& t, const Bytes& bext, Losses& lost) {
    std::string xml(source.begin(), source.end());
    setText(xml, "FILE_SAMPLE_RATE", std::to_string(t.fsOut));
    setText(xml, "AUDIO_BIT_DEPTH", std::to_string(deliveredBits(t)));
    placeTimes(xml, t, bext, lost);
    placeSyncPoints(xml, t, lost);
    mirrorBext(xml, bext);
    return Bytes(xml.begin(), xml.end());
}

} // namespace sonteva::carry
