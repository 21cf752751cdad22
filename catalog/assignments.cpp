// Reading, composing and writing the records of the assignment file.
#include "catalog/assignments.h"

#include "base/file_lock.h"
#include "base/input_file.h"
#include "base/safe_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace korax {

namespace {

std::optional<int> i3_field(std::string_view record, std::size_t k) {
    std::size_t at = 3 * k;
    if (at >= record.size()) return 0;
    std::string_view f = record.substr(at, 3);
    while (!f.empty() && f.front() == ' ')
        f.remove_prefix(1);
    while (!f.empty() && f.back() == ' ')
        f.remove_suffix(1);
    if (f.empty()) return 0;
    int sign = 1;
    if (f.front() == '-' || f.front() == '+') {
        sign = f.front() == '-' ? -1 : 1;
        f.remove_prefix(1);
    }
    if (f.empty()) return std::nullopt;
    int v = 0;
    for (char c : f) {
        if (c < '0' || c > '9') return std::nullopt;
        v = 10 * v + (c - '0');
    }
    return sign * v;
}

} // namespace

namespace {

// The decimal exponent of `v` (> 0) as rounded to two significant digits:
// 0.00014 -> -4, and 0.000996 -> -3, since it rounds to 0.0010.
int two_digit_exponent(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1e", v);
    return std::atoi(std::strchr(text, 'e') + 1);
}

} // namespace

std::optional<std::string> lin_line(const QuantumNumbers& q, double freq, double unc, double weight,
                                    std::string_view comment, FrequencyUnit unit,
                                    int weight_decimals) {
    if (!std::isfinite(freq) || !std::isfinite(unc) || !std::isfinite(weight) || !(unc > 0))
        return std::nullopt;
    std::string record;
    char field[32];
    for (int k = 0; k < 2 * q.n; ++k) {
        int v = q.values[static_cast<std::size_t>(k)];
        if (v < -99 || v > 999) return std::nullopt;
        std::snprintf(field, sizeof field, "%3d", v);
        record += field;
    }
    record.resize(36, ' ');

    // The fit weighs a line by 1 / error^2: 0.00006 and 0.00014 written as
    // 0.0001 would be off by up to 2.8 times, so the error keeps two digits
    // and the frequency as many decimals as they reach.
    const int error_decimals = 1 - two_digit_exponent(unc);
    const double magnitude = std::abs(freq);
    const int whole_digits = magnitude >= 1 ? static_cast<int>(std::log10(magnitude)) + 1 : 1;
    // Beyond DBL_DIG significant digits a double holds no more decimals of its own.
    const int freq_decimals = std::clamp(
        error_decimals, 4, std::max(4, std::numeric_limits<double>::digits10 - whole_digits));
    const double signed_unc = unit == FrequencyUnit::Wavenumber ? -unc : unc;
    char error_text[32], weight_text[32];
    if (error_decimals >= 0 && error_decimals <= 12)
        std::snprintf(error_text, sizeof error_text, "%.*f", error_decimals, signed_unc);
    else
        std::snprintf(error_text, sizeof error_text, "%.1E", signed_unc);
    std::snprintf(weight_text, sizeof weight_text, "%.*f", std::clamp(weight_decimals, 0, 15),
                  weight);
    if (weight_decimals == 4 && weight != 0 && std::strtod(weight_text, nullptr) == 0)
        std::snprintf(weight_text, sizeof weight_text, "%.1E", weight);
    char numbers[400];
    std::snprintf(numbers, sizeof numbers, " %15.*f %10s %8s", freq_decimals, freq, error_text,
                  weight_text);
    record += numbers;
    if (!comment.empty()) {
        record += "  ! ";
        record += comment;
    }
    return record;
}

std::optional<std::array<int, 12>> record_fields(std::string_view record) {
    std::array<int, 12> fields{};
    for (std::size_t k = 0; k < fields.size(); ++k) {
        auto v = i3_field(record, k);
        if (!v) return std::nullopt;
        fields[k] = *v;
    }
    return fields;
}

