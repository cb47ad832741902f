// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTabBar>
#include <QWidget>
#include <vector>

// A tab control in the manner of the classic tabbed dialog: one strip of tabs
// across the top, and one page per tab covering the whole control, strip
// included, so controls on a tab are placed from the control's top-left corner.
// Ctrl+Tab and Ctrl+PageDown choose the next tab, Ctrl+Shift+Tab and
// Ctrl+PageUp the one before, from wherever the focus is inside the control;
// the strip then takes the focus, so a screen reader says which tab it is.
class SSTab : public QWidget {
    Q_OBJECT
public:
    SSTab(QWidget* parent, int stripHeight);

    QWidget* addTab(const QString& caption);
    QWidget* page(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
    int Tabs() const { return static_cast<int>(pages_.size()); }
    int Tab() const { return bar_->currentIndex(); }
    void setTab(int index) { bar_->setCurrentIndex(index); }
    QTabBar* strip() const { return bar_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showPage(int index);
    void step(int by);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void placeChildren();

    QTabBar* bar_;
    int stripHeight_;
    std::vector<QWidget*> pages_;
};
