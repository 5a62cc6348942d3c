"""Reads and writes Veltrane's .enn containers, over the shared library libenn.

    import enn
    password, data = enn.decrypt("batch.txt.enn")      # checks everything first
    password = enn.decrypt("batch.txt.enn", out="batch.txt")
    enn.verify(received_bytes)                           # a container in memory
    enn.encrypt("batch.txt", "246810")                   # writes batch.txt.enn

Every function works under the key built into the tool. A container is
given either as a file name (str or os.PathLike, a PathLike's bytes too) or
as its bytes in memory (bytes, bytearray or memoryview); a file name held in
bytes goes in as os.fsdecode(name). Nothing is printed.

Every failure raises enn.Error (or one of its subclasses ContainerError and
OutputError) carrying the library's fault: .fault (an int, one of the
FAULT_... constants of this module), .name ("ENN_FAULT_DIGEST"), .text
(the library's English words) and .path. Any function may be called from
several threads at once; the library does not hold the GIL while it works.

The library is libenn.so.1, found where the system keeps libraries, or the
file that the environment variable ENN_LIBRARY names.
"""

from __future__ import annotations

import ctypes
import os
from typing import Callable, List, Optional, Tuple, Union, overload

__all__ = [
    "ContainerError",
    "Error",
    "OutputError",
    "decrypt",
    "encrypt",
    "read_password",
    "verify",
    "version",
]

PathName = Union[str, "os.PathLike[str]", "os.PathLike[bytes]"]
Data = Union[bytes, bytearray, memoryview]
Source = Union[PathName, Data]

# What enn.h says of a container's name and of its password (the six digits
# and a NUL); tests/test_enn.py holds both against the header.
EXTENSION = ".enn"
_PASSWORD_SIZE = 7
# EnnDecryptFileEx's placing.
_REPLACE_EXISTING = 0
_KEEP_EXISTING = 1
_NO_DIAGNOSTIC = 2
# Pieces in which a container held in memory is handed to the library.
_PIECE = 1 << 20

_READ = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char), ctypes.c_int)
_WRITE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char), ctypes.c_int)
_PROGRESS = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_longlong, ctypes.c_longlong)