std::array<int, 12> transition_fields(const QuantumNumbers& q) {
    std::array<int, 12> fields{};
    for (int k = 0; k < 2 * q.n; ++k)
        fields[static_cast<std::size_t>(k)] = q.values[static_cast<std::size_t>(k)];
    return fields;
}

bool same_transition(std::string_view record, const QuantumNumbers& q) {
    auto fields = record_fields(record);
    return fields && *fields == transition_fields(q);
}

bool assignment_line(std::string_view line) {
    for (unsigned char c : line)
        if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '!') return true;
    if (line.size() <= 36 || !record_fields(line)) return false;
    // The frequency: a number right after the quantum numbers, ended as the
    // fitting program's free-format reading ends it (a comma too).
    const std::string rest(line.substr(36, 64));
    char* end = nullptr;
    std::strtod(rest.c_str(), &end);
    return end != rest.c_str() && (*end == '\0' || *end == ' ' || *end == '\t' || *end == ',');
}

namespace {

constexpr std::size_t READ_BLOCK = 1 << 16;

std::string refused(std::size_t line, const char* what) {
    return "not an assignment file: line " + std::to_string(line) + " " + what;
}

} // namespace

AssignmentScan scan_assignments(const std::string& path, const AssignmentLine& each) {
    AssignmentScan scan;
    std::string why;
    const int fd = open_input_descriptor(path, &why);
    if (fd < 0) {
        if (why != std::strerror(ENOENT)) scan.error = why;
        return scan;
    }
    scan.exists = true;
    std::vector<char> block(READ_BLOCK);
    std::string line; // the line read so far, CR included
    bool stopped = false;
    // One line complete with its end: checked, then handed over.
    const auto hand_over = [&](std::string_view end) {
        std::string_view text = line;
        if (end == "\n" && !text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
            end = "\r\n";
        }
        ++scan.lines;
        if (!assignment_line(text)) {
            const bool binary = std::any_of(text.begin(), text.end(), [](unsigned char c) {
                return (c < 0x20 && c != '\t') || c == 0x7f;
            });
            scan.error = refused(scan.lines, binary ? "holds binary bytes"
                                                    : "is neither a record nor a comment");
            return false;
        }
        if (each && !each(text, end)) stopped = true;
        line.clear();
        return !stopped;
    };
    for (;;) {
        const long got = read_input(fd, block.data(), block.size());
        if (got < 0) {
            scan.error = std::strerror(errno);
            break;
        }
        if (got == 0) {
            if (!line.empty()) hand_over("");
            break;
        }
        std::string_view data(block.data(), static_cast<std::size_t>(got));
        bool go_on = true;
        while (go_on && !data.empty()) {
            const auto nl = data.find('\n');
            const std::string_view piece = data.substr(0, nl);
            // A CR may still come before the LF of a line of the longest length.
            if (line.size() + piece.size() > MAX_ASSIGNMENT_LINE + 1) {
                scan.error = refused(
                    scan.lines + 1,
                    ("is longer than " + std::to_string(MAX_ASSIGNMENT_LINE) + " bytes").c_str());
                go_on = false;
                break;
            }
            line += piece;
            if (nl == std::string_view::npos) break;
            data.remove_prefix(nl + 1);
            go_on = hand_over("\n");
        }
        if (!go_on) break;
    }
    ::close(fd);
    return scan;
}

