#pragma once
// Internal to the state object: how reports of the job's thread reach the owning thread.
#include "model/app_view_model.h"

#include <QMetaObject>

#include <mutex>
#include <utility>

namespace sonteva {

// Reports from the job's thread wait here until the owning thread takes them. The hand-
// over goes through this mutex (visible to thread checkers) and a queued call without
// captured state; once the state object is gone, the mailbox is closed and reports are
// dropped.
class AppViewModel::ReportMailbox {
public:
    struct Report {
        uint64_t run; // the render it comes from (AppViewModel::Running::run)
        QUuid job;
        std::optional<double> progress; // a progress report, or else the outcome
        JobOutcome outcome;
    };
    explicit ReportMailbox(AppViewModel* owner) : owner_(owner) {}
    void post(Report report) {
        std::lock_guard lock(mutex_);
        if (!owner_) return;
        reports_.push_back(std::move(report));
        QMetaObject::invokeMethod(owner_, "drainReports", Qt::QueuedConnection);
    }
    std::vector<Report> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(reports_, {});
    }
    void close() {
        std::lock_guard lock(mutex_);
        owner_ = nullptr;
        reports_.clear();
    }

private:
    std::mutex mutex_;
    AppViewModel* owner_;
    std::vector<Report> reports_;
};

} // namespace sonteva
