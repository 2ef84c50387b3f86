"""The thread pool shared by kelvara's modules."""

from typing import Any

__pyx_capi__: dict[str, Any]  # capsule "table": the pool's C table, bound by every module
__test__: dict[str, str]

def get_num_threads() -> int: ...
def set_num_threads(n: int, /) -> None: ...
