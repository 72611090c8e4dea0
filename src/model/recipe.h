#pragma once
// The recipe vocabulary and the records that carry it: a source entry, a frozen
// queued job with its status, and a saved preset.
#include "audio_io/audio_format.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace sonteva {

inline QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The default algorithm; every engine's name and traits live in the engine table.
inline const QString kSontevaSRC = QStringLiteral("Sonteva SRC");
// Algorithm names, in menu order.
QStringList qualityOptions();

// Dither choices, in menu order: the two internal kinds, then the three noise shapers
// supplied by the external converter.
QStringList ditherOptions();
bool isNoiseShaping(const QString& dither);

std::vector<int> targetFsOptions(); // 44100 ... 384000
std::vector<AudioFormat> formatOptions();
std::vector<BitDepth> bitDepthOptions();

QString menuLabel(AudioFormat format); // "WAV", "AIFF", "FLAC"
QString menuLabel(BitDepth depth);     // "16-bit" ... "64-bit FP"
QString rateLabel(int rate);           // "48 kHz", "44.1 kHz"

struct InputFile {
    QUuid id;
    QUrl url;
    double sampleRate = 0;
    int channels = 0;
    int64_t totalFrames = 0;
    QString bitDepth; // word-length label of the source ("24", "32f", "16/24 (FLAC)", ...)

    bool operator==(const InputFile&) const = default;
};

// The one-line summary of a source: "96k / 24 / St / 3:05".
QString sourceCaption(const InputFile& file);

struct JobPending {
    bool operator==(const JobPending&) const = default;
};
struct JobProcessing {
    double progress = 0; // 0...1
    double elapsed = 0;  // seconds
    bool operator==(const JobProcessing&) const = default;
};
struct JobDone {
    double elapsed = 0; // the render time
    bool operator==(const JobDone&) const = default;
};
struct JobError {
    QString description;
    bool operator==(const JobError&) const = default;
};
// Not rendered on purpose: its output existed and the job was told not to replace it.
struct JobSkipped {
    QString reason; // "exists: /path/to/output.wav"
    bool operator==(const JobSkipped&) const = default;
};
using JobStatus = std::variant<JobPending, JobProcessing, JobDone, JobError, JobSkipped>;

// A complete copy of the recipe taken when the job was queued; only status changes.
struct ConversionJob {
    QUuid id;
    InputFile inputFile;
    int targetFs = 44100;
    AudioFormat format = AudioFormat::wav;
    BitDepth bitDepth = BitDepth::int16;
    QString quality;
    QString dither;
    std::optional<QUrl> outputFolder; // absent: next to the source
    QString postfix;
    JobStatus status = JobPending{};
    // Frozen with the recipe: refuse any substitution (fail the job instead), and trim the
    // engines' filter delay so the output holds exactly round(n * out / in) frames.
    bool strict = false;
    bool compensateDelay = false;
    // Frozen too: an output that exists when the job starts is kept and the job skipped.
    bool noClobber = false;

    // Folder + source name without its last extension + postfix + "." + format.
    QUrl outputUrl() const;
};

struct GlobalPreset {
    QUuid id;
    QString name;
    int targetFs = 44100;
    BitDepth bitDepth = BitDepth::int16;
    QString quality;
    AudioFormat format = AudioFormat::wav;
    std::optional<QString> dither; // absent: "TPDF" for 16-bit, "None" otherwise

    bool operator==(const GlobalPreset&) const = default;
};

} // namespace sonteva
