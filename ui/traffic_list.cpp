#include "ui/traffic_list.h"

#include "link/traffic.h"
#include "ui/traffic_list_accessible.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <limits>

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
    append(QByteArray(bytes.constData(), bytes.size()), true);
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
    if (QAccessible::isActive()) {
        QAccessibleEvent added(this, QAccessible::ObjectCreated);
        added.setChild(row);
        QAccessible::updateAccessibility(&added);
    }
}

QString TrafficList::line(int row) const {
    return text(row, std::numeric_limits<qsizetype>::max());
}

// The row's text, cut to `characters`; a hex line converts only the bytes
// needed, each showing as at least two characters.
QString TrafficList::text(int row, qsizetype characters) const {
    const QByteArray& data = lines_.at(static_cast<std::size_t>(row));
    if (!hex_[static_cast<std::size_t>(row)])
        return QString::fromLatin1(data.left(characters));
    return traffic::hex_text(data.left(characters / 2 + 1)).left(characters);
}

QRect TrafficList::rowRect(int row) const {
    return QRect(0, (row - topRow()) * rowHeight(), viewport()->width(), rowHeight());
}

void TrafficList::setCurrentRow(int row) {
    if (lines_.empty())
        return;
    const int previous = current_;
    current_ = std::clamp(row, 0, count() - 1);
    if (current_ < topRow())
        verticalScrollBar()->setValue(current_);
    else if (current_ >= topRow() + visibleRows())
        verticalScrollBar()->setValue(current_ - visibleRows() + 1);
    viewport()->update(rowRect(previous));
    viewport()->update(rowRect(current_));
    // Screen readers read the line the user moves to.
    if (QAccessible::isActive() && hasFocus() && current_ != previous) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        focus.setChild(current_);
        QAccessible::updateAccessibility(&focus);
    }
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

void TrafficList::scrollContentsBy(int, int) {
    viewport()->update();
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
        const bool selected = row == current_;
        if (selected)
            painter.fillRect(rect, pal.brush(QPalette::Highlight));
        painter.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(QPoint(rect.left() + 2, rect.top() + ascent), text(row, fits));
    }
}

void TrafficList::mousePressEvent(QMouseEvent* event) {
    const int row = rowAt(event->position().toPoint().y());
    if (row < count())
        setCurrentRow(row);
}

void TrafficList::keyPressEvent(QKeyEvent* event) {
    const int page = visibleRows();
    switch (event->key()) {
    case Qt::Key_Up:
        return setCurrentRow(current_ - 1);
    case Qt::Key_Down:
        return setCurrentRow(current_ + 1);
    case Qt::Key_PageUp:
        return setCurrentRow(current_ - page);
    case Qt::Key_PageDown:
        return setCurrentRow(current_ + page);
    case Qt::Key_Home:
        return setCurrentRow(0);
    case Qt::Key_End:
        return setCurrentRow(count() - 1);
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}
