"""What tasks hand each other: a partition's value, or the failure that
replaces it, with what is needed to order failures as one machine would.

A one-machine chain of operations runs each operation on the whole frame in
turn, so the failure it raises is the one of the earliest operation that fails
anywhere; within an operation that names a row (``add_date_part``), the first
failing row of the whole frame. Here every operation carries its depth (its
place in the chain from the source), each partition reports the first failure
of its own chain, and merging pieces in partition order keeps the failure of
the lowest depth, then of the earliest partition. To restate a row number for
the whole frame, every piece counts the rows that entered each row-naming
operation, and merging sums those counts.

Nothing here refers to a tarnwick object: pieces cross threads and processes.
"""

import dataclasses

import dask.sizeof


@dataclasses.dataclass(frozen=True)
class Failure:
    """A refusal with its exception type and arguments, and where it arose.

    ``row`` is set for a failure that names a row: the row counted from the
    start of the pieces merged so far; the message is ``prefix``, the row,
    ``suffix``.
    """

    depth: int
    kind: str
    args: tuple
    notes: tuple = ()
    row: int | None = None
    prefix: str = ""
    suffix: str = ""
    # Within one operation, the place of this check among the operation's
    # checks, where that depends on the data: add_date_part reports an
    # invalid date (rank 1) before a name already taken (rank 2), so a
    # partition without dates does not decide the failure; a sum's overflow
    # (1) comes before the refusal of a key column (2).
    rank: int = 0

    @classmethod
    def value_error(cls, depth, message, notes=()):
        return cls(depth, "ValueError", (message,), tuple(notes))

    def shifted(self, rows_before):
        if self.row is None:
            return self
        return dataclasses.replace(self, row=self.row + rows_before)

    def exception(self):
        if self.row is not None:
            args = (f"{self.prefix}{self.row}{self.suffix}",)
        else:
            args = self.args
        error = _EXCEPTIONS[self.kind](*args)
        for note in self.notes:
            error.add_note(note)
        return error

    def settled(self):
        """The same failure with its row written into the message, for a
        failure that leaves the stage whose rows it counts."""
        if self.row is None:
            return self
        return Failure(self.depth, self.kind, (f"{self.prefix}{self.row}{self.suffix}",), self.notes,
                       rank=self.rank)


_EXCEPTIONS = {
    "ValueError": ValueError,
    "TypeError": TypeError,
    "UnicodeDecodeError": UnicodeDecodeError,
    "FileNotFoundError": FileNotFoundError,
}


@dataclasses.dataclass
class Piece:
    """A partition's value (an Arrow table, a CSV text, a partial grouping,
    a count...) or its failure; ``rows`` maps the depth of each row-naming
    operation to the rows that entered it; ``pending`` lists verdicts that
    only the client can settle; ``info`` is what a CSV block read reports to
    the barriers, dropped once the block is final."""

    value: object = None
    failure: Failure | None = None
    rows: dict = dataclasses.field(default_factory=dict)
    pending: tuple = ()
    info: object = None
    carry: object = None

    def failed(self, failure):
        return Piece(None, failure, self.rows, self.pending)


def merge(pieces):
    """The failure and row counts of pieces taken in order, as one piece
    without a value: the failure of the lowest depth (and rank), then of
    the earliest piece, with its row counted from the first piece."""
    rows, failure, pending = {}, None, []
    for piece in pieces:
        if piece.failure is not None:
            candidate = piece.failure.shifted(rows.get(piece.failure.depth, 0))
            if failure is None or (candidate.depth, candidate.rank) < (failure.depth, failure.rank):
                failure = candidate
        for depth, count in piece.rows.items():
            rows[depth] = rows.get(depth, 0) + count
        for item in piece.pending:
            if item not in pending:
                pending.append(item)
    return Piece(None, failure, rows, tuple(pending))


def settle(pieces):
    """A barrier's view of a whole stage: the stage's failure with its row
    written out, and no row counts (the next stage counts its own)."""
    merged = merge(pieces)
    failure = merged.failure.settled() if merged.failure is not None else None
    return Piece(None, failure, {}, merged.pending)


def _value_size(value):
    return dask.sizeof.sizeof(value)


@dask.sizeof.sizeof.register(Piece)
def _sizeof_piece(piece):
    return 200 + _value_size(piece.value) + (dask.sizeof.sizeof(piece.info) if piece.info is not None else 0)


@dask.sizeof.sizeof.register(Failure)
def _sizeof_failure(failure):
    return 200 + sum(len(str(a)) for a in failure.args)
