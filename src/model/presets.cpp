#include "model/presets.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace sonteva {

std::vector<GlobalPreset> makeBuiltInPresets() {
    struct Row {
        const char* name;
        int rate;
        BitDepth depth;
        const char* dither;
    };
    const Row rows[] = {{"CD Master", 44100, BitDepth::int16, "TPDF"},
                        {"Hi Res", 96000, BitDepth::int24, "None"},
                        {"Streaming", 48000, BitDepth::int24, "None"},
                        {"Video / DVD", 48000, BitDepth::int16, "TPDF"},
                        {"Blu-ray", 96000, BitDepth::int24, "None"},
                        {"Audiophile", 192000, BitDepth::int24, "None"}};
    std::vector<GlobalPreset> presets;
    for (const Row& r : rows)
        presets.push_back({QUuid::createUuid(), QString::fromUtf8(r.name), r.rate, r.depth,
                           kSontevaSRC, AudioFormat::wav, QString::fromUtf8(r.dither)});
    return presets;
}

QString effectiveDither(const GlobalPreset& preset) {
    if (preset.dither) return *preset.dither;
    return preset.bitDepth == BitDepth::int16 ? QStringLiteral("TPDF") : QStringLiteral("None");
}

std::optional<QString> migrateDither(const std::optional<QString>& dither) {
    if (!dither) return dither;
    if (*dither == QLatin1String("High-Pass") || *dither == QLatin1String("Lipshitz"))
        return QStringLiteral("Noise Shaping Low");
    if (*dither == QLatin1String("Shibata")) return QStringLiteral("Noise Shaping Medium");
    if (*dither == QLatin1String("Gesemann")) return QStringLiteral("Noise Shaping High");
    return dither;
}

QByteArray encodePresets(const std::vector<GlobalPreset>& presets) {
    QJsonArray array;
    for (const GlobalPreset& p : presets) {
        QJsonObject o;
        o[QStringLiteral("id")] = p.id.toString(QUuid::WithoutBraces).toUpper();
        o[QStringLiteral("name")] = p.name;
        o[QStringLiteral("targetFs")] = p.targetFs;
        o[QStringLiteral("bitDepth")] = QString::fromStdString(rawValue(p.bitDepth));
        o[QStringLiteral("quality")] = p.quality;
        o[QStringLiteral("format")] = QString::fromStdString(rawValue(p.format));
        if (p.dither) o[QStringLiteral("dither")] = *p.dither;
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

namespace {

std::optional<GlobalPreset> decodePreset(const QJsonValue& value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    const QJsonValue id = o[QStringLiteral("id")], name = o[QStringLiteral("name")],
                     rate = o[QStringLiteral("targetFs")], depth = o[QStringLiteral("bitDepth")],
                     quality = o[QStringLiteral("quality")], format = o[QStringLiteral("format")],
                     dither = o[QStringLiteral("dither")];
    if (!id.isString() || !name.isString() || !rate.isDouble() || !depth.isString() ||
        !quality.isString() || !format.isString())
        return std::nullopt;
    const QUuid uuid = QUuid::fromString(id.toString());
    const auto bitDepth = bitDepthFromRaw(depth.toString().toStdString());
    const auto audioFormat = audioFormatFromRaw(format.toString().toStdString());
    // A rate is a whole number of hertz that fits the field.
    const double hz = rate.toDouble();
    if (uuid.isNull() || id.toString().size() != 36 || !bitDepth || !audioFormat ||
        hz != std::floor(hz) || std::fabs(hz) > 2147483647.0)
        return std::nullopt;
    if (!dither.isUndefined() && !dither.isNull() && !dither.isString()) return std::nullopt;
    GlobalPreset p{uuid,        name.toString(),    static_cast<int>(hz),
                   *bitDepth,   quality.toString(), *audioFormat,
                   std::nullopt};
    if (dither.isString()) p.dither = dither.toString();
    return p;
}

} // namespace

std::optional<std::vector<GlobalPreset>> decodePresets(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) return std::nullopt;
    std::vector<GlobalPreset> presets;
    for (const QJsonValue& value : doc.array()) {
        auto preset = decodePreset(value);
        if (!preset) return std::nullopt;
        presets.push_back(std::move(*preset));
    }
    return presets;
}

} // namespace sonteva
