"""C-level 3-vector kernels; the module has no Python functions.

Its `__pyx_capi__` table (entry name -> capsule named by the C signature) is bound by C++ client
extensions through kelvara/mathtools/linear/linear.hpp."""

from types import ModuleType
from typing import Any

numpy: ModuleType
__pyx_capi__: dict[str, Any]  # capsules named by the C signature
__test__: dict[str, str]
