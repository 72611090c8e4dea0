#include "model/recipe.h"

#include "engines/engine_table.h"

namespace sonteva {

QStringList qualityOptions() {
    QStringList names;
    for (const EngineInfo& engine : engineTable())
        names << toQString(engine.name);
    return names;
}

QStringList ditherOptions() {
    return {QStringLiteral("None"), QStringLiteral("TPDF"), QStringLiteral("Noise Shaping Low"),
            QStringLiteral("Noise Shaping Medium"), QStringLiteral("Noise Shaping High")};
}

bool isNoiseShaping(const QString& dither) {
    return dither == QLatin1String("Noise Shaping Low") ||
           dither == QLatin1String("Noise Shaping Medium") ||
           dither == QLatin1String("Noise Shaping High");
}

std::vector<int> targetFsOptions() {
    return {44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};
}

std::vector<AudioFormat> formatOptions() {
    return {AudioFormat::wav, AudioFormat::aiff, AudioFormat::flac};
}

std::vector<BitDepth> bitDepthOptions() {
    return {BitDepth::int16, BitDepth::int24, BitDepth::int32, BitDepth::float32,
            BitDepth::float64};
}

QString menuLabel(AudioFormat format) {
    switch (format) {
    case AudioFormat::wav:
        return QStringLiteral("WAV");
    case AudioFormat::aiff:
        return QStringLiteral("AIFF");
    case AudioFormat::flac:
        return QStringLiteral("FLAC");
    }
    return {};
}

QString menuLabel(BitDepth depth) {
    switch (depth) {
    case BitDepth::int16:
        return QStringLiteral("16-bit");
    case BitDepth::int24:
        return QStringLiteral("24-bit");
    case BitDepth::int32:
        return QStringLiteral("32-bit");
    case BitDepth::float32:
        return QStringLiteral("32-bit FP");
    case BitDepth::float64:
        return QStringLiteral("64-bit FP");
    }
    return {};
}

QString rateLabel(int rate) {
    if (rate % 1000 == 0) return QString::number(rate / 1000) + QStringLiteral(" kHz");
    return QString::asprintf("%.1f kHz", rate / 1000.0);
}

QString sourceCaption(const InputFile& file) {
    const int khz = static_cast<int>(file.sampleRate / 1000.0);
    const int64_t seconds =
        file.sampleRate > 0 ? static_cast<int64_t>(double(file.totalFrames) / file.sampleRate) : 0;
    const QString duration = QString::asprintf("%lld:%02lld", static_cast<long long>(seconds / 60),
                                               static_cast<long long>(seconds % 60));
    return QStringLiteral("%1k / %2 / %3 / %4")
        .arg(khz)
        .arg(file.bitDepth)
        .arg(file.channels == 2 ? QStringLiteral("St") : QStringLiteral("Mo"))
        .arg(duration);
}

QUrl ConversionJob::outputUrl() const {
    // On the path's text alone: a name whose bytes are not UTF-8 keeps them (see
    // file_names.h), which QFileInfo's own decoding would not.
    const QString source = inputFile.url.toLocalFile();
    const qsizetype slash = source.lastIndexOf(QLatin1Char('/'));
    const QString folder =
        outputFolder ? outputFolder->toLocalFile() : source.left(std::max<qsizetype>(slash, 1));
    // Only the last extension goes: mix.final.wav contributes mix.final.
    const QString name = source.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString file =
        stem + postfix + QLatin1Char('.') + QString::fromStdString(rawValue(format));
    return QUrl::fromLocalFile(
        folder.endsWith(QLatin1Char('/')) ? folder + file : folder + QLatin1Char('/') + file);
}

} // namespace sonteva
