"""The files of a read: paths, globs and URLs expanded once, on the client,
and read by byte range inside tasks (local files with ``pread``, URLs through
fsspec)."""

import dataclasses
import glob
import mmap
import os


@dataclasses.dataclass(frozen=True)
class CsvFile:
    path: str
    size: int
    # An fsspec file system for a URL; None for a local path.
    fs: object = None


def _is_url(path):
    return "://" in path


def expand(paths):
    """The files named by a path, a glob, a URL or a list of them, in order:
    a glob's matches sorted, a list's items in the order given."""
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    elif not isinstance(paths, (list, tuple)):
        raise TypeError(f"paths must be a str, a path or a list of them, not {type(paths).__name__}")
    files = []
    for path in paths:
        path = os.fspath(path)
        if not isinstance(path, str):
            raise TypeError(f"a path must be a str, not {type(path).__name__}")
        if _is_url(path):
            files.extend(_expand_url(path))
        elif glob.has_magic(path):
            matches = sorted(glob.glob(path))
            if not matches:
                raise FileNotFoundError(f"no file matches {path}")
            files.extend(CsvFile(m, os.stat(m).st_size) for m in matches if not os.path.isdir(m))
        else:
            files.append(CsvFile(path, os.stat(path).st_size))
    if not files:
        raise FileNotFoundError(f"no file in {paths!r}")
    return files


def _expand_url(url):
    import fsspec.core

    fs, _, found = fsspec.core.get_fs_token_paths(url, mode="rb", expand=True)
    if not found:
        raise FileNotFoundError(f"no file matches {url}")
    protocol = fs.protocol if isinstance(fs.protocol, str) else fs.protocol[0]
    return [CsvFile(p if _is_url(p) else f"{protocol}://{p}", fs.size(p), fs) for p in sorted(found)]


class Reader:
    """Byte ranges of one file. ``read(n, offset)`` gives at most n bytes;
    ``read_into(view, offset)`` fills a memoryview; ``buffer()`` the whole
    file as one bytes-like object (a map of a local file)."""

    def __init__(self, file):
        self.file = file
        if file.fs is None:
            self._fd = os.open(file.path, os.O_RDONLY)
            self._handle = None
        else:
            self._fd = None
            self._handle = file.fs.open(file.path, "rb")
        self._map = None

    def read(self, n, offset):
        if self._fd is not None:
            return os.pread(self._fd, n, offset)
        self._handle.seek(offset)
        return self._handle.read(n)

    def read_into(self, view, offset):
        done = 0
        while done < len(view):
            if self._fd is not None:
                got = os.preadv(self._fd, [view[done:]], offset + done)
            else:
                self._handle.seek(offset + done)
                chunk = self._handle.read(len(view) - done)
                got = len(chunk)
                view[done:done + got] = chunk
            if got == 0:
                raise EOFError(f"{self.file.path} ended at byte {offset + done}, before byte {offset + len(view)}: "
                               f"it changed while it was read")
            done += got

    def buffer(self):
        if self._map is None:
            if self.file.size == 0:
                self._map = b""
            elif self._fd is not None:
                self._map = mmap.mmap(self._fd, 0, access=mmap.ACCESS_READ)
            else:
                self._map = self.read(self.file.size, 0)
        return self._map

    def close(self):
        if isinstance(self._map, mmap.mmap):
            self._map.close()
        if self._fd is not None:
            os.close(self._fd)
        if self._handle is not None:
            self._handle.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
