#pragma once
// A state object on a private settings file, with an executor the test finishes by hand.
#include "model/app_view_model.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

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
    // Lists `count` sources probed from real files, as intake would give them.
    void addSources(int count) {
        for (int i = 0; i < count; ++i) {
            const std::string path =
                dir.file("take" + std::to_string(vm->inputFiles().size()) + ".wav");
            writeFile(path, musicLike(2, 4800, 48000), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
            vm->addInputFile(QUrl::fromLocalFile(QString::fromStdString(path)));
        }
    }
    // Delivers what background threads posted to the owning thread.
    static void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
};

template <typename T> bool is(const ConversionJob& job) {
    return std::holds_alternative<T>(job.status);
}

} // namespace sonteva::test
