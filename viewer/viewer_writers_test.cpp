// The viewer's own writers in the fault table of every writer: the assignment
// file of T (read back before it is rewritten, so its reads fail too, at the
// first and at a later one), the picture of Ctrl+P, and the series view's one
// write of every member taken.
#include "base/file_faults.h"
#include "output/write_faults.h"
#include "spectrum/store.h"
#include "testing/test_catalog_file.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/catalog_keys.h"
#include "viewer/command_guard.h"
#include "viewer/extension_keys.h"
#include "viewer/lookfm.h"
#include "viewer/series_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <tuple>

#include <unistd.h>

namespace korax {
namespace {

using namespace write_faults;

class ViewerWriters : public ::testing::Test {
  protected:
    TestWindow tw;
    ViewerState v;
    SessionStart start;
    fs::path dir;
    void SetUp() override {
        testing::set_geometry(800, 540, 30);
        testing::load_spectrum(3000, 100.0, 1.0, [](std::int32_t i) { return i % 100; });
        catalog_session() = CatalogSession{};
        // Short, so that a path and a reason fit on one row.
        dir = fs::path("/tmp") / ("kv" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        store().FNAME = (dir / "spec.001").string();
    }
    void TearDown() override {
        file_faults::arm(std::nullopt);
        file_faults::force_named_temporaries(false);
        catalog_session() = CatalogSession{};
        fs::remove_all(dir);
    }
};

TEST_F(ViewerWriters, EveryOperationOfTheAssignmentFileAndThePicture) {
    // One prediction at 500 MHz, 6 0 6 <- 5 0 5.
    std::ofstream(dir / "f.cat") << testing::prediction_line(500.0, 5);
    start.catalogs = {(dir / "f.cat").string()};
    auto& settings = catalog_session().settings;
    settings.fixed_unc = 0.02;
    settings.lin_path = (dir / "lines.lin").string();
    lookfm_entry(v, start);
    ASSERT_EQ(1u, catalog_session().catalogs.size());

    // Records of other transitions, more than one read block of them, with a
    // comment and both line ends.
    std::string lin = "! assignments\n";
    for (int i = 0; i < 1500; ++i) {
        char record[96];
        std::snprintf(record, sizeof record, "%3d%3d%3d%3d%3d%3d%18s%15.4f %10.3f %8.4f%s",
                      10 + i % 80, i % 7, 3, 9 + i % 80, i % 7, 2, "", 1000.0 + i, 0.02, 1.0,
                      i % 2 ? "\r\n" : "\n");
        lin += record;
    }
    const Writer assign{"assignment",
                        {"lines.lin"},
                        {"Y"}, // should the transition be there already
                        [this, turn = 0]() mutable {
                            // A new measurement each time, a step to either
                            // side of the prediction.
                            ASSERT_TRUE(lookfm_key(v, ++turn % 2 ? 'l' : 'k'));
                            ASSERT_TRUE(lookfm_key(v, '9'));
                            ASSERT_TRUE(lookfm_key(v, 'T'));
                        },
                        // "Assigned in" or, after a failure that came only
                        // once the record was in place, "Replaced in".
                        "lines.lin: 6 0 6 <- 5 0 5",
                        lin};
    // Numbered pictures never replace a file, so there is no old one: each
    // picture is looked at and removed again, and the next run writes the
    // same name.
    const Writer picture{"picture",
                         {},
                         {},
                         [this] {
                             ASSERT_TRUE(viewer_key(v, KEY_CTRL_P));
                             const fs::path png = dir / "spec.001-1.png";
                             if (!fs::exists(png)) return;
                             EXPECT_EQ("\x89PNG", file_bytes(png).substr(0, 4));
                             fs::remove(png);
                         },
                         "Picture written to",
                         {}};
    int cases = 0;
    for (bool named : {false, true}) {
        file_faults::force_named_temporaries(named);
        // By reference: the assignment's turns go on from pass to pass.
        for (const Writer* writer : {&assign, &picture}) {
            const Writer& w = *writer;
            SCOPED_TRACE(w.name + (named ? ", named temporaries" : ", unnamed temporaries"));
            const int before = cases;
            cases += check_every_fault(dir, w);
            if (w.name == "assignment") {
                // The file's reads failed at the first and at a later one.
                EXPECT_GT(cases - before, 3 * 3 * 2);
            }
        }
    }
    std::cout << "fault-injection cases run for the viewer's writers: " << cases << "\n";
    EXPECT_GT(cases, 60);
}

// A blend (one measured line, two predictions) written, and one of its
// records removed with the other kept re-weighted: each in one write of the
// file, and each through the whole fault table.
TEST_F(ViewerWriters, EveryOperationOfABlendWrittenAndRemoved) {
    std::ofstream(dir / "f.cat") << testing::prediction_line(500.0, 5)
                                 << testing::prediction_line(500.1, 6);
    start.catalogs = {(dir / "f.cat").string()};
    auto& settings = catalog_session().settings;
    settings.fixed_unc = 0.02;
    settings.tolerance = 5;
    settings.lin_path = (dir / "lines.lin").string();
    lookfm_entry(v, start);
    ASSERT_EQ(1u, catalog_session().catalogs.size());

    const std::string head =
        "! assignments\r\n  9  0  9  8  0  8                  700.0 0.02 1\r\n";
    const Writer blend{"blend",
                       {"lines.lin"},
                       {"1-2", "Y"}, // the replace question from the second run on
                       [this, turn = 0]() mutable {
                           ASSERT_TRUE(lookfm_key(v, ++turn % 2 ? 'l' : 'k'));
                           ASSERT_TRUE(lookfm_key(v, '9'));
                           ASSERT_TRUE(lookfm_key(v, 'T'));
                       },
                       "Assigned a blend of 2 lines in",
                       head};
    const std::string blended = head + "  6  0  6  5  0  5                  500.0 0.02 0.6\r\n" +
                                "  7  0  7  6  0  6                  500.0 0.02 0.4\r\n! after\r\n";
    const Writer removal{"removal",
                         {"lines.lin"},
                         {"1", "R", "N"},
                         [this, &blended] {
                             // The blend is there again after a failure that
                             // came once the file was in place.
                             std::ofstream(dir / "lines.lin", std::ios::binary) << blended;
                             ASSERT_TRUE(lookfm_key(v, '9'));
                             ASSERT_TRUE(lookfm_key(v, 'T'));
                         },
                         "Removed from",
                         blended};
    int cases = 0;
    for (bool named : {false, true}) {
        file_faults::force_named_temporaries(named);
        for (const Writer* writer : {&blend, &removal}) {
            SCOPED_TRACE(writer->name + (named ? ", named temporaries" : ", unnamed temporaries"));
            cases += check_every_fault(dir, *writer);
        }
    }
    std::cout << "fault-injection cases run for the blend's writes: " << cases << "\n";
    EXPECT_GT(cases, 60);
}

// The members of a series taken after the series view's A, written by Y in
// one write through T's writer, its reads of the file included, through the
// whole fault table; the file read again by the view marks them.
TEST_F(ViewerWriters, EveryOperationOfTheSeriesViewsOneWriteOfItsMembers) {
    // Five lines of the second-derivative shape, 40 MHz apart, predicted
    // 0.05 MHz below them.
    const auto line_at = [](int k) { return 150.0 + 40.0 * k; };
    testing::load_spectrum(6000, 100.0, 0.05, [&](std::int32_t i) {
        const double f = 100.0 + 0.05 * (i - 1);
        double y = 200 + (i * 7919) % 23 - 11;
        for (int k = 0; k < 5; ++k) {
            const double t = (f - line_at(k)) / 0.25, u = t * t + 1;
            y += 3000 * (4 - 3 * u) / (u * u * u);
        }
        return static_cast<std::int32_t>(y);
    });
    store().FNAME = (dir / "spec.001").string();
    std::string cat;
    for (int k = 0; k < 5; ++k)
        cat += testing::prediction_line(line_at(k) - 0.05, 5 + k);
    std::ofstream(dir / "f.cat") << cat;
    start.catalogs = {(dir / "f.cat").string()};
    catalog_session().settings.lin_path = (dir / "lines.lin").string();
    lookfm_entry(v, start);
    ASSERT_EQ(1u, catalog_session().catalogs.size());
    const SeriesIndex index(catalog_session().catalogs[0]);
    const Series series = find_series(index, 0, candidate_steps(index, 0).front().step);
    ASSERT_EQ(5u, series.members.size());

    const std::string old = "! assignments\r\n  4  0  4  3  0  3                  110.0 0.02 1\r\n";
    const Writer members{"series",
                         {"lines.lin"},
                         {},
                         [&] {
                             // As before each try: the members are not there yet.
                             std::ofstream(dir / "lines.lin", std::ios::binary) << old;
                             auto view = make_series_view(0, series);
                             ASSERT_TRUE(view);
                             const SpectrumStore& st = store();
                             SeriesFitSettings settings;
                             settings.tolerance = 0.5;
                             const auto fits = fit_series(view->series, catalog_session().catalogs,
                                                          0, {st.FREQ, st.INTENS, st.NPTS},
                                                          settings, view->measured);
                             ASSERT_EQ(5u, fits.size());
                             (void)write_taken(v, *view, fits);
                         },
                         "Assigned 5 members of the series in",
                         old};
    int cases = 0;
    for (bool named : {false, true}) {
        file_faults::force_named_temporaries(named);
        SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
        cases += check_every_fault(dir, members);
    }
    std::cout << "fault-injection cases run for the series view's write: " << cases << "\n";
    EXPECT_GT(cases, 30);
    // Written, every member is marked assigned and measured in the view.
    TestWindow t;
    std::ofstream(dir / "lines.lin", std::ios::binary) << old;
    auto view = make_series_view(0, series);
    ASSERT_TRUE(view);
    const SpectrumStore& st = store();
    SeriesFitSettings settings;
    settings.tolerance = 0.5;
    ASSERT_TRUE(write_taken(v, *view,
                            fit_series(view->series, catalog_session().catalogs, 0,
                                       {st.FREQ, st.INTENS, st.NPTS}, settings, view->measured)));
    for (const auto& m : view->measured)
        EXPECT_TRUE(m.has_value());
    EXPECT_EQ(5u, catalog_session().assigned[0].size());
}

} // namespace
} // namespace korax
