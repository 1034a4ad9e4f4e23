// boot_image_bench check FILE: one check of FILE, its outcome on stdout; exit 0 when sound.
// boot_image_bench compare FILE ROUNDS: the check against cksum of the same file, in turn, as
// whole processes (this program's check mode against cksum, each started and waited for) and
// the check alone inside this process; prints the median milliseconds and the ratios.
#include "procedures/boot_image.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Wall time of one run of argv as a process of its own; negative when it failed.
double runProcess(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    int status = 0;
    const bool ran = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
                     waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
                     WEXITSTATUS(status) == 0;
    const double ms = msSince(start);
    posix_spawn_file_actions_destroy(&actions);
    return ran ? ms : -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int check(const char* path) {
    const bootimage::Check c = bootimage::checkFile(QString::fromLocal8Bit(path));
    std::printf("status %d served %lld\n", int(c.status), static_cast<long long>(c.servedSize));
    return c.status == bootimage::Status::Ok ? 0 : 1;
}

int compare(const char* self, const char* path, int rounds) {
    std::vector<double> ours, cksum, inProcess;
    for (int i = 0; i < rounds; ++i) {
        // Alternate who goes first, so neither always gets the quieter moment.
        double o = 0, k = 0;
        if (i % 2 == 0) {
            o = runProcess({self, "check", path});
            k = runProcess({"cksum", path});
        } else {
            k = runProcess({"cksum", path});
            o = runProcess({self, "check", path});
        }
        if (o < 0 || k < 0) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
        ours.push_back(o);
        cksum.push_back(k);
        const Clock::time_point start = Clock::now();
        if (bootimage::checkFile(QString::fromLocal8Bit(path)).status != bootimage::Status::Ok)
            return 1;
        inProcess.push_back(msSince(start));
    }
    const double o = median(ours), k = median(cksum), p = median(inProcess);
    std::printf("median ms over %d rounds: check process %.2f, cksum process %.2f, "
                "check in-process %.2f\n",
                rounds, o, k, p);
    std::printf("ratio check/cksum as processes: %.2f; in-process check/cksum process: %.2f "
                "(target <= 1.00)\n",
                o / k, p / k);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "check" && argc == 3)
        return check(argv[2]);
    if (mode == "compare" && argc == 4)
        return compare(argv[0], argv[2], std::max(1, std::atoi(argv[3])));
    std::fprintf(stderr, "usage: boot_image_bench check FILE | compare FILE ROUNDS\n");
    return 2;
}
