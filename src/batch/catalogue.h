#pragma once
// A catalogue: the jobs of a whole delivery, one per manifest line, and the slice of them
// one task of a cluster array renders. Each job depends only on its source and its recipe,
// so any number of tasks on any machines can share the list without talking to each other:
// they only need to agree on the order, which is derived from the jobs themselves.
//
// A manifest line is a source path, then optionally a tab and recipe settings separated by
// spaces or tabs, each `key=value` (a value with spaces in double quotes, \" and \\ escaped
// inside them):
//
//     masters/Side A/01 Intro.wav<TAB>rate=48000 bits=24 preset="Hi Res" out=/deliver/48k
//
// Blank lines and lines whose first non-blank character is `#` are ignored, and so is the
// rest of a line from a `#` that starts a word among the settings. The source is
// everything before the first tab, without surrounding blanks.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace sonteva {

struct CatalogueEntry {
    int line = 0;   // 1-based line in the manifest; 0 for a file named on the command line
    QString source; // as written
    // Lower-case keys (aliases resolved) and the values as written, in line order.
    std::vector<std::pair<QString, QString>> settings;

    const QString* setting(const QString& key) const;
};

struct ManifestProblem {
    int line = 0;
    QString text;
};

// The keys a line may set, in the order the usage text lists them.
const QStringList& manifestKeys();

// Every well-formed line's entry; every malformed line adds a problem (the entries of a
// manifest with problems must not run). Values are checked by the caller, which knows
// the recipe's vocabulary.
std::vector<CatalogueEntry> parseManifest(const QByteArray& text,
                                          std::vector<ManifestProblem>& problems);

struct Shard {
    int index = 0; // K, from 0
    int count = 1; // N
    QString text() const { return QStringLiteral("%1/%2").arg(index).arg(count); }
};

// "K/N" with 0 <= K < N. Nothing, and the reason in `why`, for anything else.
std::optional<Shard> parseShard(const QString& text, QString& why);

// The positions in `entries` of the distinct jobs, in the order shards deal them out: by
// their source as written (UTF-8 bytes), then by their settings (sorted by key), then by
// their line. A line that repeats another's source and settings is the same job and is
// left out (the first line stands for it). The order does not depend on the order of the
// lines (nor on the order a file system lists a folder in), nor on the machine or its
// locale.
std::vector<size_t> jobOrder(const std::vector<CatalogueEntry>& entries);

// The positions of the jobs of shard K/N, in the order they run: job i of jobOrder()
// belongs to shard i mod N, so N tasks with K = 0 ... N-1 cover every job exactly once and
// shards differ in size by one job at most.
std::vector<size_t> shardOf(const std::vector<CatalogueEntry>& entries, Shard shard);

} // namespace sonteva
