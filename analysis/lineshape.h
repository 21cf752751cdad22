// Line profiles of the profile fit: Gaussian, Lorentzian and Voigt, each as
// itself or as its first or second derivative with respect to frequency (what a
// spectrometer with frequency modulation records), with the partial derivatives
// by centre and widths that the fit's Jacobian needs.
#pragma once

#include <complex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korax {

enum class LineProfile { Gauss, Lorentz, Voigt };

struct LineShape {
    LineProfile profile = LineProfile::Lorentz;
    int derivative = 2; // 0, 1 or 2
    bool operator==(const LineShape&) const = default;
};

// Full widths at half maximum of the undifferentiated profile: its Gaussian and
// its Lorentzian part. A Gaussian uses only `gauss`, a Lorentzian only
// `lorentz`, a Voigt both.
struct LineWidths {
    double gauss = 0;
    double lorentz = 0;
};

// Whether the profile has a Gaussian or a Lorentzian width parameter.
bool uses_gauss_width(LineProfile profile);
bool uses_lorentz_width(LineProfile profile);

// A line of unit amplitude at offset u = x - centre, and its partial
// derivatives. The unit is the peak of the undifferentiated profile times s^n,
// with n the derivative order and s the profile's width scale (Gaussian: the
// 1/e half-width, Lorentzian: the half-width at half maximum, Voigt: their
// sum), so that the amplitude of every order is of the size of the line's
// largest lobe whatever its width.
struct ShapePoint {
    double value = 0;
    double d_centre = 0;  // by the centre, at fixed x
    double d_gauss = 0;   // by LineWidths::gauss
    double d_lorentz = 0; // by LineWidths::lorentz
};

// Widths must be positive where the profile uses them (a Voigt may have one of
// the two at 0). The Voigt comes from the Faddeeva function w(z) and its
// derivatives by w' = -2z w + 2i/sqrt(pi); a Gaussian width below 1e-6 of the
// Lorentzian one is taken as that limit, where the profile no longer differs
// from a Lorentzian and the recurrence would lose its precision.
ShapePoint shape_point(const LineShape& shape, double u, const LineWidths& widths);
double shape_value(const LineShape& shape, double u, const LineWidths& widths);
// shape_point at every offset of `u`, into the first u.size() of `out`: a fit
// evaluates the profile at every point of its window for each component, and
// one call per component lets the profile's choice and scales be made once.
void shape_points(const LineShape& shape, std::span<const double> u, const LineWidths& widths,
                  std::span<ShapePoint> out);

// w(z) and its derivatives w^(k)(z), k = 0 .. out.size() - 1 (at most 4), for
// Im z >= 0: by the recurrence near the origin, by the asymptotic series far
// from it, where the recurrence cancels most of its digits.
void faddeeva_derivatives(std::complex<double> z, std::span<std::complex<double>> out);

// The width a line shows on the data: for orders 0 and 2 the full width at half
// height of the central lobe, for order 1 the distance between the two lobes'
// extremes. Proportional to the widths at a fixed ratio of them.
double lobe_width(const LineShape& shape, const LineWidths& widths);

// The offset from the centre of the extreme that gives the line's height: 0 for
// orders 0 and 2, the lobe below the centre (negative u) for order 1.
double height_offset(const LineShape& shape, const LineWidths& widths);

// Widths of the given profile whose lobe width is `width`. A Voigt gets equal
// Gaussian and Lorentzian widths, the start the fit uses when nothing is known.
LineWidths widths_for_lobe(const LineShape& shape, double width);

// "gauss", "lorentz" or "voigt" followed by the derivative order, e.g.
// "lorentz2" (the spelling of the batch option and of the result row).
std::string shape_name(const LineShape& shape);
// The reverse, for typed names; nullopt for anything else.
std::optional<LineShape> parse_shape(std::string_view name);

} // namespace korax
