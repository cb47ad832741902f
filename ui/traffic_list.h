#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>
#include <deque>

// A list box for the traffic log. It takes a line per polling pass for hours,
// so adding a line costs the same however long the list is: it paints only
// the rows in view, one line of text each, all of one height.
class TrafficList : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TrafficList(QWidget* parent = nullptr);

    // Adds a last line. While the view shows the end of the list, it follows
    // the newest line; scrolled back, it stays where the user put it.
    void addItem(const QString& line);
    int count() const { return static_cast<int>(lines_.size()); }
    QString line(int row) const {
        return QString::fromLatin1(lines_.at(static_cast<std::size_t>(row)));
    }

    int currentRow() const { return current_; }
    void setCurrentRow(int row);
    int rowHeight() const;
    int visibleRows() const;
    int topRow() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;

private:
    void updateScrollRange();
    QRect rowRect(int row) const;

    // The log's lines are plain ASCII; held as bytes they take half the memory.
    std::deque<QByteArray> lines_;
    int current_ = -1;
};
