// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shows every TrafficList to accessibility clients (screen readers, UI
// automation) as a list with one list item per line, named by what it is (a
// Received line by its byte count and first bytes) with its whole text in
// the item's text. Items are made only when a client asks for them.
// Installs the interface factory once; each TrafficList calls it.
void installTrafficListAccessibility();
