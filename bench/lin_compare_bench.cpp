// The assignment file against a new fit's predictions at the sizes of a
// large analysis: a catalogue of 100,000 lines and an assignment file of 5,000
// records, 4,900 of them transitions of the catalogue (observed within a few
// errors of their prediction, some far off) and 100 that it lacks. Times the
// catalogue read and the comparison together (what C with the same name and
// ; do; wanted: 200 ms or less), the comparison alone, and the whole table of
// `korax catalog --lin`; checks that every record is matched or listed.
//
//   lin_compare_bench [RUNS]
#include "bench/timing.h"
#include "catalog/catalog.h"
#include "catalog/lin_compare.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

using namespace korax;

constexpr int LINES = 100000, RECORDS = 5000, MISSING = 100;

// Transition k: upper state k % 100, k / 100 % 100, k / 10000; lower state
// one higher in the last number. Every line a transition of its own.
void qn_fields(int k, int q[6]) {
    q[0] = k % 100;
    q[1] = k / 100 % 100;
    q[2] = k / 10000;
    q[3] = q[0];
    q[4] = q[1];
    q[5] = q[2] + 1;
}

double frequency(int k) {
    return 100000.0 + 3.0 * k;
}

void write_files(const std::string& cat, const std::string& lin) {
    std::ofstream c(cat, std::ios::binary);
    char line[160];
    for (int k = 0; k < LINES; ++k) {
        int q[6];
        qn_fields(k, q);
        std::snprintf(line, sizeof line,
                      "%13.4f%8.4f%8.4f%2d%10.4f%3d%7d%4d%2d%2d%2d      %2d%2d%2d      \n",
                      frequency(k), 0.0123, -5.0, 3, 12.3456, 21, 60503, 303, q[0], q[1], q[2],
                      q[3], q[4], q[5]);
        c << line;
    }
    std::ofstream l(lin, std::ios::binary);
    std::mt19937 random(4);
    std::normal_distribution<double> off(0.0, 1.5);
    for (int r = 0; r < RECORDS; ++r) {
        // The last ones lie beyond the catalogue's transitions.
        const int k = r < RECORDS - MISSING ? static_cast<int>(random() % LINES) : LINES + r;
        int q[6];
        qn_fields(k, q);
        const double error = 0.002;
        std::snprintf(line, sizeof line,
                      "%3d%3d%3d%3d%3d%3d                  %16.5f%11.4f%9.4f  ! scan%d.001\n", q[0],
                      q[1], q[2], q[3], q[4], q[5], frequency(k) + off(random) * error, error, 1.0,
                      r % 40);
        l << line;
    }
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 11;
    const auto dir = std::filesystem::temp_directory_path() / "korax_lin_compare_bench";
    std::filesystem::create_directories(dir);
    const std::string cat = (dir / "fit.cat").string(), lin = (dir / "lines.lin").string();
    write_files(cat, lin);

    AssignmentComparison last;
    const auto both = bench::time_runs(runs, [&] {
        Catalog c;
        if (!read_catalog(cat, c).error.empty()) std::exit(1);
        const Catalog* const list[] = {&c};
        last = compare_assignments(lin, list);
    });
    Catalog c;
    (void)read_catalog(cat, c);
    const Catalog* const list[] = {&c};
    const auto alone = bench::time_runs(runs, [&] { last = compare_assignments(lin, list); });
    std::size_t table_bytes = 0;
    const auto table = bench::time_runs(runs, [&] {
        std::ostringstream out, err;
        (void)write_comparison_table(lin, cat, out, err);
        table_bytes = out.str().size();
    });

    const auto row = [](const char* what, const bench::Timing& t) {
        std::printf("  %-48s median %7.2f ms (min %7.2f, max %7.2f; processor %7.2f)\n", what,
                    t.median_ms, t.min_ms, t.max_ms, t.cpu_ms);
    };
    std::printf("A catalogue of %d lines against an assignment file of %d records, %d runs\n",
                LINES, RECORDS, runs);
    row("catalogue read and compared (C again, ;)", both);
    row("the comparison alone", alone);
    row("korax catalog --lin, the whole table", table);
    std::printf("  %s\n  every record %s (%zu matched, %zu listed without a prediction); table %zu "
                "bytes\n",
                comparison_summary(last).c_str(),
                last.matched + last.missing == RECORDS && last.missing == MISSING
                    ? "accounted for"
                    : "NOT accounted for",
                last.matched, last.missing, table_bytes);
    std::filesystem::remove_all(dir);
    return last.matched + last.missing == RECORDS && last.missing == MISSING ? 0 : 1;
}
