#include "ui/engine_report_cache.h"

namespace sonteva {

EngineReportCache& EngineReportCache::instance() {
    static EngineReportCache cache;
    return cache;
}

std::shared_ptr<const analysis::EngineReport>
EngineReportCache::find(const std::string& engine, int64_t fsIn, int64_t fsOut) const {
    std::lock_guard lock(mutex_);
    const auto found = reports_.find({engine, fsIn, fsOut});
    return found == reports_.end() ? nullptr : found->second;
}

void EngineReportCache::store(std::shared_ptr<const analysis::EngineReport> report) {
    if (!report || !report->error.empty()) return;
    std::lock_guard lock(mutex_);
    reports_[{report->engine, report->fsIn, report->fsOut}] = std::move(report);
}

void EngineReportCache::clear() {
    std::lock_guard lock(mutex_);
    reports_.clear();
}

} // namespace sonteva