BlendWeights normalised_weights(const std::vector<double>& linear) {
    BlendWeights w;
    if (linear.empty()) return w;
    double total = 0;
    for (double x : linear)
        total += std::isfinite(x) && x > 0 ? x : 0;
    std::vector<double> share(linear.size(), 1.0 / static_cast<double>(linear.size()));
    if (total > 0 && std::isfinite(total))
        for (std::size_t i = 0; i < linear.size(); ++i)
            share[i] = std::isfinite(linear[i]) && linear[i] > 0 ? linear[i] / total : 0;
    const double smallest = *std::min_element(share.begin(), share.end());
    // Two significant digits of the weakest line, as far as 12 places reach.
    while (w.decimals < 12 && smallest * std::pow(10.0, w.decimals) < 9.95)
        ++w.decimals;
    // In units of the last place, so that the digits written add up to 1.
    const auto unit = static_cast<long long>(std::llround(std::pow(10.0, w.decimals)));
    std::vector<long long> units(share.size());
    long long sum = 0;
    for (std::size_t i = 0; i < share.size(); ++i) {
        units[i] = std::max(1LL, std::llround(share[i] * static_cast<double>(unit)));
        sum += units[i];
    }
    // The rounding's remainder goes to the strongest line, where it weighs least.
    const auto strongest =
        static_cast<std::size_t>(std::max_element(units.begin(), units.end()) - units.begin());
    units[strongest] += unit - sum;
    for (long long u : units)
        w.values.push_back(static_cast<double>(u) / static_cast<double>(unit));
    return w;
}

BlendWeights blend_weights(const std::vector<double>& lgint, bool equal) {
    std::vector<double> linear(lgint.size(), 1.0);
    if (!equal && !lgint.empty()) {
        // Relative to the strongest: 10^lgint alone would underflow far down.
        const double top = *std::max_element(lgint.begin(), lgint.end());
        for (std::size_t i = 0; i < lgint.size(); ++i)
            linear[i] = std::pow(10.0, lgint[i] - top);
    }
    return normalised_weights(linear);
}

std::string weight_text(double w, int decimals) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*f", decimals, w);
    return text;
}

