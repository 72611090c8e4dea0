#include "cli/cli_options.h"

#include "model/recipe.h"

namespace sonteva::cli {

namespace {

QString quotedList(const QStringList& values) {
    QStringList quoted;
    for (const QString& v : values)
        quoted << QStringLiteral("\"%1\"").arg(v);
    return quoted.join(QStringLiteral(", "));
}

[[noreturn]] void reject(const QString& what, const QString& given, const QString& accepted) {
    throw UsageError(QStringLiteral("unknown %1 \"%2\" (accepted: %3)")
                         .arg(what, given, accepted)
                         .toStdString());
}

// The value of an option: "--rate 48000", "--rate=48000" or "-r 48000".
QString takeValue(const QStringList& args, int& i, const QString& name, const QString& inlineValue,
                  bool hasInline) {
    if (hasInline) return inlineValue;
    if (i + 1 >= args.size())
        throw UsageError(QStringLiteral("option %1 needs a value").arg(name).toStdString());
    return args[++i];
}

} // namespace

int parseRate(const QString& text) {
    bool ok = false;
    const int rate = text.toInt(&ok);
    QStringList accepted;
    for (int r : targetFsOptions()) {
        accepted << QString::number(r);
        if (ok && r == rate) return rate;
    }
    reject(QStringLiteral("rate"), text, accepted.join(QStringLiteral(", ")));
}

BitDepth parseBits(const QString& text) {
    if (auto depth = bitDepthFromRaw(text.toStdString())) return *depth;
    reject(QStringLiteral("bit depth"), text, QStringLiteral("16, 24, 32, 32f, 64f"));
}

QString parseAlgorithm(const QString& text) {
    if (qualityOptions().contains(text)) return text;
    reject(QStringLiteral("algorithm"), text, quotedList(qualityOptions()));
}

QString parseDither(const QString& text) {
    if (ditherOptions().contains(text)) return text;
    reject(QStringLiteral("dither"), text, quotedList(ditherOptions()));
}

AudioFormat parseFormat(const QString& text) {
    if (auto format = audioFormatFromRaw(text.toStdString())) return *format;
    reject(QStringLiteral("format"), text, QStringLiteral("wav, aiff, flac"));
}

ConvertOptions parseConvert(const QStringList& args) {
    ConvertOptions o;
    bool onlyFiles = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (onlyFiles || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            o.files << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            onlyFiles = true;
            continue;
        }
        const qsizetype eq =
            arg.startsWith(QLatin1String("--")) ? arg.indexOf(QLatin1Char('=')) : -1;
        const QString name = eq > 0 ? arg.left(eq) : arg;
        const QString inlineValue = eq > 0 ? arg.mid(eq + 1) : QString();
        auto value = [&] { return takeValue(args, i, name, inlineValue, eq > 0); };
        if (name == QLatin1String("-r") || name == QLatin1String("--rate"))
            o.rate = parseRate(value());
        else if (name == QLatin1String("-b") || name == QLatin1String("--bits"))
            o.bits = parseBits(value());
        else if (name == QLatin1String("-a") || name == QLatin1String("--algorithm"))
            o.algorithm = parseAlgorithm(value());
        else if (name == QLatin1String("-d") || name == QLatin1String("--dither"))
            o.dither = parseDither(value());
        else if (name == QLatin1String("-f") || name == QLatin1String("--format"))
            o.format = parseFormat(value());
        else if (name == QLatin1String("--postfix"))
            o.postfix = value();
        else if (name == QLatin1String("-o") || name == QLatin1String("--output-dir"))
            o.outputDir = value();
        else if (name == QLatin1String("--json") && eq < 0)
            o.json = true;
        else if ((name == QLatin1String("-q") || name == QLatin1String("--quiet")) && eq < 0)
            o.quiet = true;
        else
            throw UsageError(QStringLiteral("unknown option %1").arg(arg).toStdString());
    }
    if (o.files.isEmpty()) throw UsageError("no input files given");
    return o;
}

QString usageText() {
    return QStringLiteral(
        "Usage:\n"
        "  sonteva convert [options] FILE...   render one job per file, in order\n"
        "  sonteva info FILE...                rate / word length / channels / duration\n"
        "  sonteva demo [DIR]                  write a demo master and render it\n"
        "\n"
        "Options of convert (defaults: 44.1 kHz, 16-bit, \"Sonteva SRC\", \"TPDF\", WAV):\n"
        "  -r, --rate HZ            44100 48000 88200 96000 176400 192000 352800 384000\n"
        "  -b, --bits DEPTH         16 24 32 32f 64f\n"
        "  -a, --algorithm NAME     \"Sonteva SRC\" \"Zavir Iravizeza\" \"SoX VHQ\"\n"
        "                           \"r8brain Free\" \"SSRC Shibata\"\n"
        "  -d, --dither NAME        \"None\" \"TPDF\" \"Noise Shaping Low\"\n"
        "                           \"Noise Shaping Medium\" \"Noise Shaping High\"\n"
        "  -f, --format FORMAT      wav aiff flac\n"
        "      --postfix TEXT       name postfix (default: generated from the recipe,\n"
        "                           e.g. _44k_16b_Sonteva_TPDF)\n"
        "  -o, --output-dir DIR     write outputs there (default: next to each source)\n"
        "      --json               one JSON object per finished job on standard output\n"
        "  -q, --quiet              print failures only\n"
        "\n"
        "Exit status: 0 when every job is done, 1 when any failed, 2 on a usage error.\n");
}

} // namespace sonteva::cli
