// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/traffic_list.h"

#include "link/frames.h"
#include "ui/accessible_events.h"
#include "ui/traffic_list_accessible.h"

#include <QAccessible>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <limits>
#include <utility>

TrafficList::TrafficList(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    // The bar moves with every line; it paints all its pixels, so what lies
    // behind it (the frames, the tab) need not be painted again each time.
    verticalScrollBar()->setAttribute(Qt::WA_OpaquePaintEvent);
    installTrafficListAccessibility();
    // A screen reader cannot speak more lines a second than this anyway; each
    // notice also brings the client's questions, which wake the window.
    announce_.setSingleShot(true);
    announce_.setInterval(1000);
    connect(&announce_, &QTimer::timeout, this, &TrafficList::announceNewest);
}

int TrafficList::rowHeight() const {
    return fontMetrics().height();
}

int TrafficList::visibleRows() const {
    return std::max(1, viewport()->height() / rowHeight());
}

int TrafficList::topRow() const {
    return verticalScrollBar()->value();
}

void TrafficList::addItem(const QString& text) {
    // Sent Data repeats one request text: equal lines share one copy.
    if (!lines_.empty() && !hex_.back() && QLatin1String(lines_.back()) == text)
        append(lines_.back(), false);
    else
        append(text.toLatin1(), false);
}

void TrafficList::addBytes(const QByteArray& bytes) {
    // An exact-size copy: sharing the caller's buffer would keep its spare room.
    if (!extendRun(bytes))
        append(QByteArray(bytes.constData(), bytes.size()), true);
}

// Adds `bytes` as the next line of the last run, made from the last line if
// need be, when they start with that line's bytes.
bool TrafficList::extendRun(const QByteArray& bytes) {
    if (lines_.empty() || !hex_.back())
        return false;
    const bool inRun =
        !runs_.empty() && runs_.back().first + qsizetype(runs_.back().sizes.size()) == count();
    if (!bytes.startsWith(inRun ? runs_.back().bytes : lines_.back()))
        return false;
    if (!inRun) {
        const qsizetype size = lines_.back().size();
        runs_.push_back({count() - 1, std::exchange(lines_.back(), QByteArray()), {size}});
    }
    Run& run = runs_.back();
    run.bytes.append(bytes.constData() + run.bytes.size(), bytes.size() - run.bytes.size());
    run.sizes.push_back(bytes.size());
    append(QByteArray(), true);
    return true;
}

// The bytes of a hex line, without copying them.
QByteArray TrafficList::bytes(int row) const {
    const auto after = std::upper_bound(runs_.begin(), runs_.end(), row,
                                        [](int r, const Run& run) { return r < run.first; });
    if (after != runs_.begin()) {
        const Run& run = *std::prev(after);
        if (const auto at = std::size_t(row - run.first); at < run.sizes.size())
            return QByteArray::fromRawData(run.bytes.constData(), run.sizes[at]);
    }
    return lines_.at(static_cast<std::size_t>(row));
}

void TrafficList::append(QByteArray data, bool hex) {
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    lines_.push_back(std::move(data));
    hex_.push_back(hex);
    updateScrollRange();
    const int row = count() - 1;
    if (following && bar->value() != bar->maximum())
        bar->setValue(bar->maximum());
    else if (row < topRow() + visibleRows())
        viewport()->update(rowRect(row));
    announceSoon();
}

// Nothing is told about a list on a hidden tab.
void TrafficList::announceSoon() {
    if (QAccessible::isActive() && isVisible() && !announce_.isActive())
        announce_.start();
}

void TrafficList::announceNewest() {
    if (!QAccessible::isActive() || !isVisible() || lines_.empty())
        return;
    QAccessibleEvent added(this, QAccessible::ObjectCreated);
    added.setChild(count() - 1);
    QAccessible::updateAccessibility(&added);
    // The scroll bar's own notices, one a line, are kept back
    // (filterAccessibilityEvents); its position matters to the user in the list.
    if (hasFocus() && topRow() != announcedTop_) {
        announcedTop_ = topRow();
        QAccessibleValueChangeEvent moved(verticalScrollBar(), announcedTop_);
        sendAccessibilityEvent(&moved);
    }
}

QString TrafficList::line(int row) const {
    return text(row, std::numeric_limits<qsizetype>::max());
}

// The row's text, cut to `characters`; a hex line converts only the bytes
// needed, each showing as at least two characters.
QString TrafficList::text(int row, qsizetype characters) const {
    if (!hex_.at(static_cast<std::size_t>(row)))
        return QString::fromLatin1(lines_[static_cast<std::size_t>(row)].left(characters));
    return frames::hexText(bytes(row).left(characters / 2 + 1)).left(characters);
}

QString TrafficList::lineSummary(int row) const {
    if (!hex_.at(static_cast<std::size_t>(row)))
        return QString::fromLatin1(lines_[static_cast<std::size_t>(row)]);
    const QByteArray data = bytes(row);
    constexpr int kFirst = 8;
    QString summary = data.size() == 1 ? tr("1 byte") : tr("%1 bytes").arg(data.size());
    summary += QLatin1String(": ") + frames::hexText(data.left(kFirst)).trimmed();
    if (data.size() > kFirst)
        summary += QChar(0x2026); // …
    return summary;
}

