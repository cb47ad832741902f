// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sstab.h"

#include "ui/accessible_events.h"

#include <QAccessible>
#include <QFocusEvent>
#include <QPainter>
#include <QShortcut>
#include <QStyleOptionTabWidgetFrame>

SSTab::SSTab(QWidget* parent, int stripHeight)
    : QWidget(parent), bar_(new QTabBar(this)), stripHeight_(stripHeight) {
    bar_->setObjectName("SSTab1_strip");
    bar_->setExpanding(true);
    bar_->setDrawBase(false);
    bar_->setUsesScrollButtons(false);
    bar_->setElideMode(Qt::ElideNone);
    setFocusPolicy(Qt::TabFocus);
    setFocusProxy(bar_);
    connect(bar_, &QTabBar::currentChanged, this, &SSTab::showPage);
    bar_->installEventFilter(this);
    const std::pair<QKeySequence, int> steps[] = {
        {Qt::CTRL | Qt::Key_Tab, 1},
        {Qt::CTRL | Qt::Key_PageDown, 1},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Tab, -1},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, -1},
        {Qt::CTRL | Qt::Key_PageUp, -1},
    };
    for (const auto& [keys, by] : steps) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, by = by] { step(by); });
    }
}

void SSTab::step(int by) {
    if (pages_.empty())
        return;
    // The strip first: a focused control on the page going out of sight
    // would hand the focus on to some control of another page. The strip
    // then tells clients of the tab chosen; a notice of its own focus before
    // that makes a screen reader skip the tab as a stale event.
    setFocusQuietly(bar_);
    setTab((Tab() + by + Tabs()) % Tabs());
}

// Qt tells accessibility clients that the strip as a whole took the focus;
// they then name the strip, not the tab chosen, nor its place among the tabs.
bool SSTab::eventFilter(QObject* watched, QEvent* event) {
    if (watched == bar_ && event->type() == QEvent::FocusIn && QAccessible::isActive() &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::ShortcutFocusReason)
        QMetaObject::invokeMethod(
            bar_,
            [bar = bar_] {
                if (bar->hasFocus() && bar->currentIndex() >= 0) {
                    QAccessibleEvent focus(bar, QAccessible::Focus);
                    focus.setChild(bar->currentIndex());
                    QAccessible::updateAccessibility(&focus);
                }
            },
            Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

QWidget* SSTab::addTab(const QString& caption) {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("%1_tab%2").arg(objectName()).arg(pages_.size()));
    pages_.push_back(page);
    bar_->addTab(caption);
    bar_->raise(); // pages cover the strip's area but must not take its clicks
    placeChildren();
    showPage(bar_->currentIndex());
    return page;
}

void SSTab::showPage(int index) {
    for (std::size_t i = 0; i < pages_.size(); ++i)
        pages_[i]->setVisible(static_cast<int>(i) == index);
}

void SSTab::resizeEvent(QResizeEvent*) {
    placeChildren();
}

void SSTab::placeChildren() {
    bar_->setGeometry(0, 0, width(), stripHeight_);
    for (QWidget* page : pages_)
        page->setGeometry(rect());
}

void SSTab::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(0, stripHeight_ - 1, 0, 0);
    frame.shape = QTabBar::RoundedNorth;
    frame.tabBarSize = bar_->size();
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}
