#pragma once
// Command-line parsing of the sonteva front end. Anything it does not accept is a usage
// error whose message lists the accepted values.
#include "audio_io/audio_format.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

namespace sonteva::cli {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ConvertOptions {
    int rate = 44100;
    BitDepth bits = BitDepth::int16;
    QString algorithm = QStringLiteral("Sonteva SRC");
    QString dither = QStringLiteral("TPDF");
    AudioFormat format = AudioFormat::wav;
    std::optional<QString> postfix; // absent: the generated stem of the recipe
    std::optional<QString> outputDir;
    bool json = false;
    bool quiet = false;
    QStringList files;
};

// Parses the arguments after "convert". Throws UsageError.
ConvertOptions parseConvert(const QStringList& args);

int parseRate(const QString& text);
BitDepth parseBits(const QString& text);
QString parseAlgorithm(const QString& text);
QString parseDither(const QString& text);
AudioFormat parseFormat(const QString& text);

QString usageText();

} // namespace sonteva::cli