namespace {

// The free-format numbers from column 37 as [begin, end) spans of `line`.
struct Token {
    std::size_t begin = 0, end = 0;
    double value = 0;
};
std::vector<Token> number_tokens(std::string_view line, std::size_t count) {
    std::vector<Token> tokens;
    if (line.size() <= 36) return tokens;
    const std::string rest(line.substr(36));
    const char* p = rest.c_str();
    while (tokens.size() < count) {
        while (*p == ' ' || *p == ',' || *p == '\t')
            ++p;
        char* end = nullptr;
        const double v = std::strtod(p, &end);
        if (end == p) break;
        const auto at = static_cast<std::size_t>(p - rest.c_str()) + 36;
        tokens.push_back({at, at + static_cast<std::size_t>(end - p), v});
        p = end;
    }
    return tokens;
}

// `line` with its weight (the third number) written as `text`.
std::string with_weight(std::string_view line, const std::string& text) {
    const auto tokens = number_tokens(line, 3);
    std::string out(line);
    if (tokens.size() == 3)
        out.replace(tokens[2].begin, tokens[2].end - tokens[2].begin, text);
    else if (tokens.size() == 2)
        out.insert(tokens[1].end, " " + text);
    return out;
}

// A record of the file that a change concerns: where it is and what it holds.
struct Member {
    std::size_t line = 0; // 1-based
    std::array<int, 12> fields{};
    double weight = 1;
    std::string text;
};
using Blend = std::vector<Member>; // adjacent records of one blend; one record alone

// What the first reading of the file found: the first line of each wanted
// transition and the blend it is part of.
struct Found {
    std::size_t lines = 0;
    std::string eol;                            // of the first line
    std::vector<std::optional<std::size_t>> at; // per wanted transition: index into blends
    std::vector<Blend> blends;
    std::string error;
};

Found find_transitions(const std::string& path, const std::vector<std::array<int, 12>>& wanted) {
    Found f;
    f.at.assign(wanted.size(), std::nullopt);
    Blend run;
    std::optional<RecordNumbers> run_last;
    std::vector<std::size_t> run_wanted; // indices into `wanted` found in `run`
    const auto close_run = [&] {
        if (!run_wanted.empty()) {
            for (std::size_t k : run_wanted)
                f.at[k] = f.blends.size();
            f.blends.push_back(std::move(run));
        }
        run.clear();
        run_wanted.clear();
    };
    const AssignmentScan scan =
        scan_assignments(path, [&](std::string_view line, std::string_view end) {
            if (f.eol.empty() && !end.empty()) f.eol = end;
            const std::size_t number = ++f.lines;
            const auto numbers = record_numbers(line);
            if (!numbers) return true; // a comment or a blank line parts no blend
            if (!run_last || !same_blend(*run_last, *numbers)) close_run();
            run_last = numbers;
            run.push_back({number, numbers->fields, numbers->weight, std::string(line)});
            for (std::size_t k = 0; k < wanted.size(); ++k)
                if (!f.at[k] && numbers->fields == wanted[k] &&
                    std::find(run_wanted.begin(), run_wanted.end(), k) == run_wanted.end()) {
                    // Marked now, so that a later line of it is not taken as first.
                    f.at[k] = 0;
                    run_wanted.push_back(k);
                }
            return true;
        });
    close_run();
    f.error = scan.error;
    return f;
}

// How the second reading rewrites the file: lines replaced or dropped, and
// records put before a line (lines + 1: at the end).
struct Plan {
    std::map<std::size_t, std::optional<std::string>> lines; // nullopt: dropped
    std::size_t insert_before = 0;                           // 0: nothing to insert
    std::vector<std::string> inserted;
};

// The rest of a blend that lost records, its weights normalised again.
void renormalise(Plan& plan, const Blend& blend) {
    std::vector<const Member*> rest;
    for (const Member& m : blend)
        if (!plan.lines.contains(m.line)) rest.push_back(&m);
    if (rest.empty() || rest.size() == blend.size()) return;
    std::vector<double> linear;
    for (const Member* m : rest)
        linear.push_back(m->weight);
    const BlendWeights w = normalised_weights(linear);
    for (std::size_t i = 0; i < rest.size(); ++i)
        plan.lines[rest[i]->line] =
            with_weight(rest[i]->text, weight_text(w.values[i], w.decimals));
}

// The blend after the plan dropped some of its records: the rest renormalised,
// the dropped ones told to the caller.
void drop_from_blend(Plan& plan, const Blend& blend, AssignOutcome& outcome) {
    renormalise(plan, blend);
    for (const Member& m : blend)
        if (plan.lines.contains(m.line) && !plan.lines[m.line]) outcome.removed.push_back(m.fields);
}

AssignOutcome failed_with(std::string why) {
    AssignOutcome outcome;
    outcome.status = AssignStatus::Failed;
    outcome.text = std::move(why);
    return outcome;
}

// Reads the file under its lock, lets `decide` make the plan from what was
// found (or fill the outcome and return false to write nothing), and writes
// the file once through SafeFile. The second reading must find the lines the
// plan names as they were.
AssignOutcome rewrite(const std::string& path, const std::vector<std::array<int, 12>>& wanted,
                      const std::function<bool(const Found&, Plan&, AssignOutcome&)>& decide,
                      const std::function<void()>& waiting) {
    AssignOutcome outcome;
    FileLock lock;
    if (!lock.lock(path, std::chrono::seconds(10), waiting)) return failed_with(lock.error_text());

    const Found found = find_transitions(path, wanted);
    if (!found.error.empty()) return failed_with(found.error);
    Plan plan;
    // Decided before the temporary is made: a file left as it is leaves no
    // temporary to remove either.
    if (!decide(found, plan, outcome)) return outcome;
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    SafeFile out;
    switch (out.open(path, exists ? OpenMode::Unknown : OpenMode::New)) {
    case SafeFile::Status::Ok:
        break;
    case SafeFile::Status::Exists:
        // Only a dangling link leading out of its folder gets here.
        return failed_with("a link to a file elsewhere that does not exist yet: not followed");
    case SafeFile::Status::Error:
        return failed_with(out.error_text());
    }

    std::map<std::size_t, std::array<int, 12>> expected;
    for (const Blend& b : found.blends)
        for (const Member& m : b)
            expected[m.line] = m.fields;
    const std::string eol = found.eol.empty() ? "\r\n" : found.eol;
    // The records as they go out, in runs of one blend: new records written
    // next to records of the same frequency from an earlier T would be read
    // as one blend with weights adding up to more than 1.
    std::optional<RecordNumbers> run_last;
    double run_weight = 0;
    bool run_new = false, overfull = false;
    const auto close_run = [&] {
        if (run_new && run_weight > 1 + 1e-6) overfull = true;
        run_weight = 0;
        run_new = false;
    };
    const auto follow = [&](std::string_view text, bool inserted) {
        const auto numbers = record_numbers(text);
        if (!numbers) return;
        if (!run_last || !same_blend(*run_last, *numbers)) close_run();
        run_last = numbers;
        run_weight += numbers->weight;
        run_new = run_new || inserted;
    };
    const auto write_inserted = [&] {
        for (const std::string& r : plan.inserted) {
            follow(r, true);
            out.write(r);
            out.write(eol);
        }
    };
    std::size_t number = 0;
    bool changed = false;
    const AssignmentScan scan = scan_assignments(path, [&](std::string_view line,
                                                           std::string_view end) {
        ++number;
        if (const auto e = expected.find(number); e != expected.end()) {
            const auto fields = record_fields(line);
            if (!fields || *fields != e->second) {
                changed = true;
                return false;
            }
        }
        if (number == plan.insert_before) write_inserted();
        const auto p = plan.lines.find(number);
        if (p == plan.lines.end()) {
            follow(line, false);
            out.write(line);
        } else if (p->second) {
            follow(*p->second, false);
            out.write(*p->second);
        } else {
            return true; // dropped with its line end
        }
        // A last line without its end gets one when records follow it.
        out.write(end.empty() && plan.insert_before > found.lines ? std::string_view(eol) : end);
        return true;
    });
    if (!scan.error.empty()) return failed_with(scan.error);
    if (changed || number != found.lines)
        return failed_with("the file changed while it was read; try again");
    if (plan.insert_before > found.lines) write_inserted();
    close_run();
    if (overfull) {
        out.abandon();
        return failed_with("a blend of this frequency is beside them: assign all in one T");
    }
    if (!out.commit()) return failed_with(out.error_text());
    outcome.status = AssignStatus::Written;
    outcome.text = out.error_text();
    return outcome;
}

std::vector<std::array<int, 12>> fields_of(const std::vector<Assignment>& records) {
    std::vector<std::array<int, 12>> wanted;
    for (const Assignment& a : records)
        wanted.push_back(transition_fields(a.q));
    return wanted;
}

// The first record of wanted transition k (found) in its blend.
const Member& first_record(const Found& f, std::size_t k, const std::array<int, 12>& fields) {
    const Blend& b = f.blends[*f.at[k]];
    return *std::find_if(b.begin(), b.end(), [&](const Member& m) { return m.fields == fields; });
}

} // namespace

