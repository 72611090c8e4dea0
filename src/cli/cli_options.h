#pragma once
// The options of the sonteva commands, and the values as people type them: rates as
// "48000", "48k" or "44.1 kHz"; word lengths, formats, dithers and engine names in any
// case. Anything else is a usage error whose message lists the accepted values.
#include "audio_io/audio_format.h"
#include "cli/arguments.h"
#include "cli/catalogue_options.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace sonteva::cli {

// The recipe options as given; absent ones keep the state object's value (the initial
// recipe, or the preset's).
struct RecipeOptions {
    std::optional<QString> preset;
    std::optional<int> rate;
    std::optional<BitDepth> bits;
    std::optional<QString> algorithm;
    std::optional<QString> dither;
    std::optional<AudioFormat> format;
};

// The files `convert` renders at once unless told otherwise: one per core.
int defaultJobs();
int parseJobs(const QString& text);

struct ConvertOptions {
    RecipeOptions recipe;
    std::optional<QString> postfix; // absent: the generated stem of the recipe
    std::optional<QString> outputDir;
    bool json = false;
    bool quiet = false;
    bool strict = false;          // fail a job instead of substituting anything
    bool compensateDelay = false; // trim the engines' filter delay
    bool noClobber = false;       // skip a job whose output exists
    int jobs = defaultJobs();     // files rendered at once
    QStringList files;
    // Catalogue runs: --manifest, --shard, --skip-done, --report (catalogue_options.h).
    CatalogueOptions catalogue;
};

// Takes one recipe option (-p -r -b -a -d -f and their long forms) for walkOptions;
// false for any other option.
bool takeRecipeOption(RecipeOptions& recipe, const QString& name,
                      const std::function<QString()>& value);

// Parses the arguments after "convert". Throws UsageError (or HelpRequested).
ConvertOptions parseConvert(const QStringList& args);
// Parses recipe options only; the positional arguments are returned in `rest`.
RecipeOptions parseRecipe(const QStringList& args, QStringList& rest);

// One of the eight target rates in Hz, from "48000", "48k", "48 kHz", "44.1k", "44100 Hz".
int parseRate(const QString& text);
// "16", "24", "32", "32f", "64f" in any case, or as the menus say it ("24-bit", "32-bit FP").
BitDepth parseBits(const QString& text);
// The engine's own name, from any spelling that differs only in case and spaces.
QString parseAlgorithm(const QString& text);
// The dither's own name, ignoring case, spaces and hyphens ("tpdf", "noise-shaping-high").
QString parseDither(const QString& text);
AudioFormat parseFormat(const QString& text); // "wav", "AIFF", "aif", "Flac"

} // namespace sonteva::cli
