#pragma once
// The engine reports the window has measured this session, per engine and rate pair, so
// that a report opens at once the second time. Measurements depend only on the build and the
// pair, never on the files, so nothing here goes stale within a session.
#include "analysis/engine_report.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

namespace sonteva {

class EngineReportCache {
public:
    static EngineReportCache& instance();
    std::shared_ptr<const analysis::EngineReport> find(const std::string& engine, int64_t fsIn,
                                                       int64_t fsOut) const;
    // Keeps a report under its engine and pair; a failed measurement is not kept.
    void store(std::shared_ptr<const analysis::EngineReport> report);
    void clear();

private:
    using Key = std::tuple<std::string, int64_t, int64_t>;
    mutable std::mutex mutex_;
    std::map<Key, std::shared_ptr<const analysis::EngineReport>> reports_;
};

} // namespace sonteva
