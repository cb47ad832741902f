// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <stdexcept>

// An error raised by a routine: a number, the name of the control or routine
// that raised it, and a description for the user, with an optional detail
// shown below it. Routines raise and never catch; the window catches at its
// event boundary and shows it.
class RaisedError : public std::runtime_error {
public:
    RaisedError(int number, QString source, QString description, QString detail = {})
        : std::runtime_error(description.toStdString()), number_(number),
          source_(std::move(source)), description_(std::move(description)),
          detail_(std::move(detail)) {}

    int number() const { return number_; }
    const QString& source() const { return source_; }
    const QString& description() const { return description_; }
    const QString& detail() const { return detail_; }

private:
    int number_;
    QString source_;
    QString description_;
    QString detail_;
};
