// window_bench [RUNS] [PROGRAM...]: how long `talvo-gui` (or each PROGRAM,
// which reports the same way: bench/bare_window) takes from its start to the
// first paint of its main window, and its resident memory then (goals: 300 ms
// and 60 MB).  Several programs take turns, one start of each per round.  Each run starts the program afresh with --measure-start and the
// start time in TALVO_START_NS, taken just before the program is started;
// the program prints both figures at its first paint and closes.  Settings
// go to a scratch folder.  The display is whatever the environment gives
// (QT_QPA_PLATFORM, DISPLAY); without either, the offscreen platform.
// Prints each run and, per program, the medians in a line
// "NAME: first paint: MS ms, CPU: MS ms, RSS: MB MB (PLATFORM)" (CPU: the
// program's processor time until then, which a busy machine hardly changes).
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Run {
    double ms = -1;
    double cpuMs = -1;
    double rssMb = -1;
    std::string platform;
};

// Starts `program --measure-start` and reads its report (within 60 s).
Run runOnce(const std::string& program, const std::string& configDir) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TALVO_START_NS=", 15) != 0 && std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0)
            env.emplace_back(*e);
    env.push_back("XDG_CONFIG_HOME=" + configDir);
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        env.emplace_back("QT_QPA_PLATFORM=offscreen");
    env.emplace_back(); // TALVO_START_NS, set just before the start

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::string path = program;
    std::string option = "--measure-start";
    char* argv[] = {path.data(), option.data(), nullptr};

    timespec t0{};
    clock_gettime(CLOCK_MONOTONIC, &t0);
    env.back() = "TALVO_START_NS=" + std::to_string(static_cast<long long>(t0.tv_sec) * 1000000000LL + t0.tv_nsec);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return {};
    }
    std::string out;
    char buf[512];
    pollfd p{pipeFds[0], POLLIN, 0};
    while (poll(&p, 1, 60000) > 0) {
        const ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    kill(pid, SIGTERM); // only if it is still there after 60 s or a closed pipe
    int status = 0;
    waitpid(pid, &status, 0);

    // "first paint: 123.4 ms after the start, CPU 80.1 ms, RSS 45678 kB (offscreen)"
    Run r;
    double ms = 0, cpu = 0;
    long kb = 0;
    char platform[64] = "";
    if (const size_t at = out.find("first paint: "); at != std::string::npos &&
        std::sscanf(out.c_str() + at, "first paint: %lf ms after the start, CPU %lf ms, RSS %ld kB (%63[^)])", &ms, &cpu,
                    &kb, platform) == 4) {
        r.ms = ms;
        r.cpuMs = cpu;
        r.rssMb = kb / 1024.0;
        r.platform = platform;
    } else {
        std::fprintf(stderr, "window_bench: no report from %s; it said: %s\n", program.c_str(), out.c_str());
    }
    return r;
}

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::vector<std::string> programs;
    for (int i = 2; i < argc; ++i)
        programs.emplace_back(argv[i]);
    if (programs.empty())
        programs.emplace_back(TALVO_GUI);
    QTemporaryDir config;
    struct Figures {
        std::vector<double> ms, cpu, rss;
        std::string platform;
    };
    std::vector<Figures> figures(programs.size());
    std::printf("start to first paint of the window, %d rounds:\n", runs);
    // The first round (not counted) brings the programs and their libraries into the page cache.
    for (int round = -1; round < runs; ++round) {
        for (size_t k = 0; k < programs.size(); ++k) {
            const Run r = runOnce(programs[k], config.path().toStdString());
            if (r.ms < 0)
                return 1;
            if (round < 0)
                continue;
            std::printf("  %-12s run %d: %7.1f ms  CPU %7.1f ms  RSS %6.1f MB  (%s)\n", baseName(programs[k]).c_str(),
                        round + 1, r.ms, r.cpuMs, r.rssMb, r.platform.c_str());
            figures[k].ms.push_back(r.ms);
            figures[k].cpu.push_back(r.cpuMs);
            figures[k].rss.push_back(r.rssMb);
            figures[k].platform = r.platform;
        }
    }
    for (size_t k = 0; k < programs.size(); ++k)
        std::printf("%s: first paint: %.1f ms, CPU: %.1f ms, RSS: %.1f MB (%s)\n", baseName(programs[k]).c_str(),
                    median(figures[k].ms), median(figures[k].cpu), median(figures[k].rss), figures[k].platform.c_str());
    return 0;
}
