"""kelvara.mathtools.linear.linear: the C-function table and its kernels, reached through a
client extension that binds the table the way the ellipsoid and bodies modules do."""

import math
import sys

import numpy as np
import pytest

import linear_client as lin
import kelvara.mathtools.linear.linear as linear_module

rng = np.random.default_rng(20261208)

SIGNATURES = [
    ("scale", "void (double const , double *, double *)"),
    ("add", "void (double *, double *, double *)"),
    ("sub", "void (double *, double *, double *)"),
    ("dot", "double (double *, double *)"),
    ("cross", "void (double *, double *, double *)"),
    ("norm", "double (double *)"),
    ("norm_array", "__Pyx_memviewslice (__Pyx_memviewslice)"),
    ("angle", "double (double *, double *)"),
    ("normalize", "void (double *, double *)"),
    ("normalize_array", "__Pyx_memviewslice (__Pyx_memviewslice)"),
    ("mat_x_vec", "void (double (*)[3], double *, double *)"),
]


# Transcriptions of the kernels' arithmetic, in the same grouping, over Python floats.
def py_dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def py_norm(a):
    return math.sqrt(py_dot(a, a))


def py_angle(a, b):
    d, na, nb = py_dot(a, b), py_norm(a), py_norm(b)
    try:
        c = (d / na) / nb
    except ZeroDivisionError:
        return math.nan
    return math.acos(c) if -1.0 <= c <= 1.0 else math.nan


def py_normalize(a):
    n = py_norm(a)
    r = 1.0 / n if n else math.inf
    return [r * x for x in a]


def py_cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def py_mat_x_vec(m, a):
    out = []
    for i in range(3):
        b = 0.0
        for j in range(3):
            b = b + m[i][j] * a[j]
        out.append(b)
    return out


def vec(*xs):
    return np.array(xs, dtype=float)


def random_vectors(n):
    scale = 10.0 ** rng.uniform(-8, 8, size=(n, 1))
    return rng.normal(size=(n, 3)) * scale


EDGE_VECTORS = [vec(0, 0, 0), vec(1e308, 0, 0), vec(1, 0, 0), vec(-1, 0, 0), vec(-0.0, 5e-324, 1e-300),
                vec(3, 4, 12), vec(np.inf, 1, 0), vec(np.nan, 0, 0)]
PAIRS = [(a, b) for a in EDGE_VECTORS for b in EDGE_VECTORS] + list(zip(random_vectors(200), random_vectors(200)))


def same(x, y):
    """Bit-for-bit equality of floats or sequences (NaN equals NaN)."""
    x, y = np.asarray(x, dtype=float), np.asarray(y, dtype=float)
    return x.shape == y.shape and bool(np.all((x == y) | (np.isnan(x) & np.isnan(y))))


class TestTable:
    def test_entries_in_order_with_signatures(self):
        capi = linear_module.__pyx_capi__
        assert list(capi) == [name for name, _ in SIGNATURES]
        for name, sig in SIGNATURES:
            assert type(capi[name]).__name__ == "PyCapsule"
            assert f'"{sig}"' in repr(capi[name])

    def test_no_python_functions(self):
        assert not [k for k, v in vars(linear_module).items() if callable(v) and not k.startswith("__")
                    and k != "numpy"]


@pytest.mark.parametrize("a,b", PAIRS[::3])
class TestScalarKernelsBitExact:
    def test_dot(self, a, b):
        assert same(lin.dot(a, b), py_dot(a.tolist(), b.tolist()))

    def test_norm(self, a, b):
        assert same(lin.norm(a), py_norm(a.tolist()))

    def test_angle(self, a, b):
        with np.errstate(all="ignore"):
            assert same(lin.angle(a, b), py_angle(a.tolist(), b.tolist()))

    def test_cross(self, a, b):
        c = np.zeros(3)
        lin.cross(a, b, c)
        assert same(c, py_cross(a.tolist(), b.tolist()))

    def test_add_sub_scale(self, a, b):
        c = np.zeros(3)
        lin.add(a, b, c)
        assert same(c, [x + y for x, y in zip(a.tolist(), b.tolist())])
        lin.sub(a, b, c)
        assert same(c, [x - y for x, y in zip(a.tolist(), b.tolist())])
        lin.scale(b[0], a, c)
        assert same(c, [float(b[0]) * x for x in a.tolist()])

    def test_normalize(self, a, b):
        u = np.zeros(3)
        lin.normalize(a, u)
        assert same(u, py_normalize(a.tolist()))


