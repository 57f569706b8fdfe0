// The application the simulator starts: its process and its output.
#include "application.h"

#include "board/board.h"
#include "board/run_support.h"
#include "console.h"
#include "host/program_command.h"
#include "platform/lockstep.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sim {

namespace {

// Host milliseconds the application gets to end after SIGTERM.
constexpr int CHILD_GRACE_MS = 3000;
// Host milliseconds between two looks at the application's output.
constexpr int64_t OUTPUT_READ_PERIOD_MS = 20;

// Lets the child inherit fd under the name of an environment variable.
void handOver(int fd, const char *variable) {
    fcntl(fd, F_SETFD, 0);
    setenv(variable, std::to_string(fd).c_str(), 1);
}

// What the child of start() needs to become the application.
struct ChildSetup {
    const std::string &program;
    const std::string &dataDir;
    std::string root;
    pid_t parent;
    int output; // its standard output
    Application::Handover handover;
};

// The child's side of start(): never returns.
[[noreturn]] void runChild(const ProgramCommand &command, const ChildSetup &setup) {
    // The application ends with the simulator, however the simulator ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != setup.parent) {
        _exit(126);
    }
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) {
        dup2(devnull, STDIN_FILENO);
        close(devnull);
    }
    dup2(setup.output, STDOUT_FILENO);
    if (chdir(setup.dataDir.c_str()) != 0) {
        fprintf(stderr, "tstat-sim: cannot enter %s: %s\n", setup.dataDir.c_str(), strerror(errno));
        _exit(126);
    }
    setenv("TSTAT_ROOT", setup.root.c_str(), 1);
    if (setup.handover.clockFd >= 0) {
        handOver(setup.handover.clockFd, LOCKSTEP_FD_VARIABLE);
    }
    if (setup.handover.linkFd >= 0) {
        handOver(setup.handover.linkFd, LOCKSTEP_LINK_FD_VARIABLE);
    }
    command.exec();
    fprintf(stderr, "tstat-sim: cannot run %s: %s\n", setup.program.c_str(), strerror(errno));
    _exit(127);
}

} // namespace

namespace {

// Switches the thread to another stack: saves the registers a call must
// keep (and the floating-point control words) on the present stack, its
// stack pointer in *from, and continues from the stack pointer `to` that an
// earlier switch saved (or prepareStack() made). No system call: glibc's
// swapcontext would also save and restore the signal mask.
extern "C" void tstatSwitchStack(void **from, void *to);
#if defined(__x86_64__)
constexpr bool STACK_SWITCH = true;
asm(R"(
    .text
    .globl tstatSwitchStack
    .type tstatSwitchStack, @function
tstatSwitchStack:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $8, %rsp
    stmxcsr (%rsp)
    fnstcw 4(%rsp)
    movq %rsp, (%rdi)
    movq %rsi, %rsp
    ldmxcsr (%rsp)
    fldcw 4(%rsp)
    addq $8, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .size tstatSwitchStack, .-tstatSwitchStack
)");
#else
// Elsewhere the application runs as a program (startInProcess refuses).
constexpr bool STACK_SWITCH = false;
extern "C" void tstatSwitchStack(void **, void *) {
    abort();
}
#endif

// A new stack whose first switch enters start(), as tstatSwitchStack left
// it: the control words, six registers, start's address and, above it, a
// return address start never uses (the stack 16-byte aligned at its entry
// less the return address, as a call leaves it).
void *prepareStack(std::vector<char> &stack, void (*start)()) {
    auto top = reinterpret_cast<uintptr_t>(stack.data() + stack.size()) & ~uintptr_t{15};
    auto *slot = reinterpret_cast<uint64_t *>(top);
    *--slot = 0;
    *--slot = reinterpret_cast<uint64_t>(start);
    for (int i = 0; i < 6; i++) {
        *--slot = 0;
    }
    uint32_t mxcsr = 0;
    uint16_t fpucw = 0;
#if defined(__x86_64__)
    asm volatile("stmxcsr %0\n\tfnstcw %1" : "=m"(mxcsr), "=m"(fpucw));
#endif
    *--slot = mxcsr | static_cast<uint64_t>(fpucw) << 32;
    return slot;
}

} // namespace

