"""A user's script, checked by `mypy --strict` against the installed wheel and
then run in the same environment: the types it asserts are the ones the calls
return. Each `type: ignore` marks a call the stub must refuse; mypy --strict
reports an ignore that is not needed, so a stub that grew too loose fails.
"""

from array import array
from collections.abc import Callable
from typing import Literal, assert_type

import tarnwick
from tarnwick import Frame, Grouped

f = Frame()
f.add_strings("city", ["Oslo", "Lima", "Pune"])
f.add_ints("year", (2021, 2022, 2022))
f.add_floats("rain_mm", [763.0, 12.5, 722])
f.add_ints("flag", [True, False, True])
f.add_ints("byte", b"\x01\x02\x03")
f.add_floats("counted", range(3))
f.add_ints("packed", array("q", [7, 8, 9]))
f.add_strings("day", ["2021-01-31", "2022-02-28", "2022-12-01"])
f.add_date_part("month", "day", "month")

assert_type(f.height(), int)
assert_type(f.names(), list[str])
dtypes = f.dtypes()
assert_type(dtypes, list[Literal["i64", "f64", "str"]])
assert set(dtypes) <= {"i64", "f64", "str"}

years = f.ints("year")
assert_type(years, list[int | None])
assert years == [2021, 2022, 2022]
assert_type(f.floats("rain_mm"), list[float | None])
assert_type(f.strings("city"), list[str | None])
assert f.ints("month") == [1, 2, 12]

wet = f.where_gt("rain_mm", 100).where_among("year", [2021, 2022.0]).select(["city", "year"])
assert_type(wet, Frame)
assert wet.strings("city") == ["Oslo", "Pune"]
assert f.where_in("city", ("Lima",)).head(5).tail(-0).height() == 0
assert f.sort("rain_mm", descending=True).strings("city")[0] == "Oslo"

g = f.group(["year"])
assert_type(g, Grouped)
assert_type(g.groups(), int)
assert g.mean("rain_mm").floats("rain_mm") == [763.0, 367.25]
assert g.count().ints("count") == [1, 2]
assert_type(g.describe(), str)

text = f.to_csv()
assert tarnwick.read_csv(text).names() == f.names()
assert repr(f) == f.describe()

# Calls the stub refuses, each one refused by the runtime as well.
refused: list[Callable[[], object]] = [
    lambda: f.add_date_part("week", "day", "week"),  # type: ignore[arg-type]
    lambda: f.select("city"),  # type: ignore[arg-type]
    lambda: f.add_strings("n", [1, 2, 3]),  # type: ignore[arg-type]
    lambda: f.sort("year", 1),  # type: ignore[arg-type]
    lambda: f.head("2"),  # type: ignore[arg-type]
    lambda: f.where_eq("year", "2021"),  # type: ignore[arg-type]
]
for call in refused:
    try:
        call()
    except (TypeError, ValueError):
        pass
    else:
        raise AssertionError("the runtime accepted a call the stub refuses")
print("user script: types and behaviour agree")
