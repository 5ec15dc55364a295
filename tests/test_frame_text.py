"""The one-line text of a frame: repr, str and describe."""
import threading

import pytest

from tarnwick import Frame, read_csv

from helpers.frames import frame_of


def texts(frame):
    return {repr(frame), str(frame), frame.describe()}


@pytest.mark.parametrize("frame,text", [
    (Frame(), "Frame(0 rows: )"),
    (frame_of(x=["a"]), "Frame(1 rows: x str)"),
    (frame_of(a=[1, 2, 3], b=[0.5, 1.5, 2.5], c=["x", "y", "z"]), "Frame(3 rows: a i64, b f64, c str)"),
    (frame_of(**{"": [1, 2]}), "Frame(2 rows:  i64)"),
    (frame_of(**{'a, b "c"\n\\': [1]}), 'Frame(1 rows: a, b "c"\n\\ i64)'),
    (frame_of(**{"é\u200b": []}), "Frame(0 rows: é\u200b i64)"),
    (read_csv("n,x\n,1.5\n"), "Frame(1 rows: n i64, x f64)"),
])
def test_text_of_a_frame(frame, text):
    assert texts(frame) == {text}


def test_height_is_the_height_the_frame_shows():
    frame = frame_of(a=[1, 2, 3, 4, 5])
    assert repr(frame.head(2)) == "Frame(2 rows: a i64)"


def test_describe_takes_no_arguments():
    with pytest.raises(TypeError):
        Frame().describe(1)


class ReprWhileIterated:
    """A sequence whose iteration asks for the text of a frame."""

    def __init__(self, frame):
        self.frame = frame

    def __len__(self):
        return 1

    def __getitem__(self, i):
        raise IndexError

    def __iter__(self):
        repr(self.frame)
        return iter([1])


def test_text_follows_the_call_discipline():
    frame = frame_of(a=[1])
    outcome = []

    def body():
        try:
            repr(frame)
        except BaseException as error:  # PanicException is not an Exception
            # Keep the name only: the exception's traceback would hold the
            # frame in a cycle, freed later by the collector on any thread.
            outcome.append(type(error).__name__)

    thread = threading.Thread(target=body)
    thread.start()
    thread.join()
    assert outcome == ["PanicException"]

    with pytest.raises(RuntimeError) as caught:
        frame.add_ints("b", ReprWhileIterated(frame))
    assert caught.value.args == ("Already mutably borrowed",)
    assert frame.names() == ["a"]
