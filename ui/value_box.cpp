// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/value_box.h"

#include "ui/accessible_events.h"

#include <QAccessibleWidget>

namespace {

// Qt's own interface for a line edit gives screen readers attribute runs of
// no length, and they then read "77" for 775: this one covers the text.
class ValueBoxInterface : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ValueBoxInterface(ValueBox* box) : QAccessibleWidget(box, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Value:
            return box()->text();
        case QAccessible::Description:
            return box()->unit();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = !box()->isReadOnly();
        state.readOnly = box()->isReadOnly();
        state.selectableText = true;
        return state;
    }

    QString text(int start, int end) const override {
        return box()->text().mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(box()->text().size()); }
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }
    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && box()->hasSelectedText()) {
            *start = box()->selectionStart();
            *end = box()->selectionEnd();
        }
    }
    int selectionCount() const override { return box()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { box()->deselect(); }
    void setSelection(int, int start, int end) override { box()->setSelection(start, end - start); }
    int cursorPosition() const override { return box()->cursorPosition(); }
    void setCursorPosition(int position) override { box()->setCursorPosition(position); }
    QRect characterRect(int offset) const override {
        const QFontMetrics metrics = box()->fontMetrics();
        const QString text = box()->text();
        const QRect area = box()->contentsRect();
        const int x = area.left() + 2 + metrics.horizontalAdvance(text.left(offset));
        const int width = offset < text.size() ? metrics.horizontalAdvance(text.at(offset)) : 1;
        const QRect local(x, area.top() + (area.height() - metrics.height()) / 2, width,
                          metrics.height());
        return {box()->mapToGlobal(local.topLeft()), local.size()};
    }
    int offsetAtPoint(const QPoint& point) const override {
        return box()->cursorPositionAt(box()->mapFromGlobal(point));
    }
    void scrollToSubstring(int, int) override {}

private:
    ValueBox* box() const { return static_cast<ValueBox*>(widget()); }
};

QAccessibleInterface* valueBoxFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(ValueBox::staticMetaObject.className()))
        if (auto* box = qobject_cast<ValueBox*>(object))
            return new ValueBoxInterface(box);
    return nullptr;
}

} // namespace

ValueBox::ValueBox(QWidget* parent, QString unit) : QLineEdit(parent), unit_(std::move(unit)) {
    setMaxLength(5);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    [[maybe_unused]] static const bool installed = [] {
        QAccessible::installFactory(valueBoxFactory);
        return true;
    }();
    // An interface Qt made for the line edit while it was being built goes.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(this);
        made && !dynamic_cast<ValueBoxInterface*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void ValueBox::setValue(const QString& text) {
    const QString shown = text.left(maxLength());
    if (this->text() != shown)
        setTextQuietly(this, shown);
}
