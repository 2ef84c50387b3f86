"""Stand-ins for kelvara.time.time, installed in a fresh interpreter before a module that binds
Time is imported (see run_with_fake_time)."""

import textwrap

# A pure-Python Time whose instances are `slots` pointers long: 33 slots give the 280-byte record
# the compiled modules are built against, fewer make a smaller one, more a larger one.
FAKE_TIME = '''
import datetime, sys, types

JD_UNIX = 2440587.5

def install(slots=33, jd_type=float, fail_on=None):
    calls = []

    class Time:
        __slots__ = tuple(f"s{i}" for i in range(slots))

        def __init__(self, value, format=None):
            calls.append((value, format))
            if fail_on is not None and fail_on(value, format):
                raise RuntimeError(f"Time refused {value!r}")
            if format == "jd":
                self.s0 = value
            elif isinstance(value, Time):
                self.s0 = value.s0
            else:
                if isinstance(value, str) and len(value) != 4:
                    value = datetime.datetime.fromisoformat(value)
                elif hasattr(value, "astype"):
                    value = value.astype("datetime64[us]").item()
                if not isinstance(value, datetime.datetime):
                    value = datetime.datetime(int(value), 1, 1)
                since = value - datetime.datetime(1970, 1, 1)
                self.s0 = jd_type(JD_UNIX + since.days + since.seconds / 86400)

        @property
        def jd(self):
            return self.s0

    mod = types.ModuleType("kelvara.time.time")
    mod.Time = Time
    sys.modules["kelvara.time.time"] = mod
    return Time, calls
'''


def fake_time_program(body: str) -> str:
    """A program that defines install() and then runs `body` (dedented)."""
    return FAKE_TIME + "\n" + textwrap.dedent(body)


FAKE_CLOCK = '''
import datetime, time

def set_clock(iso):
    """Stop the clock Time.now() reads (time.time_ns) at `iso`, a UTC time."""
    at = datetime.datetime.fromisoformat(iso).replace(tzinfo=datetime.timezone.utc)
    ns = int(at.timestamp()) * 1_000_000_000 + at.microsecond * 1000
    time.time_ns = lambda: ns
'''


def fake_clock_program(body: str) -> str:
    """A program that defines set_clock() and then runs `body` (dedented)."""
    return FAKE_CLOCK + "\n" + textwrap.dedent(body)
