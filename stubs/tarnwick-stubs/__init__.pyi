"""Type information for tarnwick, a column-oriented data-frame library.

Every parameter is required and may be given by position or by keyword. A
refusal by the library is a ValueError whose only argument is the message; a
wrong argument type is the interpreter's TypeError (or OverflowError) with the
note "while processing '<parameter>'". An object used from a thread other
than the one that made it raises PanicException (a BaseException).
"""

from collections.abc import Buffer, Iterator, Sequence
from typing import Any, Literal, Protocol, SupportsFloat, SupportsIndex, TypeAlias, TypeVar, final

__all__ = ["read_csv", "Frame", "Grouped"]

_T_co = TypeVar("_T_co", covariant=True)

class _ArrayOf(Protocol[_T_co]):
    # What a sequence argument must offer besides the Sequence ABC: indexing
    # (the interpreter's sequence check) and iteration; this admits numpy
    # arrays, whose items convert through __index__ or __float__. A str is
    # refused at run time although it has both.
    def __getitem__(self, index: int, /) -> Any: ...
    def __iter__(self) -> Iterator[_T_co]: ...

# Anything with __index__ is an integer (int, bool, numpy integers); anything
# with __float__ or __index__ is a float.
_Int: TypeAlias = SupportsIndex
_Float: TypeAlias = SupportsFloat | SupportsIndex

# The `values` of the adding methods, and the sequences of the filters.
_IntValues: TypeAlias = Sequence[_Int] | _ArrayOf[_Int]
_FloatValues: TypeAlias = Sequence[_Float] | _ArrayOf[_Float]
_StrValues: TypeAlias = Sequence[str] | _ArrayOf[str]
# Columns that travel: anything offering an Arrow array or stream through the
# Arrow PyCapsule interface (pyarrow arrays, chunked arrays, table columns).
class _ArrowArrayExporter(Protocol):
    def __arrow_c_array__(self, requested_schema: object | None = None, /) -> tuple[object, object]: ...

class _ArrowStreamExporter(Protocol):
    def __arrow_c_stream__(self, requested_schema: object | None = None, /) -> object: ...

_ArrowValues: TypeAlias = _ArrowArrayExporter | _ArrowStreamExporter

# The `values` of the adding methods also take buffers of numbers (numpy
# arrays, array.array, memoryview) and Arrow arrays.
_IntColumn: TypeAlias = _IntValues | Buffer | _ArrowValues
_FloatColumn: TypeAlias = _FloatValues | Buffer | _ArrowValues
_StrColumn: TypeAlias = _StrValues | _ArrowValues
# Column names: a list or tuple of str (a lone str is refused).
_Names: TypeAlias = list[str] | tuple[str, ...]

_DType: TypeAlias = Literal["i64", "f64", "str"]
_DatePart: TypeAlias = Literal["year", "month", "day"]

def read_csv(text: str) -> Frame:
    """Read CSV text into a new frame.

    The first non-blank line names the columns; each column becomes i64, f64
    or str, the first kind that fits all its fields. An empty unquoted field
    is missing. Raises ValueError naming the line for a malformed text
    ("line 2: text after a closing quote", "line 4: 1 fields; the header has
    2", "no header line"), for repeated names and for a text over 4 GB.
    """

