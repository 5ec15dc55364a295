"""The quoted form of names, checked for every code point against the
interpreter's Unicode database (and Perl's Grapheme_Extend where Perl is here)."""
import shutil
import subprocess
import unicodedata

import pytest

from tarnwick import Frame

NOT_PRINTABLE = {"Cc", "Cf", "Cn", "Zs", "Zl", "Zp"}
SPECIAL = {'"': '\\"', "\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n", "\0": "\\0"}


def grapheme_extend():
    if shutil.which("perl") is None:
        pytest.skip("perl is not here")
    script = ('for my $c (0 .. 0x10FFFF) { next if $c >= 0xD800 && $c <= 0xDFFF; '
              'print "$c\\n" if chr($c) =~ /\\p{Grapheme_Extend}/ }')
    out = subprocess.run(["perl", "-e", script], check=True, capture_output=True, text=True).stdout
    points = {int(line) for line in out.split()}
    if len(points) != 2193:
        pytest.skip("perl's Unicode is not the interpreter's")
    return points


def expected_form(cp, extend):
    ch = chr(cp)
    if ch in SPECIAL:
        return SPECIAL[ch]
    if (unicodedata.category(ch) in NOT_PRINTABLE and ch != " ") or cp in extend:
        return "\\u{%x}" % cp
    return ch


def test_every_code_point():
    assert unicodedata.unidata_version == "16.0.0"
    extend = grapheme_extend()
    points = [cp for cp in range(0x110000) if not 0xD800 <= cp <= 0xDFFF]
    batch = 1024
    for start in range(0, len(points), batch):
        chunk = points[start:start + batch]
        f = Frame()
        for cp in chunk:
            f.add_ints(chr(cp), [])
        with pytest.raises(ValueError) as caught:
            f.ints("")  # never a name in a chunk of single characters
        shown = str(caught.value)
        prefix = 'no column "" (the frame has "'
        assert shown.startswith(prefix) and shown.endswith('")')
        got = shown[len(prefix):-2].split('", "')
        wanted = [expected_form(cp, extend) for cp in chunk]
        assert got == wanted