QRect TrafficList::rowRect(int row) const {
    return QRect(0, (row - topRow()) * rowHeight(), viewport()->width(), rowHeight());
}

void TrafficList::setCurrentRow(int row, bool extend) {
    if (lines_.empty())
        return;
    const int previous = current_;
    current_ = std::clamp(row, 0, count() - 1);
    if (!extend || anchor_ < 0)
        anchor_ = current_;
    if (current_ < topRow())
        verticalScrollBar()->setValue(current_);
    else if (current_ >= topRow() + visibleRows())
        verticalScrollBar()->setValue(current_ - visibleRows() + 1);
    viewport()->update();
    // Screen readers read the line the user moves to.
    if (QAccessible::isActive() && hasFocus() && current_ != previous) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        focus.setChild(current_);
        QAccessible::updateAccessibility(&focus);
    }
}

bool TrafficList::isSelected(int row) const {
    return anchor_ >= 0 && row >= std::min(anchor_, current_) && row <= std::max(anchor_, current_);
}

void TrafficList::selectAll() {
    if (lines_.empty())
        return;
    anchor_ = 0;
    current_ = count() - 1;
    viewport()->update();
}

QString TrafficList::selectedText() const {
    QString text;
    if (anchor_ < 0)
        return text;
    for (int row = std::min(anchor_, current_); row <= std::max(anchor_, current_); ++row) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += line(row);
    }
    return text;
}

void TrafficList::copy() const {
    if (anchor_ >= 0)
        QGuiApplication::clipboard()->setText(selectedText());
}

void TrafficList::updateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(visibleRows());
    bar->setRange(0, std::max(0, count() - visibleRows()));
}

void TrafficList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

// The row height follows the font, and with it the rows in view.
void TrafficList::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateScrollRange();
}

// The focus mark is drawn with the rows.
void TrafficList::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TrafficList::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TrafficList::scrollContentsBy(int, int) {
    viewport()->update();
    announceSoon();
}

void TrafficList::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const int height = rowHeight();
    const QRect area = event->rect();
    const int first = topRow() + area.top() / height;
    const int last = std::min(count(), topRow() + area.bottom() / height + 1);
    const QPalette& pal = palette();
    // A line is far wider than the list; only the characters that can show
    // are laid out, which keeps repaints cheap with long exchanges.
    const int narrowest = std::max(1, fontMetrics().horizontalAdvance(QLatin1Char(' ')));
    const int fits = viewport()->width() / narrowest + 2;
    const int ascent = fontMetrics().ascent();
    for (int row = first; row < last; ++row) {
        const QRect rect = rowRect(row);
        const bool selected = isSelected(row);
        if (selected)
            painter.fillRect(rect, pal.brush(QPalette::Highlight));
        painter.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(QPoint(rect.left() + 2, rect.top() + ascent), text(row, fits));
    }
    // The focus mark: a dotted box round the current line, or round the
    // whole list while that line is out of view or none is chosen yet.
    if (hasFocus()) {
        const bool onRow = current_ >= topRow() && current_ < topRow() + visibleRows();
        painter.setPen(
            QPen(pal.color(onRow ? QPalette::HighlightedText : QPalette::Text), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect((onRow ? rowRect(current_) : viewport()->rect()).adjusted(0, 0, -1, -1));
    }
}

void TrafficList::mousePressEvent(QMouseEvent* event) {
    const int row = rowAt(event->position().toPoint().y());
    // A right click on the selection keeps it for the menu's Copy.
    if (row < count() && !(event->button() == Qt::RightButton && isSelected(row)))
        setCurrentRow(row, event->modifiers() & Qt::ShiftModifier);
}

void TrafficList::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton)
        setCurrentRow(rowAt(event->position().toPoint().y()), true);
}

void TrafficList::contextMenuEvent(QContextMenuEvent* event) {
    // Shown without a loop of its own, so polling goes on while it is open.
    if (!menu_) {
        menu_ = new QMenu(this);
        menu_->addAction(tr("&Copy"), this, &TrafficList::copy)->setShortcut(QKeySequence::Copy);
        menu_->addAction(tr("Select &All"), this, &TrafficList::selectAll)
            ->setShortcut(QKeySequence::SelectAll);
    }
    menu_->actions().at(0)->setEnabled(anchor_ >= 0);
    menu_->actions().at(1)->setEnabled(!lines_.empty());
    menu_->popup(event->globalPos());
}

void TrafficList::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy)
        return copy();
    if (event == QKeySequence::SelectAll)
        return selectAll();
    const int page = visibleRows();
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Up:
        return setCurrentRow(current_ - 1, extend);
    case Qt::Key_Down:
        return setCurrentRow(current_ + 1, extend);
    case Qt::Key_PageUp:
        return setCurrentRow(current_ - page, extend);
    case Qt::Key_PageDown:
        return setCurrentRow(current_ + page, extend);
    case Qt::Key_Home:
        return setCurrentRow(0, extend);
    case Qt::Key_End:
        return setCurrentRow(count() - 1, extend);
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}
