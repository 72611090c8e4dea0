#pragma once
// Files that could not be added are never passed over in silence: beside the status line
// a button says how many failed ("2 files could not be loaded"), and one click on it lists
// each file with its reason. Closing that list forgets the failures, and the button goes
// until the next one.
#include <QDialog>
#include <QPushButton>

namespace sonteva {

class AppViewModel;

class LoadFailuresButton : public QPushButton {
    Q_OBJECT
public:
    explicit LoadFailuresButton(AppViewModel& vm, QWidget* parent = nullptr);

    // The open list, if any.
    QDialog* details() const { return details_; }

private:
    void sync();
    void showDetails();

    AppViewModel& vm_;
    QDialog* details_ = nullptr;
};

} // namespace sonteva
