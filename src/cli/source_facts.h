#pragma once
// What `sonteva info` tells of a file: everything a delivery check looks at, gathered once
// so that the text and the JSON record say the same.
#include "audio_io/level_meter.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace sonteva::cli {

// The broadcast extension (bext), as stored.
struct BroadcastFacts {
    QString description;
    QString originator;
    QString originatorReference;
    QString originationDate;    // "2024-05-01"
    QString originationTime;    // "10:11:12"
    uint64_t timeReference = 0; // frames since midnight
    int version = 0;
    QString codingHistory;
    // Version 2 loudness fields (LUFS, LU, dBTP); absent when not calculated.
    std::optional<double> loudness, loudnessRange, maxTruePeak, maxMomentary, maxShortTerm;
};

struct SourceFacts {
    QString container;
    QString codec;
    double sampleRate = 0;
    int integerBits = 0; // the word length: integer bits, or float bits, or neither
    int floatBits = 0;
    int channels = 0;
    QStringList speakers; // as the file states them; empty when it does not
    int64_t frames = 0;
    std::optional<BroadcastFacts> bext;
    std::vector<std::pair<QString, QString>> tags; // native key, value
    QString isrc;                                  // the first ISRC code found, or empty
    int markers = 0;
    std::optional<MeasuredLevels> levels;
};

// Reads the file at `path` (the file system's bytes); with `measure`, the whole audio is
// read for its levels. Throws AudioError as a source that cannot be loaded does.
SourceFacts gatherFacts(const std::string& path, bool measure);

// "44.1 kHz", "48 kHz", "22.05 kHz": the rate exactly.
QString exactRateText(double rate);
// "stereo", "5.1", "mono"; empty when the channels are not named and no layout follows
// from their count.
QString layoutName(const SourceFacts& facts);
// "1:02:03.500" or "0:03.000".
QString clockText(double seconds);
// "16", "24", "32f" (as recipes name word lengths), or empty when the file does not say.
QString bitDepthText(const SourceFacts& facts);

} // namespace sonteva::cli
