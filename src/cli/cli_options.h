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
    int jobs = defaultJobs();     // files rendered at once
    QStringList files;
};

// Parses the arguments after "convert". Throws UsageError.
ConvertOptions parseConvert(const QStringList& args);
// Parses recipe options only (for "presets save" and "presets list"); the remaining
// positional arguments are returned in `rest`.
RecipeOptions parseRecipe(const QStringList& args, QStringList& rest);

int parseRate(const QString& text);
BitDepth parseBits(const QString& text);
QString parseAlgorithm(const QString& text);
QString parseDither(const QString& text);
AudioFormat parseFormat(const QString& text);

QString usageText();

} // namespace sonteva::cli
