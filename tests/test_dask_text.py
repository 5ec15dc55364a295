"""The record structure of CSV bytes that the block reads rely on: the
state machine walked quote by quote and the same read by runs of quotes
through numpy agree on random texts from every start state, and both agree
with tarnwick's reader on where a text ends."""

import random

import pytest

tarnwick = pytest.importorskip("tarnwick")
np = pytest.importorskip("numpy")

from tarnwick_dask import _text  # noqa: E402

ALPHABET = [b'"', b",", b"\n", b"\r", b"a", b" "]
STATES = [_text.RECORD, _text.FIELD, _text.BARE, _text.QUOTED, _text.CLOSING, _text.AFTER_CR]


def _outcome(function, *args):
    try:
        return function(*args)
    except _text.QuoteFailure as failure:
        return ("failure", failure.position)


def test_long_stretches_in_pieces(monkeypatch):
    """A long stretch is read in pieces, each starting in the state the one
    before ended in: pieces of a few bytes give the walk's states."""
    monkeypatch.setattr(_text, "_LONG", 0)
    monkeypatch.setattr(_text, "_PIECE", 3)
    rng = random.Random(10)
    for case in range(3000):
        text = b"".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, 40)))
        state = rng.choice(STATES)
        assert _outcome(_text.state_at, text, 0, state, len(text)) == _outcome(
            _text._state_at_walk, text, 0, state, len(text)), (text, state)


def test_walk_and_runs_agree():
    rng = random.Random(11)
    for case in range(20000):
        text = b"".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 24)))
        state = rng.choice(STATES)
        start = rng.randint(0, len(text))
        end = rng.randint(start, len(text))
        walk = _outcome(_text._state_at_walk, text, start, state, end)
        runs = _outcome(_text._state_at_vectorized, text, start, state, end) if end > start else state
        assert walk == runs, (text, state, start, end)


def test_states_agree_with_the_reader():
    """From a record start: a text tarnwick reads without a quote failure
    ends outside a quoted field exactly when the walk says so, and the walk
    finds a quote failure exactly when tarnwick reports one."""
    rng = random.Random(12)
    for case in range(5000):
        text = b"h\n" + b"".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 20)))
        try:
            tarnwick.read_csv(text.decode())
            message = ""
        except ValueError as error:
            message = str(error)
        state = _outcome(_text.state_at, text, 0, _text.RECORD, len(text))
        if "text after a closing quote" in message:
            assert state[0] == "failure", (text, message)
        elif "never closed" in message:
            assert state == _text.QUOTED, (text, message)
        else:
            assert state not in (_text.QUOTED,) and not isinstance(state, tuple), (text, message, state)


def _naive(text):
    """The reader's grammar byte by byte: the state before each byte, the
    line counter there, and the position of the first text after a closing
    quote (or None)."""
    R, F, B, Q, C, A = STATES
    state, line, states, lines = R, 1, [], []
    for i, byte in enumerate(text):
        states.append(state)
        lines.append(line)
        c = bytes((byte,))
        if state == A and c == b"\n":
            state = R
            continue
        if state == A:
            state = R
        if state in (R, F):
            state = Q if c == b'"' else F if c == b"," else A if c == b"\r" else R if c == b"\n" else B
            line += c in (b"\n", b"\r")
        elif state == B:
            state = F if c == b"," else A if c == b"\r" else R if c == b"\n" else B
            line += c in (b"\n", b"\r")
        elif state == Q:
            state = C if c == b'"' else Q
            line += c == b"\n"
        else:  # closing
            if c == b'"':
                state = Q
            elif c in (b",", b"\n", b"\r"):
                state = F if c == b"," else A if c == b"\r" else R
                line += c in (b"\n", b"\r")
            else:
                return states, lines, i - 1
    states.append(state)
    lines.append(line)
    return states, lines, None


def test_against_the_grammar_byte_by_byte():
    rng = random.Random(13)
    for case in range(4000):
        text = b"".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 30)))
        states, lines, failure = _naive(text)
        for end in range(len(text) + 1):
            got = _outcome(_text.state_at, text, 0, _text.RECORD, end)
            if failure is not None and failure + 1 < end:
                assert got == ("failure", failure), (text, end)
                continue
            expected = states[end]
            assert got == expected, (text, end, got, expected)
            # A record start, with the lines before it.
            if expected == _text.RECORD or (expected == _text.AFTER_CR and text[end:end + 1] != b"\n"):
                assert 1 + _text.count_lines(text, 0, end) == lines[end], (text, end)
                assert _text.record_start(text, end, _text.RECORD, len(text)) == end
