// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>
#include <QTimer>
#include <deque>
#include <vector>

class QMenu;

// A list box for the traffic log. It takes a line per polling pass for hours,
// so adding a line costs the same however long the list is: it paints only
// the rows in view, one line of text each, all of one height. Accessibility
// clients see it as a list of its lines (ui/traffic_list_accessible.h).
// The user selects a run of lines (Shift extends it) and copies them whole.
class TrafficList : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TrafficList(QWidget* parent = nullptr);

    // Add a last line. While the view shows the end of the list, it follows
    // the newest line; scrolled back, it stays where the user put it.
    // A line of plain ASCII text; one equal to the line before shares its copy.
    void addItem(const QString& text);
    // A line showing `bytes` as hex text (frames::hexText), made only when
    // the row is painted or read: the bytes take a third of the text's memory.
    // A line that repeats the one before and perhaps adds bytes at its end
    // costs only the bytes it adds (see Run).
    void addBytes(const QByteArray& bytes);

    int count() const { return static_cast<int>(lines_.size()); }
    QString line(int row) const;
    // What a line is, in a few words: a Received line's byte count and first
    // bytes, a Sent line's text.
    QString lineSummary(int row) const;

    int currentRow() const { return current_; }
    // Moves the current line there and selects it alone, or with `extend`
    // the lines from the selection's first one to there.
    void setCurrentRow(int row, bool extend = false);
    bool isSelected(int row) const;
    void selectAll();
    // The selected lines in full, one a line.
    QString selectedText() const;
    void copy() const;
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
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void append(QByteArray data, bool hex);
    bool extendRun(const QByteArray& bytes);
    QByteArray bytes(int row) const;
    QString text(int row, qsizetype characters) const;
    void updateScrollRange();
    void announceNewest();
    void announceSoon();

    // Each line's Latin-1 text or, where hex_ is set, its bytes. The flags
    // sit apart so a line costs a QByteArray and a bit, not a padded pair.
    std::deque<QByteArray> lines_;
    std::vector<bool> hex_;
    // Received lines in a row where each one starts with all the bytes of the
    // one before, as a buffer that only grows gives them: the wait for the
    // chatter frame logs its whole buffer on every pass, however often the
    // window wakes. They share one copy of the longest; each keeps only its
    // size, and its entry in lines_ stays empty.
    struct Run {
        int first; // its first row
        QByteArray bytes;
        std::vector<qsizetype> sizes; // one a line
    };
    std::vector<Run> runs_; // in the order of their rows
    int current_ = -1;
    int anchor_ = -1; // where the selection started; it runs to current_
    // New lines and the scroll position are told to accessibility clients
    // together, the newest line for all, so a busy link costs them a few
    // notices a second, not one a line.
    QTimer announce_;
    int announcedTop_ = 0;
    QMenu* menu_ = nullptr; // made on the first right click
};
