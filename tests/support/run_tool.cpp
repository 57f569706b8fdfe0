// Runs a tool as a child process and collects its exit status and output.
#include "run_tool.h"

#include "board_root.h"
#include "host/program_command.h"

#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

ToolResult runTool(const std::string &program, const std::vector<std::string> &args) {
    std::string dir = (std::filesystem::temp_directory_path() / "tstat-tool-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) {
        throw std::runtime_error("cannot make a directory for the tool's output");
    }
    const std::string outPath = dir + "/out";
    const std::string errPath = dir + "/err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ProgramCommand command(program, args);
    pid_t pid = -1;
    ToolResult result;
    if (posix_spawn(&pid, command.file(), &actions, nullptr, command.argv(), environ) == 0) {
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0) {
        }
        if (WIFEXITED(wstatus)) {
            result.status = WEXITSTATUS(wstatus);
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return result;
}
