// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shows every TrafficList to accessibility clients (screen readers, UI
// automation) as a list with one list item per line, named by the line's
// text. Items are made only when a client asks for them.
// Installs the interface factory once; each TrafficList calls it.
void installTrafficListAccessibility();

// Keeps what changes in hidden controls (the value boxes while their tab is
// not shown) from accessibility clients. Installs itself once.
void keepHiddenControlsQuiet();