class TestEdgeCases:
    def test_normalize_zero_vector_gives_nan_without_error(self):
        u = np.zeros(3)
        lin.normalize(vec(0, 0, 0), u)
        assert np.isnan(u).all()

    def test_angle_of_vector_with_itself_rounding_past_one_is_nan(self):
        # Find vectors whose rounded cosine with themselves exceeds 1.
        hits = [a for a in random_vectors(2000) if (py_dot(a, a) / py_norm(a)) / py_norm(a) > 1.0]
        assert hits
        for a in hits[:20]:
            assert math.isnan(lin.angle(a, a.copy()))

    def test_opposite_unit_vectors(self):
        a, b = vec(1, 0, 0), vec(-1, 0, 0)
        assert lin.dot(a, b) == -1.0
        assert lin.angle(a, b) == math.pi

    def test_overflow_is_not_rescaled(self):
        a = vec(1e308, 0, 0)
        assert lin.dot(a, a) == math.inf and lin.norm(a) == math.inf

    def test_in_place(self):
        a = vec(1.5, -2.0, 3.25)
        lin.scale(2.0, a, a)
        assert a.tolist() == [3.0, -4.0, 6.5]
        b = vec(3, 4, 12)
        expected = py_normalize(b.tolist())
        lin.normalize(b, b)
        assert same(b, expected)
        c, d = vec(1, 2, 3), vec(10, 20, 30)
        lin.add(c, d, c)
        assert c.tolist() == [11, 22, 33]
        lin.sub(c, d, d)
        assert d.tolist() == [1, 2, 3]

    def test_mat_x_vec(self):
        for _ in range(50):
            m, a = rng.normal(size=(3, 3)) * 1e3, rng.normal(size=3)
            b = np.zeros(3)
            lin.mat_x_vec(np.ascontiguousarray(m), a, b)
            assert same(b, py_mat_x_vec(m.tolist(), a.tolist()))


class TestErrorProtocol:
    """A callee that returned -1.0 (or any void callee) with an exception pending."""

    @pytest.mark.parametrize("name,args,result", [
        ("angle", (vec(1, 0, 0), vec(-1, 0, 0)), -1.0),
        ("normalize", (vec(1, 2, 3), np.zeros(3)), None),
    ])
    def test_pending_error_passes_with_traceback(self, name, args, result):
        value, exc = lin.with_pending(name, *args)
        assert value == result
        assert isinstance(exc, RuntimeError) and str(exc) == "pending"
        names = []
        tb = exc.__traceback__
        while tb:
            names.append(tb.tb_frame.f_code.co_name)
            tb = tb.tb_next
        assert f"kelvara.mathtools.linear.linear.{name}" in names

    def test_minus_one_without_pending_error_is_a_value(self):
        value, exc = lin.with_pending("norm", vec(3, 4, 0))
        assert value == 5.0  # norm's dot is 25, not -1: the pending error is not its business


ARRAYS = {
    "contiguous": lambda a: a,
    "every_second_row": lambda a: np.repeat(a, 2, axis=0)[::2],
    "transposed": lambda a: np.asfortranarray(a),
    "transposed_view": lambda a: np.ascontiguousarray(a.T).T,
    "four_columns": lambda a: np.hstack([a, np.full((len(a), 1), np.nan)]),
    "negative_strides": lambda a: a[::-1, ::-1][::-1, ::-1],
}


class TestArrayFunctions:
    @pytest.mark.parametrize("layout", ARRAYS)
    @pytest.mark.parametrize("n", [0, 1, 7])
    def test_layouts_match_rowwise_kernels(self, layout, n):
        base = random_vectors(n)
        base[:1] = 0.0  # a zero row: norm 0, normalize NaN
        a = ARRAYS[layout](base.copy())
        norms = lin.norm_array(a)
        units = lin.normalize_array(a)
        assert norms.shape == (n,) and units.shape == (n, 3)
        assert norms.dtype == np.float64 and units.flags.c_contiguous
        for i in range(n):
            assert same(norms[i], py_norm(base[i].tolist()))
            assert same(units[i], py_normalize(base[i].tolist()))

    @pytest.mark.parametrize("fn", [lin.norm_array, lin.normalize_array])
    def test_fewer_than_three_columns_rejected(self, fn):
        with pytest.raises(ValueError, match="at least 3 columns"):
            fn(np.ones((4, 2)))

    @pytest.mark.parametrize("fn", [lin.norm_array, lin.normalize_array])
    def test_wrong_dimensions_rejected_by_view(self, fn):
        with pytest.raises(ValueError, match=r"Buffer has wrong number of dimensions \(expected 2, got 1\)"):
            fn(np.ones(3))

    def test_result_keeps_its_array_alive(self):
        out = lin.normalize_array(np.ones((3, 3)))
        base = out.base
        refs = sys.getrefcount(base)
        del out
        assert sys.getrefcount(base) == refs - 1
        assert np.asarray(base).shape == (3, 3)
        assert np.allclose(np.asarray(base), 1 / math.sqrt(3))

    def test_numpy_global_looked_up_at_call_time(self, python):
        out = python("""
            import numpy as np, linear_client as lin
            import kelvara.mathtools.linear.linear as L
            del L.numpy
            for fn in (lin.norm_array, lin.normalize_array):
                try:
                    fn(np.ones((2, 3)))
                except NameError as e:
                    tb = e.__traceback__
                    while tb.tb_next: tb = tb.tb_next
                    print(e, tb.tb_frame.f_code.co_name)
            class Fake:
                double = np.double
                @staticmethod
                def zeros(shape, dtype):
                    print("zeros", shape, dtype.__name__)
                    return np.zeros(shape, dtype)
            L.numpy = Fake
            print(lin.norm_array(np.ones((2, 3))).tolist())
        """)
        assert out.splitlines() == [
            "name 'numpy' is not defined kelvara.mathtools.linear.linear.norm_array",
            "name 'numpy' is not defined kelvara.mathtools.linear.linear.normalize_array",
            "zeros (2,) float64",
            f"{[math.sqrt(3)] * 2}",
        ]
