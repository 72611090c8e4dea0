#pragma once
// The application-wide keyboard and mouse monitors, alive as long as this object:
// - the space bar plays and pauses the selected job from anywhere in the application, except
//   while the user types in a text field (the field keeps its space); the key never reaches
//   the focused control, so it cannot also press a button or open a list;
// - a click outside the text field being edited ends the editing.
#include <QObject>
#include <QPointer>

class QWidget;

namespace sonteva {

class AppViewModel;

class EventMonitors : public QObject {
    Q_OBJECT
public:
    explicit EventMonitors(QObject* parent = nullptr);
    ~EventMonitors() override;

    // Installs both monitors; later calls do nothing. The view model is held weakly.
    void install(AppViewModel& vm);
    bool isInstalled() const { return installed_; }

    // A widget the user types text into.
    static bool isTextField(const QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool onKeyPress(QEvent* event);
    void onMousePress(QEvent* event);

    QPointer<AppViewModel> vm_;
    bool installed_ = false;
};

} // namespace sonteva
