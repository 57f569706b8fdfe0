// Runs a tool as a child process and collects its exit status and output.
#pragma once

#include <string>
#include <vector>

struct ToolResult {
    int status = -1; // exit status, or -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

ToolResult runTool(const std::string &program, const std::vector<std::string> &args);
