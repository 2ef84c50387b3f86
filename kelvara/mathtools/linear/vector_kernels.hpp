// 3-vector kernels over raw pointers to three contiguous doubles. Pure C++: no interpreter, no
// allocation. The grouping of every expression is fixed so that results are reproducible to
// the last bit (built with -ffp-contract=off).
#pragma once

#include <cmath>

namespace kelvara::vec {

/// c = scalar * a; each component is read before it is written, so c may alias a.
inline void scale(double scalar, const double* a, double* c) noexcept {
    for (int i = 0; i < 3; ++i) c[i] = scalar * a[i];
}

/// c = a + b, component by component (c may alias a or b).
inline void add(const double* a, const double* b, double* c) noexcept {
    for (int i = 0; i < 3; ++i) c[i] = a[i] + b[i];
}

/// c = a - b, component by component (c may alias a or b).
inline void sub(const double* a, const double* b, double* c) noexcept {
    for (int i = 0; i < 3; ++i) c[i] = a[i] - b[i];
}

/// (a0*b0 + a1*b1) + a2*b2.
inline double dot(const double* a, const double* b) noexcept { return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]; }

/// c = a x b; each component is stored as soon as it is computed, so c must not alias a or b.
inline void cross(const double* a, const double* b, double* c) noexcept {
    c[0] = a[1] * b[2] - a[2] * b[1];
    c[1] = a[2] * b[0] - a[0] * b[2];
    c[2] = a[0] * b[1] - a[1] * b[0];
}

/// sqrt(a . a) with no rescaling: 1e308 components overflow to +inf.
inline double norm(const double* a) noexcept { return std::sqrt(dot(a, a)); }

/// acos((a.b / |a|) / |b|), unclamped: a cosine rounded past +-1, or a zero vector, gives NaN.
inline double angle(const double* a, const double* b) noexcept { return std::acos((dot(a, b) / norm(a)) / norm(b)); }

/// u = (1 / |a|) * a: multiplication by the reciprocal; u may alias a. A zero vector gives NaN.
inline void normalize(const double* a, double* u) noexcept { scale(1.0 / norm(a), a, u); }

/// b = M a for a row-major 3x3 M, accumulating each row in b[i] from 0; b must not alias a.
inline void mat_x_vec(const double (*M)[3], const double* a, double* b) noexcept {
    for (int i = 0; i < 3; ++i) {
        b[i] = 0;
        b[i] = b[i] + M[i][0] * a[0];
        b[i] = b[i] + M[i][1] * a[1];
        b[i] = b[i] + M[i][2] * a[2];
    }
}

}  // namespace kelvara::vec
