// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/program.h"

int main(int argc, char** argv) {
    return runCarnovo(argc, argv);
}
