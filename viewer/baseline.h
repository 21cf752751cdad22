// Smoothing and baseline subtraction from the viewer: the settings kept for the
// whole run and the pieces of the cutoff dialog that work without a window.
#pragma once

#include <cstdint>

namespace korax {

struct SmoothSettings {
    std::int32_t NSMOOT = 0;           // last typed number of smoothing points
    std::int32_t CUTLO = 0, CUTHI = 0; // fine-control band around BASLIN
};
SmoothSettings& smooth_settings();

// The upper cutoff after one key (z, Z, w, W move it by 1, 10, 1, 5 steps); it
// never goes below -497 steps. Other keys leave it.
std::int32_t move_upper_cutoff(std::int32_t cuthi, int key, std::int32_t step);
// The lower cutoff after one key; it stays at least 3 steps below the upper one.
std::int32_t move_lower_cutoff(std::int32_t cutlo, int key, std::int32_t step, std::int32_t cuthi);

// INTENS + yref for every point (truncated toward zero), so that the flat
// result of a subtraction lies within the display; ymean becomes the new mean.
void shift_to_reference(double yref, double& ymean);

} // namespace korax
