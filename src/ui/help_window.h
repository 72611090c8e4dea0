#pragma once
// The built-in manual: one resizable window with the sections in a sidebar and the selected
// section in a scrolling pane. At most one exists; showing it again brings it to the front,
// and closing it (also with Esc or Ctrl+W) discards it, so the next show() builds a fresh one.
#include <QWidget>

class QListWidget;
class QScrollArea;

namespace sonteva {

struct HelpSection;

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 860;
    static constexpr int kHeight = 660;
    static constexpr int kMinWidth = 720;
    static constexpr int kMinHeight = 480;
    static constexpr int kSidebarWidth = 220;

    // Shows the help window, creating it when there is none, and raises and activates it.
    static HelpWindow* show();
    // The window while it exists (it is deleted when closed).
    static HelpWindow* instance();

    // The titles listed in the sidebar, top to bottom.
    QStringList sectionTitles() const;
    int currentSection() const;
    void selectSection(int index);
    // The scrolling pane's content (the selected section's blocks).
    QWidget* detailContent() const;

private:
    explicit HelpWindow(QWidget* parent = nullptr);
    ~HelpWindow() override;
    void showSection(int index);

    QListWidget* sidebar_ = nullptr;
    QScrollArea* detail_ = nullptr;
};

} // namespace sonteva
