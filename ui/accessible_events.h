// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QAccessibleEvent;
class QLabel;
class QLineEdit;
class QString;
class QWidget;

// What the window tells accessibility clients (screen readers) is kept to
// what a listener can follow and the user can perceive. Installed once:
// - text changes of a control the user cannot see (a value box on a hidden
//   tab) are kept back;
// - a traffic list's scroll bar moves with every line; the list tells its
//   position itself, a few times a second (sendAccessibilityEvent);
// - the program's own writes to a value box (setTextQuietly) are not told:
//   the box says its value when focused or asked.
void filterAccessibilityEvents();

// Hands an event to the clients past the filter.
void sendAccessibilityEvent(QAccessibleEvent* event);

// Sets a box's text without telling clients of the change.
void setTextQuietly(QLineEdit* box, const QString& text);

// Gives a widget the focus without telling clients, for a change that tells
// them itself where the focus went.
void setFocusQuietly(QWidget* widget);

// Announces the label's new text once, the way screen readers present a
// live status: as an announcement where Qt has them (6.8 on), else as a
// notification.
void announceStatus(QLabel* label);
