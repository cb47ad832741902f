// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/accessible_events.h"

#include "ui/traffic_list.h"

#include <QAccessible>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>

namespace {

QAccessible::UpdateHandler earlierHandler = nullptr;
bool passing = false;                // sendAccessibilityEvent is handing one on
const QObject* quietlySet = nullptr; // what setTextQuietly or setFocusQuietly changes

bool isTrafficListScrollBar(const QObject* object) {
    if (!qobject_cast<const QScrollBar*>(object))
        return false;
    // The bar sits in the scroll area's bar container.
    for (const QObject* up = object->parent(); up; up = up->parent())
        if (qobject_cast<const TrafficList*>(up))
            return true;
    return false;
}

bool keptBack(const QAccessibleEvent* event) {
    const QObject* object = event->object();
    switch (event->type()) {
    case QAccessible::ValueChanged:
        if (isTrafficListScrollBar(object))
            return true;
        [[fallthrough]];
    case QAccessible::TextInserted:
    case QAccessible::TextRemoved:
    case QAccessible::TextUpdated:
        if (auto* widget = qobject_cast<const QWidget*>(object); widget && !widget->isVisible())
            return true;
        [[fallthrough]];
    case QAccessible::TextCaretMoved:
    case QAccessible::TextSelectionChanged:
    case QAccessible::Focus:
    case QAccessible::StateChanged:
        return object && object == quietlySet;
    default:
        return false;
    }
}

void handOn(QAccessibleEvent* event) {
    if (earlierHandler)
        return earlierHandler(event);
    // Qt hands an event to the platform only while no handler is installed.
    QAccessible::UpdateHandler ours = QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(ours);
}

void filter(QAccessibleEvent* event) {
    if (passing || !keptBack(event))
        handOn(event);
}

#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
// The status as a notification: screen readers speak a notification as it
// shows. It stands beside the label, which keeps its own role. Newer Qt
// announces a text itself (announceStatus).
class StatusNotice : public QAccessibleInterface {
public:
    explicit StatusNotice(QLabel* label) : label_(label) {}
    bool isValid() const override { return label_; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return isValid() ? parent()->window() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(label_);
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::Notification; }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? label_->text() : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override { return isValid() ? parent()->rect() : QRect(); }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.invalid = !isValid();
        state.readOnly = true;
        return state;
    }

private:
    QPointer<QLabel> label_;
};
#endif

} // namespace

void filterAccessibilityEvents() {
    [[maybe_unused]] static const bool installed = [] {
        earlierHandler = QAccessible::installUpdateHandler(filter);
        return true;
    }();
}

void sendAccessibilityEvent(QAccessibleEvent* event) {
    passing = true;
    QAccessible::updateAccessibility(event);
    passing = false;
}

void setTextQuietly(QLineEdit* box, const QString& text) {
    quietlySet = box;
    box->setText(text);
    quietlySet = nullptr;
}

void setFocusQuietly(QWidget* widget) {
    quietlySet = widget;
    widget->setFocus(Qt::ShortcutFocusReason);
    quietlySet = nullptr;
}

void announceStatus(QLabel* label) {
    if (!QAccessible::isActive())
        return;
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QAccessibleAnnouncementEvent said(label, label->text());
    QAccessible::updateAccessibility(&said);
#else
    // One notice per label, kept as long as the program runs.
    static QHash<const QLabel*, QAccessible::Id> notices;
    auto known = notices.find(label);
    if (known != notices.end() && !QAccessible::accessibleInterface(*known)->isValid()) {
        QAccessible::deleteAccessibleInterface(*known); // its label is gone
        known = notices.end();
    }
    if (known == notices.end())
        known = notices.insert(label,
                               QAccessible::registerAccessibleInterface(new StatusNotice(label)));
    QAccessibleEvent shown(QAccessible::accessibleInterface(*known), QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
#endif
}
