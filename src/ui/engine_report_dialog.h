#pragma once
// Convert > Engine Report…: what every engine does to the recipe's target rate from the rate
// of each listed source, side by side (the recipe's engine highlighted) with the plots of
// the selected one. Measured in the background with progress, cancellable, kept per engine
// and rate pair for the session.
#include "analysis/engine_report.h"

#include <QDialog>
#include <QPointer>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace sonteva {

class AppViewModel;

struct EngineReportRequest {
    int64_t targetFs = 44100;
    std::vector<int64_t> sourceRates; // distinct, in list order; empty: the common rates
    QString recipeEngine;
};
EngineReportRequest engineReportRequest(const AppViewModel& vm);

class EngineReportDialog : public QDialog {
    Q_OBJECT
public:
    explicit EngineReportDialog(EngineReportRequest request, QWidget* parent = nullptr);
    ~EngineReportDialog() override;
    // The window's one report dialog, raised if open, otherwise opened for the recipe.
    static EngineReportDialog* showFor(QWidget* parent, const AppViewModel& vm);

    bool isComputing() const { return worker_.joinable() && !done_; }
    int64_t sourceRate() const;
    void selectSourceRate(int64_t rate);
    void cancel();
    // Reports shown for the current pair, in table order.
    const std::vector<std::shared_ptr<const analysis::EngineReport>>& reports() const {
        return reports_;
    }

Q_SIGNALS:
    void pairComplete(); // every engine of the current pair reported
    void measuringStopped();

private:
    void buildLayout();
    void startPair();
    void stopWorker();
    void measureInBackground(int64_t fsIn, std::vector<std::string> missing, int generation);
    void deliver(std::shared_ptr<const analysis::EngineReport> report, int generation);
    void workerEnded(int generation, bool cancelled);
    void showReports();
    void showPlots(int row);
    void setProgress(double fraction, int generation);

    EngineReportRequest request_;
    QComboBox* source_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* notes_ = nullptr;
    QLabel* plots_ = nullptr;
    std::vector<std::shared_ptr<const analysis::EngineReport>> reports_;
    std::vector<size_t> rowReport_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    bool done_ = true;
    int generation_ = 0;
    static QPointer<EngineReportDialog> open_;
};

} // namespace sonteva
