"""numpy arrays as `values` and filter arguments, checked by `mypy --strict`
with numpy's own annotations and run against the installed wheel."""

from typing import assert_type

import numpy as np

from tarnwick import Frame

f = Frame()
f.add_ints("i", np.arange(4, dtype=np.int64))
f.add_floats("x", np.linspace(0.0, 1.5, 4))
f.add_floats("y", np.arange(4, dtype=np.int32))
f.add_strings("s", np.array(["a", "b", "c", "d"]).tolist())
kept = f.where_among("i", np.array([1.0, 3.0])).where_ge("x", np.float64(0.5))
assert_type(kept, Frame)
assert kept.ints("i") == [1, 3]
assert f.sort("x", np.bool_(True)).ints("i") == [3, 2, 1, 0]  # type: ignore[arg-type]
print("numpy values: types and behaviour agree")
