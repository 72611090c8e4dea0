#include "cli/source_facts.h"

#include "audio_io/audio_io.h"
#include "audio_io/id3_tags.h"

#include <QRegularExpression>

#include <cmath>
#include <span>

namespace sonteva::cli {

namespace {

using Bytes = std::vector<uint8_t>;

// bext (EBU Tech 3285) offsets and sizes.
constexpr size_t kOriginator = 256, kReference = 288, kDate = 320, kTime = 330,
                 kTimeReference = 338, kVersion = 346, kLoudness = 412, kHistory = 602;

uint64_t littleEndian(const Bytes& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int k = bytes - 1; k >= 0; --k)
        v = (v << 8) | b[at + static_cast<size_t>(k)];
    return v;
}

// A fixed-size text field: up to its first NUL; UTF-8 when it is, else Latin-1 (the
// standard says ASCII, and writers differ in what they put beyond it).
QString field(const Bytes& b, size_t at, size_t size) {
    if (at >= b.size()) return {};
    size = std::min(size, b.size() - at);
    size_t end = at;
    while (end < at + size && b[end] != 0)
        ++end;
    const QByteArray raw(reinterpret_cast<const char*>(b.data() + at),
                         static_cast<qsizetype>(end - at));
    const QString text = QString::fromUtf8(raw);
    return (text.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(raw) : text).trimmed();
}

std::optional<double> loudnessField(const Bytes& b, size_t at) {
    const auto v = static_cast<int16_t>(littleEndian(b, at, 2));
    if (v == 0x7FFF) return std::nullopt; // "not calculated"
    return v / 100.0;
}

std::optional<BroadcastFacts> broadcast(const Bytes& b) {
    if (b.size() < kVersion + 2) return std::nullopt;
    BroadcastFacts f;
    f.description = field(b, 0, kOriginator);
    f.originator = field(b, kOriginator, 32);
    f.originatorReference = field(b, kReference, 32);
    f.originationDate = field(b, kDate, 10);
    f.originationTime = field(b, kTime, 8);
    f.timeReference = littleEndian(b, kTimeReference, 8);
    f.version = static_cast<int>(littleEndian(b, kVersion, 2));
    if (f.version >= 2 && b.size() >= kLoudness + 10) {
        f.loudness = loudnessField(b, kLoudness);
        f.loudnessRange = loudnessField(b, kLoudness + 2);
        f.maxTruePeak = loudnessField(b, kLoudness + 4);
        f.maxMomentary = loudnessField(b, kLoudness + 6);
        f.maxShortTerm = loudnessField(b, kLoudness + 8);
    }
    if (b.size() > kHistory) f.codingHistory = field(b, kHistory, b.size() - kHistory);
    return f;
}

// Two letters, three letters or digits, seven digits; hyphens and spaces aside.
QString isrcCode(QString value) {
    value.remove(QLatin1Char('-')).remove(QLatin1Char(' '));
    static const QRegularExpression code(QStringLiteral("^[A-Za-z]{2}[A-Za-z0-9]{3}[0-9]{7}$"));
    return code.match(value).hasMatch() ? value.toUpper() : QString();
}

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

void collectTags(const Metadata& m, SourceFacts& facts) {
    for (const auto& [key, value] : m.text)
        facts.tags.emplace_back(text(key), text(value));
    for (const auto& [key, value] : readId3(m.id3).properties)
        facts.tags.emplace_back(QStringLiteral("ID3 ") + text(key), text(value));
    // Vorbis ISRC, INFO ISRC (where it holds a code: RIFF also uses it for a source's
    // name), ID3 TSRC; then the cue sheet's tracks.
    for (const auto& [key, value] : facts.tags) {
        const QString k = key.toUpper();
        if (k == QLatin1String("ISRC") || k == QLatin1String("ID3 ISRC"))
            if (const QString code = isrcCode(value); !code.isEmpty() && facts.isrc.isEmpty())
                facts.isrc = code;
    }
    if (facts.isrc.isEmpty() && m.cueSheet)
        for (const CueTrack& track : m.cueSheet->tracks)
            if (facts.isrc.isEmpty()) facts.isrc = isrcCode(text(track.isrc));
}

MeasuredLevels measureLevels(const std::string& path) {
    AudioStreamReader reader(path);
    LevelMeter meter(reader.channels(), reader.sampleRate(), 0);
    ChannelBuffers block;
    while (reader.read(1 << 16, block)) {
        for (int c = 0; c < reader.channels(); ++c)
            meter.channel(c).measure(std::span<const double>(block[static_cast<size_t>(c)]));
        meter.collect();
    }
    return meter.result();
}

} // namespace

SourceFacts gatherFacts(const std::string& path, bool measure) {
    SourceFacts facts;
    {
        const AudioIO probe(path);
        const SourceKind& kind = probe.kind();
        facts.container = text(kind.container);
        facts.codec = text(kind.codec);
        facts.sampleRate = probe.sampleRate();
        facts.integerBits = probe.integerBits();
        facts.floatBits = probe.floatBits();
        facts.channels = probe.channels();
        for (const std::string& speaker : kind.speakers)
            facts.speakers << text(speaker);
        facts.frames = probe.totalFrames();
    }
    const Metadata m = readMetadata(path);
    facts.bext = broadcast(m.bext);
    collectTags(m, facts);
    facts.markers = static_cast<int>(m.markers.size());
    if (measure) facts.levels = measureLevels(path);
    return facts;
}

QString exactRateText(double rate) {
    return QString::number(rate / 1000.0, 'g', 12) + QStringLiteral(" kHz");
}

QString layoutName(const SourceFacts& facts) {
    static const std::pair<const char*, const char*> layouts[] = {
        {"FC", "mono"},
        {"FL FR", "stereo"},
        {"FL FR LFE", "2.1"},
        {"FL FR FC", "3.0"},
        {"FL FR BL BR", "quad"},
        {"FL FR SL SR", "quad (side)"},
        {"FL FR FC BL BR", "5.0"},
        {"FL FR FC SL SR", "5.0 (side)"},
        {"FL FR FC LFE BL BR", "5.1"},
        {"FL FR FC LFE SL SR", "5.1 (side)"},
        {"FL FR FC LFE BL BR SL SR", "7.1"},
        {"FL FR FC LFE BL BR FLC FRC", "7.1 (wide)"},
    };
    if (facts.speakers.isEmpty()) {
        // Without named speakers only the two counts the window names have a layout.
        if (facts.channels == 1) return QStringLiteral("mono");
        if (facts.channels == 2) return QStringLiteral("stereo");
        return {};
    }
    const QString order = facts.speakers.join(QLatin1Char(' '));
    for (const auto& [speakers, name] : layouts)
        if (order == QLatin1String(speakers)) return QLatin1String(name);
    return {};
}

QString clockText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    const auto millis = static_cast<int64_t>(std::llround(seconds * 1000.0));
    const int64_t s = millis / 1000;
    const auto ms = static_cast<int>(millis % 1000);
    if (s >= 3600)
        return QString::asprintf("%lld:%02d:%02d.%03d", static_cast<long long>(s / 3600),
                                 static_cast<int>(s / 60 % 60), static_cast<int>(s % 60), ms);
    return QString::asprintf("%lld:%02d.%03d", static_cast<long long>(s / 60),
                             static_cast<int>(s % 60), ms);
}

QString bitDepthText(const SourceFacts& facts) {
    if (facts.integerBits > 0) return QString::number(facts.integerBits);
    if (facts.floatBits > 0) return QString::number(facts.floatBits) + QLatin1Char('f');
    return {};
}

} // namespace sonteva::cli
