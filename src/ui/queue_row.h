#pragma once
// One job of the Batch Queue box. It is updated in place while its job runs (the elapsed
// time changes ten times a second), so hover and button state survive the updates.
#include "model/job_executor.h"
#include "model/recipe.h"

#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
class QToolButton;

namespace sonteva {

class ElidedLabel;

class QueueRow : public QWidget {
public:
    // onSelect: the row was clicked; onRemove: its remove button was clicked; onOpen: a
    // done row was double-clicked, with the path of its output.
    QueueRow(const ConversionJob& job, std::function<void()> onSelect,
             std::function<void()> onRemove, std::function<void(const QString&)> onOpen,
             QWidget* parent = nullptr);

    const QUuid& jobId() const { return id_; }
    // outcome: what the finished render reported, if it finished.
    void setStatus(const JobStatus& status, const JobOutcome* outcome);
    void setSelected(bool selected);
    // A batch is running: a pending job cannot be removed.
    void setLocked(bool locked);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showPending();
    void showProcessing(const JobProcessing& processing);
    void showDone(const JobDone& done, const JobOutcome* outcome);
    void showError(const JobError& error);
    void showSkipped(const JobSkipped& skipped);
    void applyColours();

    QUuid id_;
    QString recipe_;
    std::function<void()> onSelect_;
    std::function<void(const QString&)> onOpen_;
    QString output_; // a done row's deliverable
    bool selected_ = false;
    // The status kinds, in the order of JobStatus.
    enum class Tone { pending, processing, done, failed, skipped };
    Tone tone_ = Tone::pending;
    QLabel* glyph_;
    QLabel* name_;
    ElidedLabel* detail_;
    QProgressBar* progress_;
    QLabel* time_;
    QLabel* warning_;
    QToolButton* remove_;
};

} // namespace sonteva
