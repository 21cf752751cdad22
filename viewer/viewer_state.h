// The state of one stay in the viewer, and the settings it keeps for the run.
// A fresh ViewerState is made at every entry to LOOKFM; only FMEMO outlives it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace korax {

inline constexpr int MAXEXP = 1023; // INTERP output points at most

struct ViewerState {
    double FLOW = 0, FHIGH = 0; // display frequency limits
    double FCURS = 0;           // cursor frequency
    double YLOW = 0, YHIGH = 0; // display intensity limits
    double YREF = 0;            // pivot of vertical zooming
    double YREF_ENTRY = 0;      // YREF as set at entry (the append restores it)
    double CSTEP = 0;           // frequency width of one pixel column
    double YMEAN = 0;           // mean intensity: the baseline level of measurements
    double YTICK = 0, YBOTM = 0;
    std::int32_t IFIRST = 1, ILAST = 1, ICURS = 1;
    std::int32_t IXEXP = 1;
    std::int16_t NFIT = 7;
    bool STALE = false;
    std::string KEYLIN;
    // The display that % left for the whole spectrum, which a second % brings
    // back while the whole spectrum is still shown.
    struct View {
        double FLOW = 0, FHIGH = 0, FCURS = 0;
    };
    std::optional<View> before_whole;

    // INTERP output, 1-based like the store
    std::array<double, MAXEXP + 2> FEXP{};
    std::array<std::int32_t, MAXEXP + 2> YEXP{};
    std::int32_t NEXP = 0;
};

// Kept for the whole run: the position remembered by the "," key.
double& FMEMO();

} // namespace korax
