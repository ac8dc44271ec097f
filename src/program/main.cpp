#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstring>
#include <string>

#include "program/headless_main.h"

namespace {

// Where the window module lies beside the program: in the build folder next to it, installed in
// the library folder of the same prefix.
std::string moduleBeside(const char* relative) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return relative;
    std::string dir(self, static_cast<std::size_t>(n));
    dir.resize(dir.rfind('/') + 1);
    return dir + relative;
}

int runWindow(int argc, char* argv[]) {
    void* module = nullptr;
    for (const char* where : {"linetap-window.so", LINETAP_WINDOW_MODULE}) {
        module = ::dlopen(moduleBeside(where).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module) break;
    }
    if (!module) {
        std::fprintf(stderr, "linetap: the window cannot be loaded: %s\n", ::dlerror());
        return 1;
    }
    using Entry = int (*)(int, char**);
    auto entry = reinterpret_cast<Entry>(::dlsym(module, "linetapWindowMain"));
    if (!entry) {
        std::fprintf(stderr, "linetap: the window module is damaged: %s\n", ::dlerror());
        return 1;
    }
    return entry(argc, argv);
}

// What the process-wide setup holds for window and headless alike: a reader that leaves (a pipe
// closed, SIGPIPE) or a file size limit (SIGXFSZ) fails the write that met it, never the program;
// a standard descriptor that was closed is /dev/null, so no port or file opened later takes its
// number and gets the messages meant for standard error.
void setUpProcess() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

}  // namespace

// Without options the program opens its window; `--headless` (and --help, --version) run without
// one.
int main(int argc, char* argv[]) {
    setUpProcess();
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "--headless") || !std::strcmp(a, "--help") || !std::strcmp(a, "-h") ||
            !std::strcmp(a, "--version"))
            return lt::headlessMain(argc, argv);
    }
    return runWindow(argc, argv);
}
