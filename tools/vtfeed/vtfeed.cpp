// vtfeed: feeds a recorded byte stream through the terminal core without any window.
//
//   vtfeed [-a] FILE        feed FILE in 4096-byte slices, print the final screen
//   vtfeed -k [-a] FILE     also print the screen at each offset of FILE.checkpoints
//                           (lines "offset<TAB>label"; no slice crosses a checkpoint)
//   vtfeed -t [-m MB] FILE...
//                           throughput: one line "NAME<TAB>BYTES<TAB>MB/s" per file, the best
//                           of 5 runs, each feeding FILE repeatedly until >= MB (16) went in
//   vtfeed -o FILE          feed FILE once through feed_all() and print nothing (profilers)
//
// Exit status: 0 done, 1 unreadable input, 2 bad command line.
#include "terminal/screen_dump.h"
#include "terminal/terminal_buffer.h"
#include "terminal/vt100_emulator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kChunk = 4096;
constexpr std::uint64_t kTimedBytes = 16u * 1000u * 1000u;
constexpr int kTimedRuns = 5;

struct Terminal {
    terminal::TTerminalBuffer buffer;
    terminal::TVT100Emulator emulator{buffer};
    std::string replies;
    Terminal() {
        emulator.setWriter([this](std::string_view bytes) { replies.append(bytes); });
    }
};

Terminal* g_terminal = nullptr;

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void feedSlices(Terminal& t, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const std::size_t n = size < kChunk ? size : kChunk;
        t.emulator.feed(data, n);
        data += n;
        size -= n;
    }
}

struct Checkpoint {
    std::uint64_t offset;
    std::string label;
};

// Lines "offset<TAB>label"; blank lines and lines starting with "#" are skipped. Offsets
// beyond the file or out of order are an error (a silently skipped screen would hide a fault).
bool readCheckpoints(const std::string& path, std::uint64_t fileSize,
                     std::vector<Checkpoint>& out) {
    std::string text;
    if (!readFile(path, text)) {
        std::fprintf(stderr, "vtfeed: cannot read %s\n", path.c_str());
        return false;
    }
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        const auto tab = line.find('\t');
        char* end = nullptr;
        const std::string digits = line.substr(0, tab);
        const unsigned long long offset = std::strtoull(digits.c_str(), &end, 10);
        if (digits.empty() || *end != '\0' || offset > fileSize ||
            (!out.empty() && offset < out.back().offset)) {
            std::fprintf(stderr, "vtfeed: %s:%d: bad checkpoint\n", path.c_str(), number);
            return false;
        }
        out.push_back({offset, tab == std::string::npos ? std::string() : line.substr(tab + 1)});
    }
    return true;
}

int dumpStream(const std::string& path, bool withCheckpoints, bool attributes) {
    std::string data;
    if (!readFile(path, data)) {
        std::fprintf(stderr, "vtfeed: cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<Checkpoint> checkpoints;
    if (withCheckpoints && !readCheckpoints(path + ".checkpoints", data.size(), checkpoints))
        return 1;
    terminal::DumpOptions options;
    options.attributes = attributes;
    Terminal t;
    std::string out = terminal::dumpHeader(baseName(path), data.size(), t.buffer.rows(),
                                           t.buffer.columns(), kChunk, checkpoints.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    std::uint64_t position = 0;
    auto feedTo = [&](std::uint64_t target) {
        while (position < target) {
            const std::uint64_t n = std::min<std::uint64_t>(kChunk, target - position);
            t.emulator.feed(bytes + position, static_cast<std::size_t>(n));
            position += n;
        }
    };
    for (const Checkpoint& cp : checkpoints) {
        feedTo(cp.offset);
        out += terminal::dumpBlock(t.buffer, cp.offset, cp.label, t.replies, options);
        t.replies.clear();
    }
    feedTo(data.size());
    out += terminal::dumpBlock(t.buffer, data.size(), "END", t.replies, options);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int timeStreams(const std::vector<std::string>& paths, std::uint64_t bytesPerRun) {
    for (const std::string& path : paths) {
        std::string data;
        if (!readFile(path, data) || data.empty()) {
            std::fprintf(stderr, "vtfeed: cannot read %s (or it is empty)\n", path.c_str());
            return 1;
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        double best = 0;
        for (int run = 0; run < kTimedRuns; ++run) {
            auto t = std::make_unique<Terminal>();
            std::uint64_t fed = 0;
            const auto start = std::chrono::steady_clock::now();
            while (fed < bytesPerRun) {
                feedSlices(*t, bytes, data.size());
                fed += data.size();
            }
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            const double rate = static_cast<double>(fed) / 1e6 / took.count();
            best = rate > best ? rate : best;
        }
        std::printf("%s\t%zu\t%.1f\n", baseName(path).c_str(), data.size(), best);
    }
    return 0;
}

int usage() {
    std::fprintf(stderr, "usage: vtfeed [-k] [-a] FILE\n       vtfeed -t [-m MB] FILE...\n"
                         "       vtfeed -o FILE\n");
    return 2;
}

} // namespace

// Kept out of line and unmangled so a profiler can count exactly the feeding work.
extern "C" __attribute__((noinline)) void feed_all(const unsigned char* data, std::size_t size) {
    feedSlices(*g_terminal, data, size);
}

int main(int argc, char** argv) {
    bool checkpoints = false;
    bool attributes = false;
    bool timed = false;
    bool once = false;
    std::uint64_t bytesPerRun = kTimedBytes;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-k")
            checkpoints = true;
        else if (arg == "-a")
            attributes = true;
        else if (arg == "-t")
            timed = true;
        else if (arg == "-o")
            once = true;
        else if (arg == "-m" && i + 1 < argc) {
            const int mb = std::atoi(argv[++i]);
            if (mb < 1 || mb > 4096)
                return usage();
            bytesPerRun = std::uint64_t(mb) * 1000u * 1000u;
        } else if (arg.size() > 1 && arg[0] == '-')
            return usage();
        else
            files.push_back(arg);
    }
    if (files.empty() || (timed && once))
        return usage();
    if (timed)
        return timeStreams(files, bytesPerRun);
    if (files.size() != 1)
        return usage();
    if (once) {
        std::string data;
        if (!readFile(files[0], data)) {
            std::fprintf(stderr, "vtfeed: cannot read %s\n", files[0].c_str());
            return 1;
        }
        Terminal t;
        g_terminal = &t;
        feed_all(reinterpret_cast<const unsigned char*>(data.data()), data.size());
        g_terminal = nullptr;
        return 0;
    }
    return dumpStream(files[0], checkpoints, attributes);
}