std::optional<RecordNumbers> record_numbers(std::string_view line) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '!') return std::nullopt;
    const auto fields = record_fields(line);
    if (!fields) return std::nullopt;
    const auto tokens = number_tokens(line, 3);
    if (tokens.empty()) return std::nullopt;
    RecordNumbers r;
    r.fields = *fields;
    r.freq = tokens[0].value;
    if (tokens.size() > 1) r.unc = tokens[1].value;
    if (tokens.size() > 2) {
        r.weight = tokens[2].value;
        r.has_weight = true;
    }
    return r;
}

bool same_blend(const RecordNumbers& a, const RecordNumbers& b) {
    return a.freq == b.freq && a.weight < 1 && b.weight < 1;
}

AssignOutcome write_assignments(const std::string& path, const std::vector<Assignment>& records,
                                bool replace, const std::function<void()>& waiting) {
    const auto wanted = fields_of(records);
    return rewrite(
        path, wanted,
        [&](const Found& f, Plan& plan, AssignOutcome& outcome) {
            std::vector<std::size_t> lines; // the first line of each transition there
            for (std::size_t k = 0; k < wanted.size(); ++k)
                if (f.at[k]) lines.push_back(first_record(f, k, wanted[k]).line);
            if (!lines.empty() && !replace) {
                const std::size_t k = static_cast<std::size_t>(
                    std::find_if(f.at.begin(), f.at.end(), [](auto& a) { return a.has_value(); }) -
                    f.at.begin());
                const Blend& b = f.blends[*f.at[k]];
                outcome.status = AssignStatus::AssignedAlready;
                outcome.line = first_record(f, k, wanted[k]).text;
                outcome.blend = b.size();
                return false;
            }
            outcome.replaced = !lines.empty();
            if (records.size() == 1 && !lines.empty()) {
                // A measured line measured again: every record of its blend
                // takes the new numbers, each keeping its own weight.
                const Blend& b = f.blends[*f.at[0]];
                outcome.blend = b.size();
                const std::string_view numbers =
                    std::string_view(records[0].record)
                        .substr(std::min<std::size_t>(36, records[0].record.size()));
                for (const Member& m : b) {
                    if (b.size() == 1) {
                        plan.lines[m.line] = records[0].record;
                        break;
                    }
                    const auto tokens = number_tokens(m.text, 3);
                    std::string text = (m.text.substr(0, 36) + std::string(numbers));
                    if (tokens.size() == 3)
                        text = with_weight(
                            text, m.text.substr(tokens[2].begin, tokens[2].end - tokens[2].begin));
                    plan.lines[m.line] = text;
                }
                return true;
            }
            for (std::size_t line : lines)
                plan.lines[line] = std::nullopt;
            plan.insert_before = f.lines + 1;
            if (!lines.empty()) {
                plan.insert_before = *std::min_element(lines.begin(), lines.end());
                // Not inside what stays of a blend: after it.
                for (const Blend& b : f.blends) {
                    bool before = false, after = false;
                    for (const Member& m : b)
                        if (!plan.lines.contains(m.line))
                            (m.line < plan.insert_before ? before : after) = true;
                    if (before && after)
                        for (const Member& m : b)
                            plan.insert_before = std::max(plan.insert_before, m.line + 1);
                }
            }
            for (const Blend& b : f.blends)
                renormalise(plan, b);
            for (const Assignment& a : records)
                plan.inserted.push_back(a.record);
            return true;
        },
        waiting);
}

