#pragma once
// A state object on a private settings file, with an executor the test finishes by hand.
#include "model/app_view_model.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QSettings>

#include <functional>
#include <memory>
#include <vector>

namespace sonteva::test {

class ManualExecutor : public JobExecutor {
public:
    struct Started {
        ConversionJob job;
        std::function<void(double)> progress;
        std::function<void(const JobOutcome&)> finished;
    };
    void start(const ConversionJob& job, std::function<void(double)> progress,
               std::function<void(const JobOutcome&)> finished) override {
        started.push_back({job, std::move(progress), std::move(finished)});
    }
    void stop(const QUuid& jobId) override { stopped.push_back(jobId); }
    std::vector<Started> started;
    std::vector<QUuid> stopped;
};

struct ModelFixture {
    TempDir dir;
    std::unique_ptr<QSettings> settings = std::make_unique<QSettings>(
        QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat);
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::unique_ptr<AppViewModel> vm;

    // A fresh state object, as at a new start of the application.
    AppViewModel& start() {
        vm.reset();
        settings->sync();
        vm = std::make_unique<AppViewModel>(executor, settings.get());
        return *vm;
    }
    // Delivers what background threads posted to the owning thread.
    static void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
};

} // namespace sonteva::test
