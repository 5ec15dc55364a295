"""Keys chosen offline to collide under fixed, public hash functions cost about
what random keys cost, in every table keyed by a hash of user data.

Each attack is crafted against a function anyone can compute: FNV-1a of the
key placed by its top bits after a multiplication by 2^64 / golden ratio (the
groups' table before it was seeded), the fixed text hash of `where_in`'s set,
and the standard library's string hash that once held the header names. The
crafted keys land in a small window of slots, so that linear probing meets
them all in one run, or share one full 64-bit hash. Each attack runs in its
own process and compares its CPU time with that of as many random keys.

Keys sharing one full FNV-1a hash are not crafted: FNV-1a no longer decides
which groups a row is compared with. The groups' hash is keyed by random words
drawn per process, so no set of keys can be chosen offline to share it; the
C++ tests force shared hashes to check that the groups stay apart."""
import json
import os
import subprocess
import sys

import numpy as np
import pytest

from tarnwick import Frame, read_csv

from test_hostile_inputs import SANITIZED, cpu_time_of

U64 = np.uint64
FNV_BASIS = 14695981039346656037
FNV_PRIME = 1099511628211
GOLDEN = 0x9E3779B97F4A7C15
KEYS = 8_000
REPEATS = 5
# The groups' table keeps at most a quarter of its slots in use: 8,000 keys
# end in 2^15 slots, and keys whose top 5 bits agree fall into 1,024 of them.
WINDOW_BITS = 5


def top_bits_zero(values, bits):
    return (values >> U64(64 - bits)) == 0


def fnv1a(columns_of_bytes):
    """FNV-1a of each row of a (rows, length) byte array."""
    h = np.full(columns_of_bytes.shape[0], FNV_BASIS, dtype=U64)
    for j in range(columns_of_bytes.shape[1]):
        h = (h ^ columns_of_bytes[:, j].astype(U64)) * U64(FNV_PRIME)
    return h


def crafted_ints(rng):
    """i64 keys whose unseeded group slots share their top bits."""
    found = np.empty(0, dtype=np.int64)
    while len(found) < KEYS:
        keys = rng.integers(-2**63, 2**63 - 1, size=1 << 18, dtype=np.int64)
        little_endian = keys.view(np.uint8).reshape(-1, 8)
        found = np.unique(np.concatenate(
            [found, keys[top_bits_zero(fnv1a(little_endian) * U64(GOLDEN), WINDOW_BITS)]]))
    return rng.permutation(found)[:KEYS].tolist()


ALPHABET = np.frombuffer(b"abcdefghijklmnopqrstuvwxyz0123456789", dtype=np.uint8)


def random_texts(rng, count, length):
    return ALPHABET[rng.integers(0, len(ALPHABET), size=(count, length))]


def crafted_group_strings(rng):
    """12-byte str keys whose unseeded group slots share their top bits."""
    found = set()
    while len(found) < KEYS:
        texts = random_texts(rng, 1 << 17, 12)
        with_end = np.hstack([texts, np.full((len(texts), 1), 0xFF, dtype=np.uint8)])
        chosen = texts[top_bits_zero(fnv1a(with_end) * U64(GOLDEN), WINDOW_BITS)]
        found.update(row.tobytes().decode() for row in chosen)
    return sorted(found)[:KEYS]


def where_in_hash(texts):
    """The fixed hash of `where_in`'s set for 16-byte texts."""
    words = texts.view("<u8").reshape(-1, 2)
    h = (words[:, 0] ^ U64(0x9E3779B97F4A7C15)) * U64(0xBF58476D1CE4E5B9)
    h ^= (words[:, 1] + U64(16)) * U64(0x94D049BB133111EB)
    h ^= h >> U64(29)
    h *= U64(0xFF51AFD7ED558CCD)
    return h ^ (h >> U64(32))


