#include "app/dark_theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>
#include <QToolTip>

namespace sonteva {

void applyDarkTheme(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    const QColor window(30, 30, 32), base(22, 22, 24), button(58, 58, 62), text(235, 235, 240);
    const QColor dimmed(120, 120, 126), accent(10, 100, 220);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(38, 38, 41));
    p.setColor(QPalette::ToolTipBase, QColor(50, 50, 54));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dimmed);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(255, 90, 80));
    p.setColor(QPalette::Light, QColor(80, 80, 86));
    p.setColor(QPalette::Midlight, QColor(66, 66, 70));
    p.setColor(QPalette::Mid, QColor(44, 44, 47));
    p.setColor(QPalette::Dark, QColor(18, 18, 20));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0));
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(64, 156, 255));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Button, QColor(44, 44, 47));
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 70, 74));
    app.setPalette(p);
    QToolTip::setPalette(p);
    // Fusion fills menus with the base colour and draws their separators from the window
    // colour, which would vanish on a dark base: menus get a lighter pair.
    QPalette menus = p;
    menus.setColor(QPalette::Base, QColor(40, 40, 44));
    menus.setColor(QPalette::Window, QColor(96, 96, 102));
    app.setPalette(menus, "QMenu");
}

} // namespace sonteva
