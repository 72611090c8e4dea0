#pragma once
// What a job will deliver, decided from its recipe and its source before any audio moves,
// and the notes it collects on the way: every substitution (what ran differs from what the
// recipe asked) and every other fact the user should know about the deliverable.
#include "model/job_executor.h"
#include "model/recipe.h"

#include <QStringList>

#include <cstdint>
#include <stdexcept>

namespace sonteva {

// A substitution a strict job refuses; the job fails with this text.
class SubstitutionRefused : public std::runtime_error {
public:
    explicit SubstitutionRefused(const QString& substitution);
};

class JobNotes {
public:
    explicit JobNotes(bool strict) : strict_(strict) {}
    // Records a substitution (logged, like every note, to the system log with the source's
    // name); throws
    // SubstitutionRefused instead when the job is strict. Call it before anything is
    // written, so a refused job leaves nothing behind.
    void substitute(const QString& text);
    void inform(const QString& text);
    void inform(const std::vector<std::string>& texts);
    // Substitutions first, then the rest, each once.
    QStringList all() const { return substitutions_ + others_; }
    bool substituted() const { return !substitutions_.isEmpty(); }
    void setSource(const QString& name) { source_ = name; }

private:
    bool strict_;
    QString source_;
    QStringList substitutions_;
    QStringList others_;
};

// What is known of a source before it is read.
struct SourceFacts {
    int64_t fsIn = 0;
    int channels = 0;
    int64_t frames = 0;
    int integerBits = 0; // the grid its samples lie on, 0 for float or unknown
};

enum class DitherKind { none, tpdf, shaped };

struct JobPlan {
    SourceFacts source;
    // The word length the file will hold (FLAC holds at most 24-bit integers).
    BitDepth stored = BitDepth::int16;
    // The dither the recipe's choice comes to for this source and word length. A shaped
    // dither may still fall back to TPDF when the external shaper cannot deliver.
    DitherKind dither = DitherKind::none;
    bool wholeFile = false; // the route that sees the whole signal at once
    // The output frames the job owes when delay compensation is on: round(n * out / in).
    int64_t exactFrames = 0;
};

// Decides the plan and records the substitutions it implies (throws SubstitutionRefused
// for a strict job).
JobPlan planJob(const ConversionJob& job, const SourceFacts& source, JobNotes& notes);

// round(frames * out / in), halves away from zero, in exact integer arithmetic.
int64_t exactOutputFrames(int64_t frames, int64_t fsIn, int64_t fsOut);

// The name a dither is reported under ("None", "TPDF" or the shaper's name).
QString ditherName(DitherKind kind, const ConversionJob& job);

} // namespace sonteva