// The application loaded into this process: its module, its stack, the
// stack pointers the thread switches between, and what it is handed.
struct Application::InProcess {
    LockstepInProcessEntry entry = nullptr;
    void *simulator = nullptr;
    void *application = nullptr;
    std::vector<char> stack;
    LockstepInProcess link{};
    FileDescriptor outputEnd; // its standard output's end (the simulator reads the other)
    FileDescriptor dataDir;   // its working directory
    FileDescriptor ownDir;    // the simulator's
    std::string root;
};

namespace {

// The stack of the application in this process (it keeps large buffers on it).
constexpr size_t IN_PROCESS_STACK_BYTES = 16 * 1024 * 1024;
// The application starting on its stack (makecontext passes no pointer).
Application *s_Starting = nullptr;

} // namespace

Application::Application(Say say) : m_say(std::move(say)) {}

Application::~Application() = default;

void Application::toSimulator(void *context) {
    auto *self = static_cast<Application *>(context);
    tstatSwitchStack(&self->m_inProcess->application, self->m_inProcess->simulator);
}

// Where the application's stack begins: its main, and its end should main
// return rather than exit.
void Application::startInProcessStack() {
    Application *self = s_Starting;
    InProcess &p = *self->m_inProcess;
    char name[] = "tstat";
    char device[] = "/dev/ttyCOPROC";
    char *argv[] = {name, device, nullptr};
    int status = p.entry(&p.link, 2, argv);
    p.link.exitStatus = status & 0xFF;
    p.link.shared->channel.turn.store(LOCKSTEP_TURN_ENDED, std::memory_order_release);
    tstatSwitchStack(&p.application, p.simulator);
}

