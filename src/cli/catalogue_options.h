#pragma once
// The options of `sonteva convert` that make it one task of a catalogue run.
#include "batch/catalogue.h"

#include <QString>

#include <functional>
#include <optional>

namespace sonteva::cli {

struct CatalogueOptions {
    std::optional<QString> manifest; // "-": standard input
    std::optional<Shard> shard;
    bool skipDone = false;
    std::optional<QString> report;
    bool active() const { return manifest || shard || skipDone || report; }
};

// Takes --manifest, --shard, --skip-done or --report; false for any other option. Throws
// UsageError for a malformed shard.
bool takeCatalogueOption(CatalogueOptions& o, const QString& name,
                         const std::function<QString()>& value);

} // namespace sonteva::cli
