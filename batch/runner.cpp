// The pool of the batch commands and its progress bar. Each finished file is
// printed as soon as every file before it is printed, so that output streams in
// order instead of waiting for the end.
#include "batch/runner.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include <sched.h>
#include <unistd.h>

namespace korax {

namespace {

std::atomic<bool> g_stop{false};
std::atomic<std::size_t> g_lines_done{0}, g_lines_total{0};

extern "C" void on_stop_signal(int signal_number) {
    g_stop.store(true);
    // A second Ctrl-C ends the process at once; the files already in place are
    // whole either way, since each is renamed into place only when complete.
    std::signal(signal_number, SIG_DFL);
}

std::string clock_text(double seconds) {
    const long s = std::lround(std::max(0.0, seconds));
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

class ProgressBar {
  public:
    explicit ProgressBar(std::size_t total) : m_total(total), m_on(::isatty(STDERR_FILENO) == 1) {
        m_start = std::chrono::steady_clock::now();
    }
    void show(std::size_t done, const std::string& current) {
        if (!m_on) return;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        constexpr int width = 24;
        const int filled = int(width * done / std::max<std::size_t>(1, m_total));
        std::string line = "\r[" + std::string(std::size_t(filled), '#') +
                           std::string(std::size_t(width - filled), '.') + "] " +
                           std::to_string(done) + "/" + std::to_string(m_total);
        if (done > 0 && done < m_total)
            line += "  " + clock_text(elapsed / double(done) * double(m_total - done)) + " left";
        std::string name = current;
        if (name.size() > 36) name = "..." + name.substr(name.size() - 33);
        if (!name.empty()) line += "  " + name;
        if (const std::size_t lines = g_lines_total.load(); lines > 0)
            line += "  " + std::to_string(std::min(g_lines_done.load(), lines)) + "/" +
                    std::to_string(lines) + " lines";
        line += "\x1b[K";
        std::cerr << line << std::flush;
        m_shown = true;
    }
    // Wipes the bar so that a message can take its line.
    void clear() {
        if (m_shown) std::cerr << "\r\x1b[K" << std::flush;
        m_shown = false;
    }

  private:
    std::size_t m_total;
    bool m_on;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_start;
};

} // namespace

void report_lines(std::size_t done, std::size_t total) {
    g_lines_done.store(done);
    g_lines_total.store(total);
}

const std::atomic<bool>& stop_requested() {
    return g_stop;
}

void catch_stop_signals() {
    g_stop.store(false);
    std::signal(SIGINT, on_stop_signal);
    std::signal(SIGTERM, on_stop_signal);
}

int processor_count() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

int run_files(const std::vector<std::string>& files, int jobs, const std::string& command,
              const std::function<FileOutcome(std::size_t, int)>& job) {
    const std::size_t total = files.size();
    const int workers = int(std::clamp<std::size_t>(std::size_t(std::max(1, jobs)), 1,
                                                    std::max<std::size_t>(1, total)));
    const int threads_each = std::max(1, processor_count() / workers);

    // Not cleared here: a Ctrl-C while the command line was checked counts.
    auto old_int = std::signal(SIGINT, on_stop_signal);
    auto old_term = std::signal(SIGTERM, on_stop_signal);

    std::vector<std::optional<FileOutcome>> results(total);
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t next = 0;
    std::string current;

    auto work = [&] {
        for (;;) {
            std::size_t i;
            {
                std::lock_guard lock(mutex);
                if (next >= total || g_stop.load()) return;
                i = next++;
                current = files[i];
                report_lines(0, 0);
            }
            FileOutcome outcome;
            try {
                outcome = job(i, threads_each);
            } catch (const std::exception& e) {
                outcome.ok = false;
                outcome.err = command + ": " + files[i] + ": " + e.what() + "\n";
            }
            {
                std::lock_guard lock(mutex);
                results[i] = std::move(outcome);
            }
            finished.notify_one();
        }
    };
    std::vector<std::thread> pool;
    for (int k = 1; k < workers; ++k)
        pool.emplace_back(work);
    std::thread first(work);

    ProgressBar bar(total);
    std::size_t printed = 0, failed = 0, cut_short = 0;
    bool interrupted = false;
    {
        std::unique_lock lock(mutex);
        for (;;) {
            bar.show(printed, current);
            finished.wait_for(lock, std::chrono::milliseconds(250),
                              [&] { return printed < total && results[printed].has_value(); });
            while (printed < total && results[printed]) {
                FileOutcome& o = *results[printed];
                if (!o.out.empty() || !o.err.empty()) bar.clear();
                std::cout << o.out << std::flush;
                std::cerr << o.err << std::flush;
                if (!o.ok) ++failed;
                if (o.cut_short) ++cut_short;
                o = FileOutcome{};
                ++printed;
            }
            if (printed == total) break;
            // Interrupted: wait only for the files already taken.
            if (g_stop.load() && next <= printed) {
                interrupted = true;
                break;
            }
        }
    }
    first.join();
    for (auto& t : pool)
        t.join();
    // Files that were running when Ctrl-C came are printed with what they said.
    for (; printed < total && results[printed]; ++printed) {
        bar.clear();
        std::cout << results[printed]->out << std::flush;
        std::cerr << results[printed]->err << std::flush;
        if (!results[printed]->ok) ++failed;
        if (results[printed]->cut_short) ++cut_short;
    }
    bar.clear();
    if (g_stop.load()) interrupted = true;
    std::signal(SIGINT, old_int);
    std::signal(SIGTERM, old_term);
    if (interrupted) {
        std::cerr << command << ": interrupted; " << printed - failed << " of " << total
                  << " files done";
        if (cut_short > 0)
            std::cerr << " (" << cut_short << " of them up to where the stop came, as said)";
        std::cerr << ", nothing half-written left in place\n";
        return EXIT_INTERRUPTED;
    }
    return failed > 0 ? EXIT_FAILED : 0;
}

} // namespace korax