AssignOutcome write_assignment(const std::string& path, const QuantumNumbers& q,
                               std::string_view record, bool replace,
                               const std::function<void()>& waiting) {
    return write_assignments(path, {Assignment{q, std::string(record)}}, replace, waiting);
}

AssignOutcome remove_assignment(const std::string& path, const QuantumNumbers& q, bool whole_blend,
                                const std::function<void()>& waiting) {
    const std::vector<std::array<int, 12>> wanted{transition_fields(q)};
    return rewrite(
        path, wanted,
        [&](const Found& f, Plan& plan, AssignOutcome& outcome) {
            if (!f.at[0]) {
                outcome.status = AssignStatus::Missing;
                return false;
            }
            const Blend& b = f.blends[*f.at[0]];
            outcome.blend = b.size();
            plan.lines[first_record(f, 0, wanted[0]).line] = std::nullopt;
            if (whole_blend)
                for (const Member& m : b)
                    plan.lines[m.line] = std::nullopt;
            drop_from_blend(plan, b, outcome);
            return true;
        },
        waiting);
}

AssignOutcome remove_assignments(const std::string& path, const std::vector<QuantumNumbers>& qs,
                                 const std::function<void()>& waiting) {
    std::vector<std::array<int, 12>> wanted;
    for (const QuantumNumbers& q : qs)
        wanted.push_back(transition_fields(q));
    return rewrite(
        path, wanted,
        [&](const Found& f, Plan& plan, AssignOutcome& outcome) {
            for (std::size_t k = 0; k < wanted.size(); ++k)
                if (f.at[k]) plan.lines[first_record(f, k, wanted[k]).line] = std::nullopt;
            if (plan.lines.empty()) {
                outcome.status = AssignStatus::Missing;
                return false;
            }
            for (const Blend& b : f.blends)
                drop_from_blend(plan, b, outcome);
            return true;
        },
        waiting);
}

} // namespace korax
