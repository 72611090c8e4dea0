#include "cli/cli_options.h"

#include "model/app_view_model.h"
#include "model/recipe.h"

#include <algorithm>
#include <functional>
#include <thread>

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

// Walks "--name value", "--name=value" and "-n value" options; `take` handles one option
// (returning false when it does not know it), everything else is positional.
void walkOptions(const QStringList& args, QStringList& positional,
                 const std::function<bool(const QString&, const std::function<QString()>&)>& take) {
    bool onlyPositional = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (onlyPositional || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            onlyPositional = true;
            continue;
        }
        const qsizetype eq =
            arg.startsWith(QLatin1String("--")) ? arg.indexOf(QLatin1Char('=')) : -1;
        const QString name = eq > 0 ? arg.left(eq) : arg;
        bool usedValue = false;
        auto value = [&]() -> QString {
            usedValue = true;
            if (eq > 0) return arg.mid(eq + 1);
            if (i + 1 >= args.size())
                throw UsageError(QStringLiteral("option %1 needs a value").arg(name).toStdString());
            return args[++i];
        };
        if (!take(name, value) || (eq > 0 && !usedValue))
            throw UsageError(QStringLiteral("unknown option %1").arg(arg).toStdString());
    }
}

bool takeRecipe(RecipeOptions& r, const QString& name, const std::function<QString()>& value) {
    auto is = [&](const char* s, const char* l) {
        return name == QLatin1String(s) || name == QLatin1String(l);
    };
    if (is("-p", "--preset"))
        r.preset = value();
    else if (is("-r", "--rate"))
        r.rate = parseRate(value());
    else if (is("-b", "--bits"))
        r.bits = parseBits(value());
    else if (is("-a", "--algorithm"))
        r.algorithm = parseAlgorithm(value());
    else if (is("-d", "--dither"))
        r.dither = parseDither(value());
    else if (is("-f", "--format"))
        r.format = parseFormat(value());
    else
        return false;
    return true;
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

int defaultJobs() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMostParallelJobs);
}

int parseJobs(const QString& text) {
    bool ok = false;
    const int jobs = text.toInt(&ok);
    if (ok && jobs >= 1 && jobs <= kMostParallelJobs) return jobs;
    reject(QStringLiteral("number of jobs"), text,
           QStringLiteral("a whole number from 1 to %1").arg(kMostParallelJobs));
}

ConvertOptions parseConvert(const QStringList& args) {
    ConvertOptions o;
    walkOptions(args, o.files, [&](const QString& name, const std::function<QString()>& value) {
        if (takeRecipe(o.recipe, name, value)) return true;
        if (name == QLatin1String("--postfix"))
            o.postfix = value();
        else if (name == QLatin1String("-o") || name == QLatin1String("--output-dir"))
            o.outputDir = value();
        else if (name == QLatin1String("--json"))
            o.json = true;
        else if (name == QLatin1String("-q") || name == QLatin1String("--quiet"))
            o.quiet = true;
        else if (name == QLatin1String("--strict"))
            o.strict = true;
        else if (name == QLatin1String("--compensate-delay"))
            o.compensateDelay = true;
        else if (name == QLatin1String("--jobs"))
            o.jobs = parseJobs(value());
        else
            return false;
        return true;
    });
    if (o.files.isEmpty()) throw UsageError("no input files given");
    return o;
}

RecipeOptions parseRecipe(const QStringList& args, QStringList& rest) {
    RecipeOptions r;
    walkOptions(args, rest, [&](const QString& name, const std::function<QString()>& value) {
        return takeRecipe(r, name, value);
    });
    return r;
}

QString usageText() {
    return QStringLiteral(
        "Usage:\n"
        "  sonteva convert [options] FILE...   render one job per file, in order\n"
        "  sonteva info FILE...                rate / word length / channels / duration\n"
        "  sonteva presets list [recipe]       built-in and user presets; * marks the match\n"
        "  sonteva presets save NAME [recipe]  store a recipe as a user preset\n"
        "  sonteva presets delete NAME         remove user presets of that name\n"
        "  sonteva engines                     which engines run, and what stands in\n"
        "  sonteva devices                     output devices, their rates, switchability\n"
        "  sonteva play [recipe] [--start S] [--match-rate] FILE\n"
        "                                      audition one job (space pauses, arrows seek\n"
        "                                      5 s, q or Ctrl-C quits); --match-rate runs\n"
        "                                      the device at the job's rate where it can\n"
        "  sonteva demo [DIR]                  write a demo master and render it\n"
        "\n"
        "Recipe (defaults: 44.1 kHz, 16-bit, \"Sonteva SRC\", \"TPDF\", WAV):\n"
        "  -p, --preset NAME        start from a built-in or user preset\n"
        "  -r, --rate HZ            44100 48000 88200 96000 176400 192000 352800 384000\n"
        "  -b, --bits DEPTH         16 24 32 32f 64f\n"
        "  -a, --algorithm NAME     \"Sonteva SRC\" \"Zavir Iravizeza\" \"SoX VHQ\"\n"
        "                           \"r8brain Free\" \"SSRC Shibata\"\n"
        "  -d, --dither NAME        \"None\" \"TPDF\" \"Noise Shaping Low\"\n"
        "                           \"Noise Shaping Medium\" \"Noise Shaping High\"\n"
        "  -f, --format FORMAT      wav aiff flac\n"
        "Convert only:\n"
        "      --postfix TEXT       name postfix (default: generated from the recipe,\n"
        "                           e.g. _44k_16b_Sonteva_TPDF)\n"
        "  -o, --output-dir DIR     write outputs there (default: next to each source)\n"
        "      --json               one JSON object per finished job on standard output\n"
        "  -q, --quiet              print failures only\n"
        "      --strict             fail a job rather than substitute anything (an engine,\n"
        "                           a dither, a word length) for what the recipe asks\n"
        "      --compensate-delay   trim the engines' filter delay: every output holds\n"
        "                           round(n * out / in) frames, the sound where it was\n"
        "      --jobs N             render N files at once (default: one per core); the\n"
        "                           outputs are the same whatever N\n"
        "\n"
        "Exit status: 0 when every job is done, 1 when any failed, 2 on a usage error.\n");
}

} // namespace sonteva::cli