def crafted_where_in_strings(rng):
    """16-byte texts whose slots in the unseeded set share their top bits."""
    found = set()
    while len(found) < KEYS:
        texts = random_texts(rng, 1 << 17, 16)
        chosen = texts[top_bits_zero(where_in_hash(texts), WINDOW_BITS)]
        found.update(row.tobytes().decode() for row in chosen)
    return sorted(found)[:KEYS]


MURMUR = 0xC6A4A7935BD1E995
MURMUR_INVERSE = pow(MURMUR, -1, 1 << 64)
STD_SEED = 0xC70F6907


def shift_mix(v):
    return v ^ (v >> U64(47))  # its own inverse


def crafted_header_names(rng):
    """16-byte names that share one full standard-library string hash: the
    first word is random, and the second cancels its effect on the state."""
    allowed = np.array([b for b in range(1, 128) if b not in b'\n\r",'], dtype=np.uint8)
    state = U64(STD_SEED ^ ((16 * MURMUR) & (2**64 - 1)))
    found = set()
    while len(found) < KEYS:
        first = allowed[rng.integers(0, len(allowed), size=(1 << 19, 8))]
        word = first.view("<u8").ravel()
        after_first = (state ^ (shift_mix(word * U64(MURMUR)) * U64(MURMUR))) * U64(MURMUR)
        # The second word makes the state before the last multiplication 0.
        second = shift_mix(after_first * U64(MURMUR_INVERSE)) * U64(MURMUR_INVERSE)
        second_bytes = second.view(np.uint8).reshape(-1, 8)
        ok = np.isin(second_bytes, allowed).all(axis=1)
        for a, b in zip(first[ok], second_bytes[ok]):
            found.add((a.tobytes() + b.tobytes()).decode())
    return sorted(found)[:KEYS]


def random_strings(rng, length):
    return sorted({row.tobytes().decode() for row in random_texts(rng, KEYS, length)})


def grouping(adding, keys):
    frame = Frame()
    getattr(frame, adding)("k", keys * REPEATS)
    return lambda: frame.group(["k"]).groups()


def where_in(keys):
    frame = Frame()
    frame.add_strings("k", keys * REPEATS)
    return lambda: frame.where_in("k", keys).height()


def header(names):
    text = ",".join(names) + "\n" + ",".join("1" for _ in names) + "\n"
    return lambda: read_csv(text).width()


def int_keys(rng):
    return rng.integers(-2**63, 2**63 - 1, size=KEYS, dtype=np.int64).tolist()


# name -> (crafted keys, random keys, the work on keys, its result)
ATTACKS = {
    "group i64 slots": (crafted_ints, int_keys, lambda k: grouping("add_ints", k),
                        KEYS),
    "group str slots": (crafted_group_strings, lambda rng: random_strings(rng, 12),
                        lambda k: grouping("add_strings", k), KEYS),
    "where_in str slots": (crafted_where_in_strings, lambda rng: random_strings(rng, 16),
                           where_in, KEYS * REPEATS),
    "header names, one full hash": (crafted_header_names, lambda rng: random_strings(rng, 16),
                                    header, KEYS),
}


def run_attack(name):
    """In the child process: both key sets' results and the ratio of their times."""
    craft, draw, work, expected = ATTACKS[name]
    rng = np.random.default_rng(20261208)
    crafted, plain = work(craft(rng)), work(draw(rng))
    result = {"results": [crafted(), plain()], "expected": expected}
    if not SANITIZED:
        result["ratio"] = cpu_time_of(crafted) / cpu_time_of(plain)
    print(json.dumps(result))


@pytest.mark.parametrize("name", ATTACKS)
def test_crafted_keys_cost_about_what_random_keys_cost(name):
    here = os.path.dirname(__file__)
    code = (f"import sys; sys.path.insert(0, {here!r}); import test_hash_flooding as t; "
            f"t.run_attack({name!r})")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          timeout=600 if SANITIZED else 300)
    assert done.returncode == 0, done.stderr[-3000:]
    result = json.loads(done.stdout.strip().splitlines()[-1])
    assert result["results"] == [result["expected"]] * 2
    if not SANITIZED:
        assert result["ratio"] < 3, result
