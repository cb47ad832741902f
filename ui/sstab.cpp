// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sstab.h"

#include <QPainter>
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
