#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>
#include <deque>
#include <vector>

// A list box for the traffic log. It takes a line per polling pass for hours,
// so adding a line costs the same however long the list is: it paints only
// the rows in view, one line of text each, all of one height. Accessibility
// clients see it as a list of its lines (ui/traffic_list_accessible.h).
class TrafficList : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TrafficList(QWidget* parent = nullptr);

    // Add a last line. While the view shows the end of the list, it follows
    // the newest line; scrolled back, it stays where the user put it.
    // A line of plain ASCII text; one equal to the line before shares its copy.
    void addItem(const QString& text);
    // A line showing `bytes` as hex text (traffic::hex_text), made only when
    // the row is painted or read: the bytes take a third of the text's memory.
    void addBytes(const QByteArray& bytes);

    int count() const { return static_cast<int>(lines_.size()); }
    QString line(int row) const;

    int currentRow() const { return current_; }
    void setCurrentRow(int row);
    int rowHeight() const;
    int visibleRows() const;
    int topRow() const;
    // In the viewport's coordinates; rows out of view lie outside it.
    QRect rowRect(int row) const;
    int rowAt(int y) const { return topRow() + y / rowHeight(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;

private:
    void append(QByteArray data, bool hex);
    QString text(int row, qsizetype characters) const;
    void updateScrollRange();

    // Each line's Latin-1 text or, where hex_ is set, its bytes. The flags
    // sit apart so a line costs a QByteArray and a bit, not a padded pair.
    std::deque<QByteArray> lines_;
    std::vector<bool> hex_;
    int current_ = -1;
};
