#include "ui/traffic_list_accessible.h"

#include "ui/traffic_list.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

namespace {

// One line of a traffic list; it reads the list each time, so it never goes stale.
class TrafficLineItem : public QAccessibleInterface {
public:
    TrafficLineItem(TrafficList* list, int row) : list_(list), row_(row) {}
    const TrafficList* list() const { return list_; }
    int row() const { return row_; }

    bool isValid() const override { return list_ && row_ < list_->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return isValid() ? parent()->window() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(list_);
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? list_->line(row_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect row = list_->rowRect(row_);
        return {list_->viewport()->mapToGlobal(row.topLeft()), row.size()};
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.selectable = true;
        state.focusable = true;
        state.selected = row_ == list_->currentRow();
        state.focused = state.selected && list_->hasFocus();
        state.offscreen = row_ < list_->topRow() || row_ >= list_->topRow() + list_->visibleRows();
        return state;
    }

private:
    QPointer<TrafficList> list_;
    int row_;
};

class TrafficListInterface : public QAccessibleWidget {
public:
    explicit TrafficListInterface(TrafficList* list) : QAccessibleWidget(list, QAccessible::List) {}
    // The items go with the list: its interface is deleted when the list is.
    ~TrafficListInterface() override {
        for (QAccessible::Id id : std::as_const(items_))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return list()->count(); }

    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto known = items_.constFind(index); known != items_.cend())
            return QAccessible::accessibleInterface(*known);
        auto* item = new TrafficLineItem(list(), index);
        items_.insert(index, QAccessible::registerAccessibleInterface(item));
        return item;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* item = dynamic_cast<const TrafficLineItem*>(child);
        return item && item->list() == list() ? item->row() : -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint point = list()->viewport()->mapFromGlobal(QPoint(x, y));
        if (!list()->viewport()->rect().contains(point))
            return nullptr;
        return child(list()->rowAt(point.y())); // none below the last line
    }

    QAccessibleInterface* focusChild() const override {
        if (list()->hasFocus() && list()->currentRow() >= 0)
            return child(list()->currentRow());
        return QAccessibleWidget::focusChild();
    }

private:
    TrafficList* list() const { return static_cast<TrafficList*>(widget()); }

    mutable QHash<int, QAccessible::Id> items_; // row to item, made on demand
};

QAccessibleInterface* trafficListFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(TrafficList::staticMetaObject.className()))
        if (auto* list = qobject_cast<TrafficList*>(object))
            return new TrafficListInterface(list);
    return nullptr;
}

} // namespace

void installTrafficListAccessibility() {
    [[maybe_unused]] static const bool installed = [] {
        QAccessible::installFactory(trafficListFactory);
        return true;
    }();
}