bool Application::startInProcess(const std::string &program, const std::string &dataDir,
                                 LockstepShared *shared, int linkFd, std::string *why) {
    if (!STACK_SWITCH) {
        *why = "its stack switch is written for x86-64 only";
        return false;
    }
    std::string module =
        program.substr(0, program.find_last_of('/') + 1) + LOCKSTEP_INPROCESS_MODULE;
    void *handle = dlmopen(LM_ID_NEWLM, module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        *why = dlerror();
        return false;
    }
    auto p = std::make_unique<InProcess>();
    p->entry = reinterpret_cast<LockstepInProcessEntry>(dlsym(handle, LOCKSTEP_INPROCESS_ENTRY));
    int output[2] = {-1, -1};
    p->dataDir = FileDescriptor(::open(dataDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    p->ownDir = FileDescriptor(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (p->entry == nullptr || p->dataDir.get() < 0 || p->ownDir.get() < 0 ||
        pipe2(output, O_CLOEXEC) != 0) {
        *why = "no entry, data directory or output for it";
        return false;
    }
    fcntl(output[0], F_SETFL, O_NONBLOCK);
    m_output = FileDescriptor(output[0]);
    p->outputEnd = FileDescriptor(output[1]);
    p->root = absoluteRoot();
    p->link = LockstepInProcess{shared, &Application::toSimulator, this, output[1],
                                linkFd, p->root.c_str(),           0};
    p->stack.resize(IN_PROCESS_STACK_BYTES);
    p->application = prepareStack(p->stack, &Application::startInProcessStack);
    m_inProcess = std::move(p);
    m_started = true;
    m_say("tstat-sim: loaded " + module + " into this process, in " + dataDir);
    return true;
}

void Application::switchTo() {
    InProcess &p = *m_inProcess;
    // Its files (fonts, images) are named from its data directory.
    if (fchdir(p.dataDir.get()) != 0) {
        return;
    }
    s_Starting = this;
    tstatSwitchStack(&p.simulator, p.application);
    if (fchdir(p.ownDir.get()) != 0) {
        m_say("tstat-sim: cannot return to the working directory");
    }
}

bool Application::start(const std::string &program, const std::string &dataDir,
                        const Handover &handover) {
    if (access(program.c_str(), X_OK) != 0) {
        m_say("tstat-sim: " + program +
              " is missing or not executable (build it, or give --tstat); staying up as the "
              "coprocessor");
        return false;
    }
    ChildSetup setup{program, dataDir, absoluteRoot(), getpid(), -1, handover};
    ProgramCommand command(program, {"/dev/ttyCOPROC"});
    int output[2] = {-1, -1};
    if (pipe2(output, O_CLOEXEC) != 0) {
        m_say(std::string("tstat-sim: cannot start the application: ") + strerror(errno));
        return false;
    }
    pid_t pid = fork();
    if (pid < 0) {
        m_say(std::string("tstat-sim: cannot start the application: ") + strerror(errno));
        close(output[0]);
        close(output[1]);
        return false;
    }
    if (pid == 0) {
        setup.output = output[1];
        runChild(command, setup);
    }
    m_pid = pid;
    m_started = true;
    close(output[1]);
    fcntl(output[0], F_SETFL, O_NONBLOCK);
    m_output = FileDescriptor(output[0]);
    m_say("tstat-sim: started " + program + " /dev/ttyCOPROC (pid " + std::to_string(pid) +
          ") in " + dataDir);
    return true;
}

bool Application::ended(int *status, std::string *why) {
    if (m_inProcess && !m_inProcessEnded &&
        m_inProcess->link.shared->channel.turn.load() == LOCKSTEP_TURN_ENDED) {
        m_inProcessEnded = true;
        *status = m_inProcess->link.exitStatus;
        *why = "the application ended with status " + std::to_string(*status);
        return true;
    }
    if (m_pid < 0) {
        return false;
    }
    int st = 0;
    if (waitpid(m_pid, &st, WNOHANG) != m_pid) {
        return false;
    }
    m_pid = -1;
    if (WIFEXITED(st)) {
        *status = WEXITSTATUS(st);
        *why = "the application ended with status " + std::to_string(*status);
    } else {
        int signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
        *status = 128 + signal;
        *why = "the application was ended by signal " + std::to_string(signal);
    }
    return true;
}

void Application::waitForEnd(int *status) {
    if (m_inProcess) {
        m_inProcessEnded = true;
        *status = m_inProcess->link.exitStatus;
        return;
    }
    waitForChild(&m_pid, CHILD_GRACE_MS, status);
}

void Application::stop() {
    if (m_inProcess) {
        // Without its clock it has ended by now (LockstepClock::close).
        m_inProcessEnded = true;
        m_inProcess->outputEnd.reset();
    }
    stopChild(&m_pid, CHILD_GRACE_MS);
    readOutput(true);
}

void Application::poll(int64_t hostNowMs) {
    if (hostNowMs >= m_nextReadMs) {
        m_nextReadMs = hostNowMs + OUTPUT_READ_PERIOD_MS;
        readOutput(false);
    }
}

void Application::readOutput(bool toTheEnd) {
    if (m_output.get() < 0) {
        return;
    }
    char buf[4096];
    ssize_t got;
    while ((got = read(m_output.get(), buf, sizeof(buf))) > 0 || (got < 0 && errno == EINTR)) {
        m_partial.append(buf, static_cast<size_t>(std::max<ssize_t>(got, 0)));
        size_t end;
        while ((end = m_partial.find_first_of("\r\n")) != std::string::npos) {
            if (end > 0) {
                m_say("tstat: " + m_partial.substr(0, end));
            }
            m_partial.erase(0, end + 1);
        }
    }
    // At its end, or a line too long to wait for.
    bool ended = toTheEnd || got == 0;
    if ((ended || m_partial.size() > LineBuffer::MAX_LINE) && !m_partial.empty()) {
        m_say("tstat: " + m_partial);
        m_partial.clear();
    }
    if (ended) {
        m_output.reset();
    }
}

} // namespace sim
