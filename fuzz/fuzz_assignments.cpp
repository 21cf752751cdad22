// The assignment file's reader and writer on arbitrary bytes: the lines handed
// over are the file itself, cut at its line ends, each one a record, comment or
// blank and no longer than the bound; T on such a file puts its record in
// place of the first line of its transition or after the last, every other
// byte kept; and the same bytes read as a writer's ledger name nothing outside
// its folder nor any file but our hidden ones besides a journal's targets, and
// what was read writes out to a ledger that reads back the same.
#include "base/leftover_files.h"
#include "catalog/assignments.h"
#include "fuzz/fuzz_common.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

using korax::fuzz::require;

const std::string& scratch_path() {
    static const std::string path = korax::fuzz::scratch_file("korax_fuzz_lin_", ".lin");
    return path;
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void check_ledger(std::string_view text) {
    using namespace korax::file_ops;
    const auto contents = parse_ledger(text);
    if (!contents) return;
    const auto ours = [](const std::string& name) {
        return leftover_owner(name).has_value() && !name.ends_with(".set");
    };
    for (const auto& name : contents->hidden)
        require(ours(name), "a ledger listing a file that is not ours");
    std::string again = ledger_head();
    for (const auto& name : contents->hidden)
        again += ledger_note(name);
    if (contents->journal) {
        for (const auto& e : *contents->journal) {
            require(e.target.find('/') == std::string::npos && e.target != ".." &&
                        e.target != "." && !e.target.empty(),
                    "a journal naming a file outside its folder");
            require(ours(e.temp) && (e.backup.empty() || ours(e.backup)),
                    "a journal naming a temporary or backup that is not ours");
        }
        again += ledger_journal(*contents->journal);
    }
    const auto back = parse_ledger(again);
    require(back && back->hidden == contents->hidden && back->journal == contents->journal,
            "a ledger that does not read back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    check_ledger(bytes);

    const korax::fuzz::RemoveAfterRead cleanup{scratch_path()};
    {
        std::FILE* f = std::fopen(scratch_path().c_str(), "wb");
        require(f != nullptr, "the scratch file could not be created");
        require(std::fwrite(data, 1, size, f) == size, "the scratch file could not be written");
        std::fclose(f);
    }
    std::string again;
    std::size_t handed = 0;
    std::size_t same_at = std::string::npos, same_size = 0; // the first line of T's transition
    korax::QuantumNumbers q;
    q.n = 3;
    q.values = {20, 1, 19, 19, 1, 18};
    const korax::AssignmentScan scan =
        korax::scan_assignments(scratch_path(), [&](std::string_view line, std::string_view end) {
            require(line.size() <= korax::MAX_ASSIGNMENT_LINE, "a line over the bound handed over");
            require(korax::assignment_line(line),
                    "a line that is no record or comment handed over");
            require(end.empty() || end == "\n" || end == "\r\n", "a line end that is none");
            if (same_at == std::string::npos && korax::same_transition(line, q)) {
                same_at = again.size();
                same_size = line.size();
            }
            again += line;
            again += end;
            ++handed;
            return true;
        });
    require(scan.exists, "an existing file read as missing");
    if (!scan.error.empty()) return 0;
    require(handed == scan.lines, "lines counted but not handed over");
    require(again == bytes, "the lines handed over are not the file");

    // T with a transition of its own, replacing: the record takes the place of
    // the first line of that transition, or comes after the last line.
    const std::string record = " 20  1 19 19  1 18                      240046.02971    0.00054";
    const korax::AssignOutcome done = korax::write_assignment(scratch_path(), q, record, true);
    require(done.status == korax::AssignStatus::Written, "a readable file that T cannot add to");
    const std::string after = file_bytes(scratch_path());
    require(done.replaced == (same_at != std::string::npos), "a line of the transition missed");
    if (done.replaced && done.blend > 1) {
        // Every record of the blend took the new numbers: no line more or less.
        require(std::count(after.begin(), after.end(), '\n') ==
                    std::count(bytes.begin(), bytes.end(), '\n'),
                "a blend's update added or lost lines");
    } else if (done.replaced) {
        std::string expected = bytes;
        expected.replace(same_at, same_size, record);
        require(after == expected, "a replaced line took other bytes with it");
    } else {
        require(after.compare(0, bytes.size(), bytes) == 0, "an appended record changed the file");
        require(after.find(record, bytes.size()) != std::string::npos, "the record not appended");
    }
    return 0;
}
