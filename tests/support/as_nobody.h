// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <sys/wait.h>
#include <unistd.h>

// Runs `child` in a process of its own as user nobody (the tests run as root,
// whom exclusive opens and directory permissions let through); returns its result.
inline int asNobody(const std::function<int()>& child) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(setgid(65534) == 0 && setuid(65534) == 0 ? child() : 99);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}
