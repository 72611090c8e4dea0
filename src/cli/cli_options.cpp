#include "cli/cli_options.h"

#include "dsp/cores.h"
#include "engines/engine_table.h"
#include "model/app_view_model.h"
#include "model/recipe.h"

#include <algorithm>
#include <cmath>
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

// Lower case without spaces, hyphens or underscores: how names are compared loosely.
QString folded(const QString& text) {
    QString out;
    for (const QChar c : text)
        if (!c.isSpace() && c != QLatin1Char('-') && c != QLatin1Char('_')) out += c.toLower();
    return out;
}

// The rate `text` names in Hz, or 0: an integer in Hz, or a decimal in kHz with a "k".
int64_t rateIn(const QString& text) {
    QString t = text.toLower();
    t.remove(QLatin1Char(' '));
    if (t.endsWith(QLatin1String("hz"))) t.chop(2);
    const bool kilo = t.endsWith(QLatin1Char('k'));
    if (kilo) t.chop(1);
    if (t.isEmpty() || !(t[0].isDigit())) return 0;
    bool ok = false;
    if (!kilo) {
        const qlonglong hz = t.toLongLong(&ok);
        return ok ? hz : 0;
    }
    const double khz = t.toDouble(&ok);
    if (!ok || !std::isfinite(khz) || khz <= 0 || khz > 1e6) return 0;
    // 44.1k is 44100 exactly; 44.12k names no rate.
    const double hz = khz * 1000.0;
    return std::abs(hz - std::round(hz)) < 1e-6 ? static_cast<int64_t>(std::round(hz)) : 0;
}

} // namespace

int parseRate(const QString& text) {
    const int64_t rate = rateIn(text);
    QStringList accepted;
    for (int r : targetFsOptions()) {
        accepted << QString::number(r);
        if (r == rate) return r;
    }
    reject(QStringLiteral("rate"), text,
           accepted.join(QStringLiteral(", ")) +
               QStringLiteral("; in Hz or as 44.1k, 48k, 96 kHz"));
}

BitDepth parseBits(const QString& text) {
    const QString t = folded(text);
    for (BitDepth d : bitDepthOptions()) {
        const QString raw = QString::fromStdString(rawValue(d));
        if (t == raw || t == folded(menuLabel(d)) ||
            (t == raw + QLatin1String("bit") && isInteger(d)) ||
            (!isInteger(d) && t == raw.chopped(1) + QLatin1String("fp")))
            return d;
    }
    reject(QStringLiteral("bit depth"), text, QStringLiteral("16, 24, 32, 32f, 64f"));
}

QString parseAlgorithm(const QString& text) {
    if (const EngineInfo* engine = findEngineLoosely(text.toStdString()))
        return toQString(engine->name);
    reject(QStringLiteral("algorithm"), text, quotedList(qualityOptions()));
}

QString parseDither(const QString& text) {
    for (const QString& dither : ditherOptions())
        if (folded(dither) == folded(text)) return dither;
    reject(QStringLiteral("dither"), text, quotedList(ditherOptions()));
}

AudioFormat parseFormat(const QString& text) {
    QString t = folded(text);
    if (t.startsWith(QLatin1Char('.'))) t.remove(0, 1);
    if (t == QLatin1String("aif")) t = QStringLiteral("aiff");
    if (auto format = audioFormatFromRaw(t.toStdString())) return *format;
    reject(QStringLiteral("format"), text, QStringLiteral("wav, aiff, flac"));
}

bool takeRecipeOption(RecipeOptions& r, const QString& name,
                      const std::function<QString()>& value) {
    if (isOption(name, "-p", "--preset"))
        r.preset = value();
    else if (isOption(name, "-r", "--rate"))
        r.rate = parseRate(value());
    else if (isOption(name, "-b", "--bits"))
        r.bits = parseBits(value());
    else if (isOption(name, "-a", "--algorithm"))
        r.algorithm = parseAlgorithm(value());
    else if (isOption(name, "-d", "--dither"))
        r.dither = parseDither(value());
    else if (isOption(name, "-f", "--format"))
        r.format = parseFormat(value());
    else
        return false;
    return true;
}

int defaultJobs() {
    return std::clamp(usableCores(), 1, kMostParallelJobs);
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
        if (takeRecipeOption(o.recipe, name, value)) return true;
        // Catalogue runs.
        if (takeCatalogueOption(o.catalogue, name, value)) return true;
        if (isOption(name, nullptr, "--postfix"))
            o.postfix = value();
        else if (isOption(name, "-o", "--output-dir"))
            o.outputDir = value();
        else if (isOption(name, nullptr, "--json"))
            o.json = true;
        else if (isOption(name, "-q", "--quiet"))
            o.quiet = true;
        else if (isOption(name, nullptr, "--strict"))
            o.strict = true;
        else if (isOption(name, nullptr, "--compensate-delay"))
            o.compensateDelay = true;
        else if (isOption(name, "-n", "--no-clobber"))
            o.noClobber = true;
        else if (isOption(name, "-j", "--jobs"))
            o.jobs = parseJobs(value());
        else
            return false;
        return true;
    });
    // Catalogue runs: the manifest lists the files.
    if (o.catalogue.manifest && !o.files.isEmpty())
        throw UsageError("give either files or --manifest, not both");
    if (o.files.isEmpty() && !o.catalogue.manifest) throw UsageError("no input files given");
    return o;
}

RecipeOptions parseRecipe(const QStringList& args, QStringList& rest) {
    RecipeOptions r;
    walkOptions(args, rest, [&](const QString& name, const std::function<QString()>& value) {
        return takeRecipeOption(r, name, value);
    });
    return r;
}

} // namespace sonteva::cli
