#include "platform/linux/HelperProcess.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

int startHelper(const std::string& path, int helperEnd, pid_t& child) {
    posix_spawn_file_actions_t actions;
    if (int rc = posix_spawn_file_actions_init(&actions); rc != 0)
        return rc;
    int rc = posix_spawn_file_actions_adddup2(&actions, helperEnd, 0);
    if (rc == 0) {
        std::string argument = path;
        char* arguments[] = {argument.data(), nullptr};
        char* environment[] = {nullptr};
        rc = posix_spawn(&child, path.c_str(), &actions, nullptr, arguments, environment);
    }
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

int childExitStatus(pid_t child) {
    if (child <= 0)
        return -1; // waitpid would take any child, or a group's
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
