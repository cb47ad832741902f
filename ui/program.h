// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class Form1;

// The program: the window until Quit, the window's close button or one of
// the signals that end a program. `shown` runs once the window shows.
int runCarnovo(int argc, char** argv, const std::function<void(Form1&)>& shown = {});
