// The command line that starts one of the build's programs from another.
//
// A cross build's programs are for another processor, and on the development
// host its tests run them under qemu-user: $TSTAT_EMULATOR (set by the tests
// of such a build) names the emulator by its full path. A program that is an
// ELF file for the same processor as the running program then starts as
// `emulator program args...`; the host's own programs and scripts start as
// they are, as everywhere else.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

class ProgramCommand {
  public:
    ProgramCommand(const std::string &program, const std::vector<std::string> &args) {
        const char *emulator = getenv("TSTAT_EMULATOR");
        if (emulator != nullptr && *emulator != '\0') {
            int machine = elfMachine(program.c_str());
            if (machine >= 0 && machine == elfMachine("/proc/self/exe")) {
                m_words.push_back(emulator);
            }
        }
        m_words.push_back(program);
        m_words.insert(m_words.end(), args.begin(), args.end());
        for (std::string &word : m_words) {
            m_argv.push_back(word.data());
        }
        m_argv.push_back(nullptr);
    }
    ProgramCommand(const ProgramCommand &) = delete;
    ProgramCommand &operator=(const ProgramCommand &) = delete;

    // The file to execute and the argument vector (null-terminated).
    const char *file() const { return m_argv[0]; }
    char *const *argv() const { return m_argv.data(); }
    // Replaces the calling (child) process; returns only on failure.
    void exec() const { execv(file(), argv()); }

  private:
    // The e_machine field of an ELF file's header, or -1 for any other file.
    static int elfMachine(const char *path) {
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return -1;
        }
        uint8_t header[20] = {};
        bool read20 = read(fd, header, sizeof(header)) == static_cast<ssize_t>(sizeof(header));
        close(fd);
        if (!read20 || header[0] != 0x7f || header[1] != 'E' || header[2] != 'L' ||
            header[3] != 'F') {
            return -1;
        }
        // EI_DATA: 1 little-endian, 2 big-endian.
        return header[5] == 2 ? (header[18] << 8) | header[19] : header[18] | (header[19] << 8);
    }

    std::vector<std::string> m_words;
    std::vector<char *> m_argv;
};
