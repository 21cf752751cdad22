// Line profiles and their derivatives. Every profile is written as a function
// of the offset in units of its width scale, so that each partial derivative by
// a width follows from the one by the offset; the Voigt is the real part of the
// Faddeeva function, taken from libcerf.
#include "analysis/lineshape.h"

#include "base/cloned.h"

#include <cerf.h>

#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

namespace korax {

namespace {

// libcerf speaks C99 complex numbers; both it and std::complex lay a number out
// as two doubles.
__extension__ typedef double _Complex CComplex;

std::complex<double> faddeeva(std::complex<double> z) {
    const double in[2] = {z.real(), z.imag()};
    CComplex c;
    std::memcpy(&c, in, sizeof c);
    const CComplex r = w_of_z(c);
    double out[2];
    std::memcpy(out, &r, sizeof out);
    return {out[0], out[1]};
}

const double SQRT_LN2 = std::sqrt(std::numbers::ln2);
// Gaussian FWHM = 2 sqrt(ln 2) g for exp(-u^2 / g^2); Lorentzian FWHM = 2 gamma.
const double GAUSS_SCALE = 1 / (2 * SQRT_LN2);
constexpr double LORENTZ_SCALE = 0.5;
// Below gamma / VOIGT_Y_MAX the Gaussian part of a Voigt is taken as this limit,
// where the profile differs from a Lorentzian by parts in 1e12 and z stays finite.
constexpr double VOIGT_Y_MAX = 1e6;

// d^k/dv^k exp(-v^2) = (-1)^k H_k(v) exp(-v^2), for k = n and n + 1.
void gauss_unit(int n, double v, double& value, double& next) {
    const double e = std::exp(-v * v);
    const double h[4] = {1, 2 * v, 4 * v * v - 2, 8 * v * v * v - 12 * v};
    auto term = [&](int k) { return (k % 2 ? -h[k] : h[k]) * e; };
    value = term(n);
    next = term(n + 1);
}

// d^k/dv^k 1/(1 + v^2) for k = n and n + 1, in closed form with d = 1 + v^2:
// 1/d, -2v/d^2, (6v^2 - 2)/d^3, 24v(1 - v^2)/d^4. The profile is evaluated at
// every point of every step of every fit, so no powers of complex numbers.
void lorentz_unit(int n, double v, double& value, double& next) {
    const double r = 1 / (1 + v * v), v2 = v * v;
    const double k[4] = {r, -2 * v * r * r, (6 * v2 - 2) * r * r * r,
                         24 * v * (1 - v2) * r * r * r * r};
    value = k[n];
    next = k[n + 1];
}

} // namespace

namespace {

// Beyond this |z| the recurrence loses too much: w^(k) shrinks like |z|^-(k+1)
// while the terms it cancels stay near 1, so the third derivative would lose
// about |z|^6 ulps (at |z| = 4000 every digit). There the derivatives come from
// the asymptotic series of w for Im z >= 0,
//     w(z) = i/sqrt(pi) sum_m (2m-1)!! / 2^m z^-(2m+1),
// differentiated term by term; at |z| >= 12 its 17 terms leave less than 1e-18.
constexpr double SERIES_RADIUS = 12;
constexpr int SERIES_TERMS = 17;

// w and its first out.size() - 1 derivatives from the series in one pass:
// the k-th derivative of z^-(2m+1) is (-1)^k (2m+1) ... (2m+k) z^-(2m+1+k),
// so every derivative sums the same powers with its own factors, and the
// common z^-k is taken out at the end. The terms fall off fastest for w itself
// and slowest for the highest derivative: once that one's term is below 1e-18
// of its sum, so are the others (far out in a line's wings after a few terms).
// The series' factors (2m-1)!! / 2^m (2m+1) ... (2m+k), for each term m and
// derivative k, reckoned once as the terms would reckon them.
struct SeriesFactors {
    double f[SERIES_TERMS][4];
};
constexpr SeriesFactors SERIES_FACTORS = [] {
    SeriesFactors t{};
    double c = 1; // (2m-1)!! / 2^m
    for (int m = 0; m < SERIES_TERMS; ++m) {
        double falling = 1; // (2m+1) ... (2m+k)
        for (std::size_t k = 0; k < 4; ++k) {
            if (k > 0) falling *= 2 * m + int(k);
            t.f[m][k] = c * falling;
        }
        c *= (2 * m + 1) / 2.0;
    }
    return t;
}();

template <std::size_t COUNT>
void series_derivatives(std::complex<double> z, std::complex<double>* out) {
    constexpr std::size_t count = COUNT;
    const std::complex<double> inverse = 1.0 / z, inverse2 = inverse * inverse;
    std::complex<double> power = inverse; // z^-(2m+1)
    std::complex<double> sum[COUNT] = {};
    constexpr std::size_t last = count - 1;
    for (int m = 0; m < SERIES_TERMS; ++m) {
        const double* f = SERIES_FACTORS.f[m];
        for (std::size_t k = 0; k < count; ++k)
            sum[k] += f[k] * power;
        // The highest derivative's term against its sum: every lower one's
        // falls faster.
        if (m > 0 && f[last] * f[last] * std::norm(power) <= 1e-36 * std::norm(sum[last])) break;
        power *= inverse2;
    }
    const std::complex<double> i_over_root_pi(0, 1 / std::sqrt(std::numbers::pi));
    std::complex<double> factor = i_over_root_pi;
    for (std::size_t k = 0; k < count; ++k) {
        out[k] = factor * sum[k];
        factor *= -inverse;
    }
}

// w and its first COUNT - 1 derivatives; the count a constant, as every
// point of a Voigt fit asks for the same.
template <std::size_t COUNT>
void faddeeva_fixed(std::complex<double> z, std::complex<double>* out) {
    static_assert(COUNT >= 1 && COUNT <= 4);
    // Beyond the radius above the real axis the series gives w too, to the
    // same accuracy as the library and without its continued fraction.
    if (std::norm(z) >= SERIES_RADIUS * SERIES_RADIUS && z.imag() >= 0) {
        series_derivatives<COUNT>(z, out);
        return;
    }
    out[0] = faddeeva(z);
    if constexpr (COUNT > 1)
        out[1] = -2.0 * z * out[0] + std::complex<double>(0, 2 / std::sqrt(std::numbers::pi));
    // w^(k+1) = -2z w^(k) - 2k w^(k-1), from differentiating w' = -2z w + 2i/sqrt(pi).
    for (std::size_t k = 1; k + 1 < COUNT; ++k)
        out[k + 1] = -2.0 * z * out[k] - 2.0 * double(k) * out[k - 1];
}

} // namespace

void faddeeva_derivatives(std::complex<double> z, std::span<std::complex<double>> out) {
    assert(!out.empty() && out.size() <= 4);
    switch (out.size()) {
    case 1:
        return faddeeva_fixed<1>(z, out.data());
    case 2:
        return faddeeva_fixed<2>(z, out.data());
    case 3:
        return faddeeva_fixed<3>(z, out.data());
    default:
        return faddeeva_fixed<4>(z, out.data());
    }
}

bool uses_gauss_width(LineProfile profile) {
    return profile != LineProfile::Lorentz;
}
bool uses_lorentz_width(LineProfile profile) {
    return profile != LineProfile::Gauss;
}

namespace {

// A profile of one width w is f(u / s) with s = w * scale, so that its slopes
// by u and by w both follow from f' = `next`.
template <class Unit>
ShapePoint one_width(Unit unit, int n, double u, double width, double scale,
                     double ShapePoint::*d_width) {
    assert(width > 0);
    ShapePoint p;
    // One division a point: the profile is evaluated at every point of
    // every step of every fit.
    const double inverse = 1 / (width * scale), v = u * inverse;
    double next = 0;
    unit(n, v, p.value, next);
    p.d_centre = -next * inverse;
    p.*d_width = -v * inverse * next * scale;
    return p;
}

// What a Voigt's points share: its scales, and E(y) = Re w(iy) = erfcx(y), the
// undifferentiated peak, with E' = 2y E - 2/sqrt(pi).
struct VoigtScales {
    double g, gamma, y, e, de, scale;
    double scale_slope; // n (1 + y)^(n - 1), the slope of `scale` by y; 0 for n = 0
    bool limit;
};

VoigtScales voigt_scales(int n, const LineWidths& widths) {
    assert(widths.gauss >= 0 && widths.lorentz >= 0 && widths.gauss + widths.lorentz > 0);
    VoigtScales c{};
    c.gamma = widths.lorentz * LORENTZ_SCALE;
    c.g = widths.gauss * GAUSS_SCALE;
    c.limit = c.g * VOIGT_Y_MAX < c.gamma;
    if (c.limit) c.g = c.gamma / VOIGT_Y_MAX;
    c.y = c.gamma / c.g;
    c.e = erfcx(c.y);
    c.de = 2 * c.y * c.e - 2 / std::sqrt(std::numbers::pi);
    c.scale = std::pow(1 + c.y, n);
    c.scale_slope = n > 0 ? n * std::pow(1 + c.y, n - 1) : 0.0;
    return c;
}

template <int N> ShapePoint voigt_point(double u, const VoigtScales& c) {
    constexpr int n = N;
    ShapePoint p;
    const double g = c.g, gamma = c.gamma, y = c.y, e = c.e, de = c.de, scale = c.scale;
    const bool limit = c.limit;
    const double v = u / g;

    std::array<std::complex<double>, 4> w{};
    faddeeva_fixed<std::size_t(n + 2)>({v, y}, w.data());
    p.value = scale * w[std::size_t(n)].real() / e;
    const double fv = scale * w[std::size_t(n + 1)].real() / e;
    const double fy = (n > 0 ? c.scale_slope * w[std::size_t(n)].real() / e : 0.0) -
                      scale * w[std::size_t(n + 1)].imag() / e - p.value * de / e;
    p.d_centre = -fv / g;
    if (limit) {
        // g follows gamma here: only the offset's scale moves with the width.
        p.d_lorentz = -v / gamma * fv * LORENTZ_SCALE;
    } else {
        p.d_lorentz = fy / g * LORENTZ_SCALE;
        p.d_gauss = -(v * fv + y * fy) / g * GAUSS_SCALE;
    }
    return p;
}

} // namespace

ShapePoint shape_point(const LineShape& shape, double u, const LineWidths& widths) {
    const int n = shape.derivative;
    assert(n >= 0 && n <= 2 && "line shapes are of derivative order 0, 1 or 2");
    switch (shape.profile) {
    case LineProfile::Gauss:
        return one_width(gauss_unit, n, u, widths.gauss, GAUSS_SCALE, &ShapePoint::d_gauss);
    case LineProfile::Lorentz:
        return one_width(lorentz_unit, n, u, widths.lorentz, LORENTZ_SCALE, &ShapePoint::d_lorentz);
    case LineProfile::Voigt:
        break;
    }
    const VoigtScales scales = voigt_scales(n, widths);
    if (n == 0) return voigt_point<0>(u, scales);
    if (n == 1) return voigt_point<1>(u, scales);
    return voigt_point<2>(u, scales);
}

KORAX_CLONED void shape_points(const LineShape& shape, std::span<const double> u,
                               const LineWidths& widths, std::span<ShapePoint> out) {
    assert(out.size() >= u.size());
    const int n = shape.derivative;
    assert(n >= 0 && n <= 2 && "line shapes are of derivative order 0, 1 or 2");
    // The order as a constant in each loop: only the two derivatives it
    // needs are computed at each point.
    const auto each = [&]<int N>(auto unit, double width, double scale,
                                 double ShapePoint::*d_width) {
        for (std::size_t i = 0; i < u.size(); ++i)
            out[i] = one_width(unit, N, u[i], width, scale, d_width);
    };
    const auto of_order = [&](auto unit, double width, double scale, double ShapePoint::*d_width) {
        if (n == 0) each.template operator()<0>(unit, width, scale, d_width);
        if (n == 1) each.template operator()<1>(unit, width, scale, d_width);
        if (n == 2) each.template operator()<2>(unit, width, scale, d_width);
    };
    switch (shape.profile) {
    case LineProfile::Gauss:
        of_order(
            [](int k, double v, double& value, double& next) { gauss_unit(k, v, value, next); },
            widths.gauss, GAUSS_SCALE, &ShapePoint::d_gauss);
        return;
    case LineProfile::Lorentz:
        of_order(
            [](int k, double v, double& value, double& next) { lorentz_unit(k, v, value, next); },
            widths.lorentz, LORENTZ_SCALE, &ShapePoint::d_lorentz);
        return;
    case LineProfile::Voigt: {
        const VoigtScales scales = voigt_scales(n, widths);
        const auto voigt_each = [&]<int N>() {
            for (std::size_t i = 0; i < u.size(); ++i)
                out[i] = voigt_point<N>(u[i], scales);
        };
        if (n == 0) voigt_each.template operator()<0>();
        if (n == 1) voigt_each.template operator()<1>();
        if (n == 2) voigt_each.template operator()<2>();
        return;
    }
    }
}

double shape_value(const LineShape& shape, double u, const LineWidths& widths) {
    return shape_point(shape, u, widths).value;
}

namespace {

// A scale below which every lobe lies well inside 64 steps of the march below.
double march_step(const LineShape& shape, const LineWidths& widths) {
    double s = 0;
    if (uses_gauss_width(shape.profile)) s += widths.gauss;
    if (uses_lorentz_width(shape.profile)) s += widths.lorentz;
    return s / 64;
}

// The first root of f after 0 in the direction of `step`, by marching to a
// change of sign and halving the bracket to the last bit.
template <class F> double first_root(F f, double step) {
    const double f0 = f(0.0);
    double a = 0, b = step;
    for (int k = 0; k < 64 * 64 && (f(b) > 0) == (f0 > 0); ++k) {
        a = b;
        b += step;
    }
    for (int k = 0; k < 80; ++k) {
        const double m = (a + b) / 2;
        if (m == a || m == b) break;
        ((f(m) > 0) == (f0 > 0) ? a : b) = m;
    }
    return (a + b) / 2;
}

double found_height_offset(const LineShape& shape, const LineWidths& widths) {
    if (shape.derivative != 1) return 0;
    // The extreme of the first derivative is the inflection of the profile.
    const LineShape second{shape.profile, 2};
    return first_root([&](double u) { return shape_value(second, u, widths); },
                      -march_step(shape, widths));
}

double found_lobe_width(const LineShape& shape, const LineWidths& widths) {
    const double step = march_step(shape, widths);
    if (shape.derivative == 1) return -2 * found_height_offset(shape, widths);
    const double half = shape_value(shape, 0, widths) / 2;
    return 2 * first_root([&](double u) { return shape_value(shape, u, widths) - half; }, step);
}

// The widths of one unit each that a profile uses.
LineWidths unit_widths(LineProfile profile) {
    LineWidths unit;
    if (uses_gauss_width(profile)) unit.gauss = 1;
    if (uses_lorentz_width(profile)) unit.lorentz = 1;
    return unit;
}

// The lobe and offset of each profile at its unit widths, found once. A
// profile of one width is that shape stretched, so its lobe and offset are
// the width times these; the fits ask for them at every test of every trial,
// and the root search costs a hundred evaluations.
struct UnitLobe {
    double lobe, offset;
};

const UnitLobe& unit_lobe(const LineShape& shape) {
    static const auto table = [] {
        std::array<std::array<UnitLobe, 3>, 3> t{};
        for (LineProfile profile : {LineProfile::Gauss, LineProfile::Lorentz, LineProfile::Voigt})
            for (int n = 0; n <= 2; ++n) {
                const LineShape at{profile, n};
                const LineWidths unit = unit_widths(profile);
                t[std::size_t(profile)][std::size_t(n)] = {found_lobe_width(at, unit),
                                                           found_height_offset(at, unit)};
            }
        return t;
    }();
    return table[std::size_t(shape.profile)][std::size_t(shape.derivative)];
}

// The one width of a Gaussian or Lorentzian profile.
double single_width(const LineShape& shape, const LineWidths& widths) {
    return shape.profile == LineProfile::Gauss ? widths.gauss : widths.lorentz;
}

} // namespace

double lobe_width(const LineShape& shape, const LineWidths& widths) {
    if (shape.profile != LineProfile::Voigt)
        return single_width(shape, widths) * unit_lobe(shape).lobe;
    // A Voigt's lobe costs a root search of a hundred evaluations, and the
    // checks and results of one fit ask for the same widths again and again:
    // the last few answers are kept per thread.
    struct Kept {
        int derivative = -1;
        LineWidths widths;
        double lobe = 0;
    };
    thread_local std::array<Kept, 16> kept{};
    thread_local std::size_t next = 0;
    // The same bits, not merely equal values: a zero's sign moves the profile's limits.
    const auto same = [](double a, double b) {
        return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
    };
    for (const Kept& k : kept)
        if (k.derivative == shape.derivative && same(k.widths.gauss, widths.gauss) &&
            same(k.widths.lorentz, widths.lorentz))
            return k.lobe;
    const double lobe = found_lobe_width(shape, widths);
    kept[next] = {shape.derivative, widths, lobe};
    next = (next + 1) % kept.size();
    return lobe;
}

double height_offset(const LineShape& shape, const LineWidths& widths) {
    if (shape.profile == LineProfile::Voigt) return found_height_offset(shape, widths);
    return single_width(shape, widths) * unit_lobe(shape).offset;
}

LineWidths widths_for_lobe(const LineShape& shape, double width) {
    const LineWidths unit = unit_widths(shape.profile);
    const double factor = width / unit_lobe(shape).lobe;
    return {unit.gauss * factor, unit.lorentz * factor};
}

namespace {
constexpr std::array<std::string_view, 3> PROFILE_NAMES = {"gauss", "lorentz", "voigt"};
}

std::string shape_name(const LineShape& shape) {
    return std::string(PROFILE_NAMES[std::size_t(shape.profile)]) + char('0' + shape.derivative);
}

std::optional<LineShape> parse_shape(std::string_view name) {
    if (name.empty()) return std::nullopt;
    const char order = name.back();
    if (order < '0' || order > '2') return std::nullopt;
    name.remove_suffix(1);
    for (std::size_t k = 0; k < PROFILE_NAMES.size(); ++k)
        if (name == PROFILE_NAMES[k]) return LineShape{LineProfile(k), order - '0'};
    return std::nullopt;
}

} // namespace korax
