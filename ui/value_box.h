// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLineEdit>

// A box for one engine value. Accessibility clients read its whole text as
// one run of attributes, and its unit ("rpm", "degrees") as its description;
// the program's updates are not announced (accessible_events.h), so a screen
// reader speaks the value when the box takes the focus or is asked.
class ValueBox : public QLineEdit {
    Q_OBJECT
public:
    ValueBox(QWidget* parent, QString unit);
    const QString& unit() const { return unit_; }
    // Sets the text, cut to the box's length, without an announcement.
    void setValue(const QString& text);

private:
    QString unit_;
};
