#pragma once

#include <QString>
#include <stdexcept>

// An error raised by a routine: a number, the name of the control or routine
// that raised it, and a description for the user. Routines raise and never
// catch; the window catches at its event boundary and shows it.
class RaisedError : public std::runtime_error {
public:
    RaisedError(int number, QString source, QString description)
        : std::runtime_error(description.toStdString()), number_(number),
          source_(std::move(source)), description_(std::move(description)) {}

    int number() const { return number_; }
    const QString& source() const { return source_; }
    const QString& description() const { return description_; }

private:
    int number_;
    QString source_;
    QString description_;
};