@final
class Frame:
    """A table: named columns of one length."""

    def __new__(cls) -> Frame:
        """Make an empty frame: no columns, no rows."""

    def add_floats(self, name: str, values: _FloatColumn) -> None:
        """Add an f64 column, in place.

        `values` is a sequence (not a str) of floats, ints or objects with
        __float__ or __index__, numpy arrays included, or an Arrow array of
        floats or integers (nulls become missing entries). The first column
        sets the height. Raises ValueError if the frame has a column of that
        name already, if the count differs from the height or reaches 2**32;
        TypeError or OverflowError for an item that is not a number, TypeError
        for another Arrow type.
        """

    def add_ints(self, name: str, values: _IntColumn) -> None:
        """Add an i64 column, in place.

        `values` is a sequence (not a str) of ints, bools or objects with
        __index__ (numpy arrays and bytes included), or an Arrow array of
        integers (nulls become missing entries). The first column sets the
        height. Raises ValueError if the frame has a column of that name
        already, if the count differs from the height or reaches 2**32;
        TypeError for a non-integer item or another Arrow type, OverflowError
        for one outside 64 bits.
        """

    def add_strings(self, name: str, values: _StrColumn) -> None:
        """Add a str column, in place.

        `values` is a sequence (not a str) of str, or an Arrow array of
        strings (utf8, large_utf8, string_view, dictionary-encoded too; nulls
        become missing entries). The first column sets the height. Raises
        ValueError if the frame has a column of that name already, if the
        count differs from the height or reaches 2**32; TypeError for a
        non-str item or another Arrow type, UnicodeEncodeError for a str with
        a lone surrogate.
        """

    def add_date_part(self, name: str, source: str, part: _DatePart) -> None:
        """Add an i64 column with the year, month or day of the YYYY-MM-DD
        dates in the str column `source`, in place; a missing date gives a
        missing entry.

        Raises ValueError for an unknown `part`, a missing or non-str
        `source`, a taken `name`, or any invalid date (naming its row); the
        frame is then unchanged.
        """

    def height(self) -> int:
        """The number of rows."""

    def width(self) -> int:
        """The number of columns."""

    def names(self) -> list[str]:
        """The column names, in column order, as a new list."""

    def dtypes(self) -> list[_DType]:
        """The column kinds ("i64", "f64" or "str"), in column order."""

    def select(self, names: _Names) -> Frame:
        """A new frame with the named columns, in that order, sharing their
        values.

        Raises ValueError for a name the frame lacks or one given twice.
        """

    def head(self, n: _Int) -> Frame:
        """A new frame with the first `n` rows; a negative `n` drops the last
        -n rows. Shares the values; never raises ValueError."""

    def tail(self, n: _Int) -> Frame:
        """A new frame with the last `n` rows; a negative `n` drops the first
        -n rows. Shares the values; never raises ValueError."""

    def sort(self, name: str, descending: bool) -> Frame:
        """A new frame with the rows ordered by one column, stably.

        NaN comes after every number and missing entries come last, in both
        directions; strings order by their UTF-8 bytes. `descending` must be a
        bool (or a numpy bool). Raises ValueError for an unknown column.
        """

    def where_eq(self, name: str, value: _Float) -> Frame:
        """A new frame with the rows whose number equals `value`.

        An i64 entry is compared with the exact value of the float; NaN and
        missing entries never pass. Raises ValueError for an unknown or str
        column.
        """

    def where_ne(self, name: str, value: _Float) -> Frame:
        """A new frame with the rows whose number differs from `value`.

        NaN entries pass, missing entries never do. Raises ValueError for an
        unknown or str column.
        """

    def where_lt(self, name: str, value: _Float) -> Frame:
        """A new frame with the rows whose number is less than `value`.

        NaN and missing entries never pass. Raises ValueError for an unknown
        or str column.
        """

    def where_le(self, name: str, value: _Float) -> Frame:
        """A new frame with the rows whose number is at most `value`.

        NaN and missing entries never pass. Raises ValueError for an unknown
        or str column.
        """

    def where_gt(self, name: str, value: _Float) -> Frame:
        """A new frame with the rows whose number is greater than `value`.

        NaN and missing entries never pass. Raises ValueError for an unknown
        or str column.
        """

    def where_ge(self, name: str, value: _Float) -> Frame:
        """A new frame with the rows whose number is at least `value`.

        NaN and missing entries never pass. Raises ValueError for an unknown
        or str column.
        """

    def where_among(self, name: str, values: _FloatValues) -> Frame:
        """A new frame with the rows whose number equals one of `values`.

        On an i64 column only integral values in range match. Raises
        ValueError for an unknown or str column (use where_in for strings).
        """

    def where_is(self, name: str, value: str) -> Frame:
        """A new frame with the rows of a str column equal, byte for byte, to
        `value`.

        Raises ValueError for an unknown column or one that is not str.
        """

    def where_in(self, name: str, values: _StrValues) -> Frame:
        """A new frame with the rows of a str column equal, byte for byte, to
        one of `values` (a sequence of str, not a str).

        Raises ValueError for an unknown column or one that is not str.
        """

    def group(self, names: _Names) -> Grouped:
        """Split the rows by the values of the key columns `names` (possibly
        none); the grouping keeps a snapshot of the frame.

        Raises ValueError for a name the frame lacks or one given twice.
        """

    def floats(self, name: str) -> list[float | None]:
        """The f64 column as a new list, None where an entry is missing.

        Raises ValueError for an unknown column or one that is not f64 (no
        conversion between kinds).
        """

    def ints(self, name: str) -> list[int | None]:
        """The i64 column as a new list, None where an entry is missing.

        Raises ValueError for an unknown column or one that is not i64 (no
        conversion between kinds).
        """

    def strings(self, name: str) -> list[str | None]:
        """The str column as a new list, None where an entry is missing.

        Raises ValueError for an unknown column or one that is not str (no
        conversion between kinds).
        """

    def to_csv(self) -> str:
        """The frame as CSV text that read_csv reads back to the same
        columns: LF line ends, missing entries as empty fields, floats as
        repr writes them."""

    def describe(self) -> str:
        """The frame's shape, as repr and str give it:
        'Frame(3 rows: a i64, b f64, c str)'."""

    def free(self) -> None:
        """Nothing under CPython, which frees the object itself; in a page,
        the instance goes back to the library."""

    def __arrow_c_schema__(self) -> Any:
        """The frame's Arrow schema as a PyCapsule: a struct of the columns
        (int64, float64, utf8) in frame order."""

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> Any:
        """The frame as an Arrow C stream in a PyCapsule, for pyarrow.table()
        and other consumers; the rows it shows, in its order, missing entries
        as nulls. Raises ValueError if requested_schema asks for another
        schema than the frame's (or its large_utf8 widening)."""

