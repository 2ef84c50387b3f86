"""Python transcriptions of the geodetic kernels, in the grouping the C++ kernels evaluate, for
bit-for-bit comparison (Python floats are IEEE doubles and `math` calls the same libm)."""

import math

NAN = math.nan
TOL = 1.567e-5


def _div(a, b):
    """IEEE division (Python raises on /0)."""
    if b == 0.0:
        if a == 0.0 or a != a:
            return NAN
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def _asin(x):
    return math.asin(x) if -1.0 <= x <= 1.0 else NAN


def _sqrt(x):
    return math.sqrt(x) if x >= 0 else NAN


class Ref:
    def __init__(self, Re, f):
        self.a, self.f, self.b = Re, f, (1 - f) * Re

    def reduced(self, phi):
        return math.atan(math.tan(phi) * (1 - self.f))

    def geodetic(self, beta):
        return math.atan(_div(math.tan(beta), 1 - self.f))

    def normal(self, lat, lon):
        return [math.cos(lat) * math.cos(lon), math.cos(lat) * math.sin(lon), math.sin(lat)]

    def tangents(self, lat, lon):
        f = self.f
        beta = self.reduced(lat)
        cb, sb = math.cos(beta), math.sin(beta)
        W = math.sqrt(1 - (2 - f) * f * (cb * cb))
        cl, sl = math.cos(lon), math.sin(lon)
        return [-sl, cl, 0.0], [-sb * cl / W, -sb * sl / W, (1 - f) * cb / W]

    def enu(self, lat, lon):
        up = self.normal(lat, lon)
        east, north = self.tangents(lat, lon)
        return east, north, up

    def surf_pos(self, lat, lon):
        a, f = self.a, self.f
        beta = self.reduced(lat)
        cb = math.cos(beta)
        return [math.cos(lon) * (cb * a), math.sin(lon) * (cb * a), math.sin(beta) * a * (1 - f)]

    def surf_coord(self, r):
        beta = _asin(_div(_div(r[2], self.a), 1 - self.f))
        lon = math.atan2(r[1], r[0])
        return self.geodetic(beta) if beta == beta else NAN, lon

    def solve(self, r, max_steps=100000):
        a, f = self.a, self.f
        x, y, z = r
        B = f * a * (2 - f)
        p = math.sqrt(x * x + y * y)
        P, A = _div(p, B), _div((1 - f) * z, B)
        beta = _asin(_div(z, math.sqrt(z * z + p * p)))
        h, steps = 1.0, 0
        while abs(h) > TOL:
            if steps == max_steps:
                return NAN
            steps += 1
            s, c = math.sin(beta), math.cos(beta)
            h = _div(c * s - s * P + c * A, c * c - s * s - c * P - s * A)
            beta = beta - h
        return beta

    def lla(self, r):
        a, f = self.a, self.f
        x, y, z = r
        lon = 0.0 if (x == 0 and y == 0) else math.atan2(y, x)
        beta = self.solve(r)
        lat = self.geodetic(beta) if beta == beta else NAN
        p = math.sqrt(x * x + y * y)
        cb = math.cos(beta)
        if p < 1e-5:
            alt = abs(z) - (1 - f) * a
        elif abs(cb) < 1e-3:  # near a pole: the height through z
            alt = math.sqrt(1 - (2 - f) * f * (cb * cb)) * (_div(z, math.sin(beta)) - self.b)
        else:
            alt = _div(math.sqrt(1 - (2 - f) * f * (cb * cb)) * (_div(p, cb) - a), 1 - f)
        return lat, lon, alt

    def pos(self, lat, lon, alt):
        rs, n = self.surf_pos(lat, lon), self.normal(lat, lon)
        return [alt * n[i] + rs[i] for i in range(3)]

    def geodetic_state(self, r, v):
        a, f, b = self.a, self.f, self.b
        e2 = (2 - f) * f
        x, y = r[0], r[1]
        vx, vy, vz = v
        rho2 = x * x + y * y
        rho = math.sqrt(rho2)
        rho_dot = _div(x * vx + y * vy, rho)
        lat, lon, h = self.lla(r)
        lon_dot = _div(x * vy - vx * y, rho2)
        beta = self.reduced(lat)
        cb, sb = math.cos(beta), math.sin(beta)
        A = 1 / math.sqrt(1 - e2 * (cb * cb))
        T = -e2 * cb * sb * (A * A * A)
        Q = h * (1 - f) * T * cb - (A * (1 - f) * h + a) * sb
        P = (A * h + b) * cb + T * h * sb
        D = A * sb * Q - P * A * (1 - f) * cb
        lat_dot = _div((1 - f) / ((1 - f) * (1 - f) * (cb * cb) + sb * sb) * (A * sb * rho_dot - A * (1 - f) * cb * vz), D)
        alt_dot = _div(Q * vz - P * rho_dot, D)
        return lat, lon, h, lat_dot, lon_dot, alt_dot

    def state_vector(self, lat, lon, h, lat_dot, lon_dot, alt_dot):
        a, f, b = self.a, self.f, self.b
        e2 = (2 - f) * f
        beta = self.reduced(lat)
        cb, sb = math.cos(beta), math.sin(beta)
        W2 = 1 - e2 * (cb * cb)
        A = 1 / math.sqrt(W2)
        T = -e2 * cb * sb * (A * A * A)
        beta_dot = W2 / (1 - f) * lat_dot
        x, y, z = self.pos(lat, lon, h)
        rho2 = x * x + y * y
        rho = math.sqrt(rho2)
        rho_dot = (alt_dot * A * (1 - f) + h * (1 - f) * T * beta_dot) * cb - (h * A * (1 - f) + a) * sb * beta_dot
        v = [_div(x * rho * rho_dot - y * rho2 * lon_dot, rho2), _div(y * rho * rho_dot + x * rho2 * lon_dot, rho2),
             (alt_dot * A + h * T * beta_dot) * sb + (h * A + b) * cb * beta_dot]
        return [x, y, z], v

    def ray(self, r0, u):
        a, f = self.a, self.f
        k = 1 / (1 - f) / (1 - f)
        A = u[0] * u[0] + u[1] * u[1] + u[2] * u[2] * k
        B = 2 * (r0[0] * u[0] + r0[1] * u[1] + r0[2] * u[2] * k)
        C = r0[0] * r0[0] + r0[1] * r0[1] + r0[2] * r0[2] * k - a * a
        disc = B * B - C * (4 * A)
        if disc < 0:
            return [NAN] * 3
        if disc == 0:
            t = _div(-B * 0.5, A)
        else:
            t1, t2 = _div((-B + math.sqrt(disc)) * 0.5, A), _div((-B - math.sqrt(disc)) * 0.5, A)
            t = t1 if abs(t2) > abs(t1) else t2
        return [t * u[i] + r0[i] for i in range(3)]

    def aer(self, r, lat, lon, alt):
        ro = self.pos(lat, lon, alt)
        rho = [r[i] - ro[i] for i in range(3)]
        east, north, up = self.enu(lat, lon)
        dot = lambda p, q: (p[0] * q[0] + p[1] * q[1]) + p[2] * q[2]
        e, n, u = dot(rho, east), dot(rho, north), dot(rho, up)
        rng = math.sqrt(dot(rho, rho))
        return math.atan2(e, n), _asin(_div(u, rng)), rng
