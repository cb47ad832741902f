// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/traffic_list_accessible.h"

#include "ui/traffic_list.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <vector>

namespace {

// One line of a traffic list; it reads the list each time, so it never goes
// stale. Its name says what the line is; its text is the whole line.
class TrafficLineItem : public QAccessibleInterface, public QAccessibleTextInterface {
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
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface*>(this)
                                                  : nullptr;
    }

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? list_->lineSummary(row_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}

    // The text interface: the line, read-only, one run of attributes.
    QString text(int start, int end) const override {
        return isValid() ? list_->line(row_).mid(start, end - start) : QString();
    }
    int characterCount() const override {
        return isValid() ? static_cast<int>(list_->line(row_).size()) : 0;
    }
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}

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
        state.selected = list_->isSelected(row_);
        state.focused = row_ == list_->currentRow() && list_->hasFocus();
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
        for (const Item& item : std::as_const(items_))
            QAccessible::deleteAccessibleInterface(item.id);
    }

    int childCount() const override { return list()->count(); }

    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto known = items_.find(index); known != items_.end()) {
            known->used = ++uses_;
            return QAccessible::accessibleInterface(known->id);
        }
        auto* item = new TrafficLineItem(list(), index);
        items_.insert(index, {QAccessible::registerAccessibleInterface(item), ++uses_});
        // Released a pass later, so that no caller is left holding a deleted item.
        if (items_.size() > 2 * kKept && !releasing_) {
            releasing_ = true;
            QMetaObject::invokeMethod(
                list(),
                [list = list()] {
                    if (auto* self = dynamic_cast<TrafficListInterface*>(
                            QAccessible::queryAccessibleInterface(list)))
                        self->releaseUnheld();
                },
                Qt::QueuedConnection);
        }
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
    // Items kept: those asked for last, which a client may still hold. The
    // rest go, except the ones in or near the view and the current line.
    static constexpr qsizetype kKept = 256;
    static constexpr int kNearView = 32;
    struct Item {
        QAccessible::Id id;
        quint64 used;
    };

    TrafficList* list() const { return static_cast<TrafficList*>(widget()); }

    void releaseUnheld() {
        releasing_ = false;
        if (items_.size() <= kKept)
            return;
        const TrafficList* l = list();
        const int first = l->topRow() - kNearView;
        const int last = l->topRow() + l->visibleRows() + kNearView;
        std::vector<std::pair<quint64, int>> unheld; // last use, row
        for (auto it = items_.cbegin(); it != items_.cend(); ++it)
            if ((it.key() < first || it.key() > last) && it.key() != l->currentRow())
                unheld.emplace_back(it->used, it.key());
        const auto excess = std::min(unheld.size(), std::size_t(items_.size() - kKept));
        std::nth_element(unheld.begin(), unheld.begin() + excess, unheld.end());
        for (std::size_t i = 0; i < excess; ++i)
            QAccessible::deleteAccessibleInterface(items_.take(unheld[i].second).id);
    }

    mutable QHash<int, Item> items_; // row to item, made on demand
    mutable quint64 uses_ = 0;
    mutable bool releasing_ = false;
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
