// Placeholder until this command is built.
#include "analysis/peakf.h"

namespace korax {
FitArrays& fit_arrays() { static FitArrays a; return a; }
bool PEAKF(std::int16_t&, double&, double&, double&, double&, double&) { return false; }
} // namespace korax