def _load() -> ctypes.CDLL:
    lib = ctypes.CDLL(os.environ.get("ENN_LIBRARY") or "libenn.so.1")
    c_int, c_char_p, c_void_p, c_size_t = ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_size_t
    fault_p = ctypes.POINTER(c_int)
    signatures = {
        "EnnVersion": (c_char_p, []),
        "EnnBuiltIn": (c_void_p, []),
        "EnnFaultName": (c_char_p, [c_int]),
        "EnnFaultText": (c_char_p, [c_int]),
        "EnnFaultIsOutput": (c_int, [c_int]),
        "EnnReadPasswordEx": (c_int, [c_void_p, c_char_p, c_char_p, fault_p]),
        "EnnReadPasswordStream": (c_int, [c_void_p, c_char_p, _READ, c_void_p, c_char_p, fault_p]),
        "EnnDecryptFileEx": (c_int, [c_void_p, c_char_p, c_char_p, c_int, fault_p]),
        "EnnDecryptStreamEx": (
            c_int,
            [c_void_p, c_char_p, c_char_p, c_int, _READ, _WRITE, _PROGRESS, c_void_p, c_char_p, fault_p],
        ),
        "EnnEncryptFileEx": (c_int, [c_char_p, c_void_p, c_char_p, c_char_p, fault_p]),
        "EnnDecoderNew": (c_void_p, [c_void_p, c_size_t, fault_p]),
        "EnnDecoderFeed": (c_int, [c_void_p, c_char_p, c_size_t]),
        "EnnDecoderFinish": (
            c_int,
            [c_void_p, c_char_p, ctypes.POINTER(ctypes.POINTER(ctypes.c_char)),
             ctypes.POINTER(c_size_t), fault_p],
        ),
        "EnnDecoderFree": (None, [c_void_p]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


_lib = _load()
_KEY = _lib.EnnBuiltIn()


def _fault_names() -> List[str]:
    """The library's fault names, in the order of their values."""
    names = []
    while True:
        name = _lib.EnnFaultName(len(names)).decode("ascii")
        if name == "ENN_FAULT_UNKNOWN":
            return names
        names.append(name)


# FAULT_NONE, FAULT_DIGEST, ...: the library's faults by the names it gives.
for _value, _name in enumerate(_fault_names()):
    globals()[_name[len("ENN_") :]] = _value
    __all__.append(_name[len("ENN_") :])
del _value, _name

# The faults of an input that is no container as the encoder writes them.
_DAMAGED = frozenset(
    (
        "ENN_FAULT_DIGEST",
        "ENN_FAULT_FOREIGN_KEY",
        "ENN_FAULT_LAYOUT",
        "ENN_FAULT_NOT_CONTAINER",
        "ENN_FAULT_TOO_SHORT",
    )
)


class Error(Exception):
    """A failed operation: the library's fault, its name and its words."""

    def __init__(self, fault: int, result: int, path: Optional[str] = None) -> None:
        self.fault = fault
        self.result = result
        self.name: str = _lib.EnnFaultName(fault).decode("ascii")
        self.text: str = _lib.EnnFaultText(fault).decode("utf-8")
        self.path = path
        super().__init__(f"{path}: {self.text}" if path is not None else self.text)


class ContainerError(Error):
    """The input is not a container, or a damaged one, or one of another key."""


class OutputError(Error):
    """The output cannot be made, written or put in place."""


def _raise(fault: int, result: int, path: Optional[str]) -> None:
    name = _lib.EnnFaultName(fault).decode("ascii")
    if name in _DAMAGED:
        raise ContainerError(fault, result, path)
    if _lib.EnnFaultIsOutput(fault):
        raise OutputError(fault, result, path)
    raise Error(fault, result, path)


def _is_data(source: object) -> bool:
    return isinstance(source, (bytes, bytearray, memoryview))


def _name(path: PathName) -> bytes:
    name = os.fsencode(path)
    if b"\0" in name:
        raise ValueError(f"a file name with a NUL in it: {path!r}")
    return name


def _shown(path: PathName) -> str:
    return os.fsdecode(os.fspath(path))


def _reader(data: Data) -> Callable[..., int]:
    """A read function for the library over data."""
    view = memoryview(data).cast("B")
    done = [0]

    def read(_context: Optional[int], buf: ctypes.Array, size: int) -> int:  # type: ignore[type-arg]
        piece = view[done[0] : done[0] + size]
        ctypes.memmove(buf, bytes(piece), len(piece))
        done[0] += len(piece)
        return len(piece)

    return _READ(read)


def version() -> str:
    """The version of the libenn loaded, as it was built: "MAJOR.MINOR.PATCH"."""
    return str(_lib.EnnVersion().decode("ascii"))


def verify(source: Source) -> None:
    """Checks a container through and through; raises Error unless it holds."""
    if _is_data(source):
        _decode(source)  # type: ignore[arg-type]
        return
    fault = ctypes.c_int()
    name = _name(source)  # type: ignore[arg-type]
    result = _lib.EnnDecryptFileEx(_KEY, name, None, _NO_DIAGNOSTIC, ctypes.byref(fault))
    if result != 0:
        _raise(fault.value, result, _shown(source))  # type: ignore[arg-type]


def read_password(source: Source) -> str:
    """The six digits a container carries, read without checking the rest."""
    fault = ctypes.c_int()
    password = ctypes.create_string_buffer(_PASSWORD_SIZE)
    if _is_data(source):
        read = _reader(source)  # type: ignore[arg-type]
        result = _lib.EnnReadPasswordStream(_KEY, None, read, None, password, ctypes.byref(fault))
        shown = None
    else:
        name = _name(source)  # type: ignore[arg-type]
        result = _lib.EnnReadPasswordEx(_KEY, name, password, ctypes.byref(fault))
        shown = _shown(source)  # type: ignore[arg-type]
    if result != 0:
        _raise(fault.value, result, shown)
    return password.value.decode("ascii")


def _decode(data: Data) -> Tuple[str, bytes]:
    """The password and plain bytes of a container in memory; no file touched."""
    fault = ctypes.c_int()
    decoder = _lib.EnnDecoderNew(_KEY, 0, ctypes.byref(fault))
    if not decoder:
        _raise(fault.value, -1, None)
    try:
        view = memoryview(data).cast("B")
        for start in range(0, len(view), _PIECE):
            piece = bytes(view[start : start + _PIECE])
            if _lib.EnnDecoderFeed(decoder, piece, len(piece)) != 0:
                break  # Finish tells why.
        password = ctypes.create_string_buffer(_PASSWORD_SIZE)
        plain = ctypes.POINTER(ctypes.c_char)()
        plain_len = ctypes.c_size_t()
        result = _lib.EnnDecoderFinish(
            decoder, password, ctypes.byref(plain), ctypes.byref(plain_len), ctypes.byref(fault)
        )
        if result != 0:
            _raise(fault.value, result, None)
        return password.value.decode("ascii"), ctypes.string_at(plain, plain_len.value)
    finally:
        _lib.EnnDecoderFree(decoder)


@overload
def decrypt(source: Source, out: None = None, *, keep_existing: bool = False) -> Tuple[str, bytes]: ...


@overload
def decrypt(source: Source, out: PathName, *, keep_existing: bool = False) -> str: ...


def decrypt(
    source: Source, out: Optional[PathName] = None, *, keep_existing: bool = False
) -> Union[str, Tuple[str, bytes]]:
    """Checks a container and gives its password and plain bytes, from one pass.

    Without out: returns (password, data). With out: writes the plain file
    there, put in place only once the whole container has checked out
    (replacing a file there, or with keep_existing refusing to), and returns
    the password. The password is "" for a container of nothing, which
    carries none.
    """
    if out is None and _is_data(source):
        return _decode(source)  # type: ignore[arg-type]
    fault = ctypes.c_int()
    password = ctypes.create_string_buffer(_PASSWORD_SIZE)
    in_name: Optional[bytes] = None
    read = _READ()  # null: the file in_name
    if _is_data(source):
        read = _reader(source)  # type: ignore[arg-type]
        shown = None
    else:
        in_name = _name(source)  # type: ignore[arg-type]
        shown = _shown(source)  # type: ignore[arg-type]
    pieces: List[bytes] = []
    write = _WRITE()  # null: the file out_name
    out_name = None
    if out is None:

        def collect(_context: Optional[int], buf: ctypes.Array, size: int) -> int:  # type: ignore[type-arg]
            pieces.append(ctypes.string_at(buf, size))
            return 0

        write = _WRITE(collect)
    else:
        out_name = _name(out)
    placing = _KEEP_EXISTING if keep_existing else _REPLACE_EXISTING
    result = _lib.EnnDecryptStreamEx(
        _KEY, in_name, out_name, placing, read, write, _PROGRESS(), None, password, ctypes.byref(fault)
    )
    if result != 0:
        if out is not None and _lib.EnnFaultIsOutput(fault.value):
            shown = _shown(out)
        _raise(fault.value, result, shown)
    if out is None:
        return password.value.decode("ascii"), b"".join(pieces)
    return password.value.decode("ascii")


def encrypt(path: PathName, password: str, out: Optional[PathName] = None) -> str:
    """Writes the container of the file at path, carrying password (six
    digits), to out (by default path + ".enn"), and returns out's name. The
    container replaces a file at out only once it is whole and on disk."""
    if _is_data(path):
        raise TypeError("encrypt takes the name of a file, not its bytes")
    if "\0" in password:
        raise ValueError("a password with a NUL in it")
    target = _shown(out) if out is not None else _shown(path) + EXTENSION
    fault = ctypes.c_int()
    result = _lib.EnnEncryptFileEx(
        password.encode("utf-8"), _KEY, _name(path), _name(target), ctypes.byref(fault)
    )
    if result != 0:
        _raise(fault.value, result, target if _lib.EnnFaultIsOutput(fault.value) else _shown(path))
    return target