@final
class Grouped:
    """A frame split by the values of some columns; each aggregation is a `Frame` with the key
    columns first, one row per group.

    Made only by Frame.group; groups come in order of first appearance.
    """

    def groups(self) -> int:
        """The number of groups."""

    def count(self) -> Frame:
        """The keys, then the i64 column "count" (or "len" when a key is
        called "count") with the rows of each group."""

    def sum(self, name: str) -> Frame:
        """The keys, then the sum of column `name` per group (i64 or f64; a
        group without values sums to 0).

        Raises ValueError for an unknown column, a str column, a key column,
        or an i64 sum that overflows 64 bits.
        """

    def mean(self, name: str) -> Frame:
        """The keys, then the f64 mean of column `name` per group (missing for
        a group without values).

        Raises ValueError for an unknown column, a str column, a key column,
        or an i64 sum that overflows 64 bits.
        """

    def min(self, name: str) -> Frame:
        """The keys, then the smallest value of column `name` per group
        (strings by their UTF-8 bytes; missing for a group without values).

        Raises ValueError for an unknown column or a key column.
        """

    def max(self, name: str) -> Frame:
        """The keys, then the largest value of column `name` per group
        (strings by their UTF-8 bytes; missing for a group without values).

        Raises ValueError for an unknown column or a key column.
        """

    def describe(self) -> str:
        """The grouping as repr and str give it: 'Grouped(3 groups by city,
        year)'."""

    def free(self) -> None:
        """Nothing under CPython, which frees the object itself; in a page,
        the instance goes back to the library."""
