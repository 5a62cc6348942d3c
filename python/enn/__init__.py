"""Reads and writes Veltrane's .enn containers, over the shared library libenn.

    import enn
    password, data = enn.decrypt("batch.txt.enn")       # checks everything first
    password = enn.decrypt("batch.txt.enn", out="batch.txt")
    enn.verify(received_bytes)                           # a container in memory
    enn.encrypt("reply.txt", "246810")                   # writes reply.txt.enn

The guide to the module: /usr/share/doc/python3-enn/README.md (in the
sources, python/README.md).

Every function works under the key built into the tool. A container is
given either as a file name (str or os.PathLike, a PathLike's bytes too) or
as its bytes in memory (bytes, bytearray or memoryview); a file name held in
bytes goes in as os.fsdecode(name). Nothing is printed.

The functions:

    decrypt(source)             -> (password, data): checks the whole
                                   container, then gives its password and
                                   plain bytes, decoded in memory (no file
                                   is written, not even a temporary one)
                                   straight into the bytes returned, so
                                   that the plain data is held once
    decrypt(source, out=NAME)   -> password: writes the plain file at NAME,
                                   put in place only once the whole
                                   container has checked out
    verify(source)              checks a container through and through
    read_password(source)       the six digits it carries, the rest unchecked
    encrypt(path, password, out=None) -> the container's name (by default
                                   path + ".enn"), put in place whole
    version()                   the libenn loaded, "MAJOR.MINOR.PATCH"

The password is "" for a container of nothing, which carries none.

Existing files are kept: decrypt(..., out=NAME) and encrypt(...) refuse to
write over a file already at their output, with an OutputError whose name
is "ENN_FAULT_EXISTS", as the command enn does without --force. Give
replace=True to replace it; the new file then takes the old one's place
only once it is whole, and the old one stays as it was on any failure.

Failures, and what a caller does about each:

    ContainerError  the container itself is refused: damaged, not a
                    container, or written under another key. No second try
                    will do: ask the sender to send it again.
    OutputError     the output cannot be made, written or put in place (it
                    exists, the disk is full, the folder may not be
                    written): choose another name, make room, or give
                    replace=True, and try again.
    Error           anything else, the base of both: a missing or
                    unreadable input, a file that changed while it was
                    read, a bad password. Fix the cause, or try again later.
    ValueError      a name or password with a NUL in it.

Each Error carries the library's fault: .fault (an int, one of the FAULT_...
constants of this module), .name ("ENN_FAULT_DIGEST", the same in every
release: for logs and programs), .text (the library's English words) and
.path (the file it belongs to, or None for a container in memory). Which
class a fault raises is the library's answer, so a fault a newer libenn adds
lands in the right one.

Interrupts are never turned into a result: a KeyboardInterrupt (Ctrl+C), an
exception a signal handler raises, or any other exception met during a call
stops it and is raised again unchanged, and no output is left half-made: the
output is either not there (an existing one unchanged) or whole.

Any function may be called from several threads at once; the library does
not hold the GIL while it works.

The library is libenn.so.1, found where the system keeps libraries, or the
file that the environment variable ENN_LIBRARY names.
"""

from __future__ import annotations

import ctypes
import errno
import os
import secrets
import stat
import threading
from typing import Callable, Dict, Iterator, List, Optional, Tuple, TypeVar, Union, overload

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
# and a NUL), and the results of the failures this module finds itself;
# tests/test_enn.py holds them against the header.
EXTENSION = ".enn"
_PASSWORD_SIZE = 7
_ERR_GENERIC = -1
_ERR_OPEN_INPUT = -201
_ERR_CREATE_OUTPUT = -202
# EnnDecryptFileEx's placing.
_REPLACE_EXISTING = 0
_KEEP_EXISTING = 1
_NO_DIAGNOSTIC = 2
# Pieces in which a container is read from its file and handed to the library.
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
        "EnnFaultIsRefusal": (c_int, [c_int]),
        "EnnReadPasswordEx": (c_int, [c_void_p, c_char_p, c_char_p, fault_p]),
        "EnnReadPasswordStream": (c_int, [c_void_p, c_char_p, _READ, c_void_p, c_char_p, fault_p]),
        "EnnDecryptFileEx": (c_int, [c_void_p, c_char_p, c_char_p, c_int, fault_p]),
        "EnnDecryptStreamEx": (
            c_int,
            [c_void_p, c_char_p, c_char_p, c_int, _READ, _WRITE, _PROGRESS, c_void_p, c_char_p, fault_p],
        ),
        "EnnEncryptFileEx": (c_int, [c_char_p, c_void_p, c_char_p, c_char_p, fault_p]),
        "EnnDecoderNewInto": (c_void_p, [c_void_p, c_void_p, c_size_t, fault_p]),
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


def _load_c_api() -> ctypes.PyDLL:
    """CPython's own calls that make a bytes object of a length known only
    at the end, as its C code makes them: allocated unfilled, written in
    place, then cut to length, which a large block takes without a copy.
    Function objects of this module's own, so that no other user of
    ctypes.pythonapi sees their types changed."""
    api = ctypes.PyDLL(ctypes.pythonapi._name, handle=ctypes.pythonapi._handle)
    c_void_p, c_ssize_t = ctypes.c_void_p, ctypes.c_ssize_t
    for name, restype, argtypes in (
        ("PyBytes_FromStringAndSize", c_void_p, [c_void_p, c_ssize_t]),
        ("PyBytes_AsString", c_void_p, [c_void_p]),
        ("_PyBytes_Resize", ctypes.c_int, [ctypes.POINTER(c_void_p), c_ssize_t]),
        ("Py_DecRef", None, [c_void_p]),
    ):
        function = getattr(api, name)
        function.restype = restype
        function.argtypes = argtypes
    return api


_c_api = _load_c_api()


def _fault_names() -> List[str]:
    """The library's fault names, in the order of their values."""
    names = []
    while True:
        name = _lib.EnnFaultName(len(names)).decode("ascii")
        if name == "ENN_FAULT_UNKNOWN":
            return names
        names.append(name)


# The library's faults by the names it gives, and as FAULT_NONE,
# FAULT_DIGEST, ... of this module.
_FAULTS: Dict[str, int] = {name: value for value, name in enumerate(_fault_names())}
for _name, _value in _FAULTS.items():
    globals()[_name[len("ENN_") :]] = _value
    __all__.append(_name[len("ENN_") :])
del _value, _name


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
    """The container is refused, and no second try will do: it is damaged,
    not a container, or written under another key. The sender sends it
    again."""


class OutputError(Error):
    """The output cannot be made, written or put in place (it exists and was
    to be kept, the disk is full, ...); nothing was put in its place."""


def _error_class(fault: int) -> type:
    """The class a fault raises, as the library judges the fault: the
    container's own, the output's, or neither."""
    if _lib.EnnFaultIsRefusal(fault):
        return ContainerError
    if _lib.EnnFaultIsOutput(fault):
        return OutputError
    return Error


def _raise(fault: int, result: int, path: Optional[str]) -> None:
    raise _error_class(fault)(fault, result, path)


def _is_data(source: object) -> bool:
    return isinstance(source, (bytes, bytearray, memoryview))


def _name(path: PathName) -> bytes:
    name = os.fsencode(path)
    if b"\0" in name:
        raise ValueError(f"a file name with a NUL in it: {path!r}")
    return name


def _shown(path: PathName) -> str:
    return os.fsdecode(os.fspath(path))


def _keeps(replace: bool, keep_existing: Optional[bool]) -> bool:
    """Whether an existing output is kept: unless replace is given, or the
    older keyword keep_existing is given false."""
    if keep_existing is None:
        return not replace
    if replace and keep_existing:
        raise ValueError("replace=True and keep_existing=True ask for opposites")
    return keep_existing


class _Reader:
    """The library's reads of a container held in memory."""

    def __init__(self, data: Data) -> None:
        self._view = memoryview(data).cast("B")
        self._done = 0

    def fill(self, buf: ctypes.Array, size: int) -> int:  # type: ignore[type-arg]
        piece = self._view[self._done : self._done + size]
        ctypes.memmove(buf, bytes(piece), len(piece))
        self._done += len(piece)
        return len(piece)


_Result = TypeVar("_Result")


class _Guarded:
    """One library call and the Python functions it calls back.

    An exception (a KeyboardInterrupt, an OSError, any) can pass neither into
    the library nor through it: the first one met is kept, the callback that
    met it and every later one fail, and run() raises it again, the same
    object with its traceback, once the call has returned, whatever the call
    returned.

    The call runs on a thread of its own, as Python runs signal handlers in
    the main thread only, at any line of it: a handler's exception could
    otherwise strike as a callback begins, before its try. Here it strikes
    the caller's thread, which waits for the call, and the call stops at
    its next read."""

    def __init__(self) -> None:
        self._caught: Optional[BaseException] = None

    def _keep(self, caught: BaseException) -> None:
        if self._caught is None:
            self._caught = caught

    def stopped(self) -> bool:
        """Whether an exception has been met: the call is to stop."""
        return self._caught is not None

    def reader(self, data: Data) -> Callable[..., int]:
        source = _Reader(data)

        def read(_context: Optional[int], buf: ctypes.Array, size: int) -> int:  # type: ignore[type-arg]
            try:
                if self.stopped():
                    return -1
                return source.fill(buf, size)
            except BaseException as caught:
                self._keep(caught)
                return -1

        return _READ(read)  # type: ignore[no-any-return]

    def _work(self, call: Callable[[], _Result], results: List[_Result]) -> None:
        try:
            results.append(call())
        except BaseException as caught:
            self._keep(caught)

    def _wait(self, worker: threading.Thread) -> None:
        """Waits for worker's call to end, whatever strikes meanwhile: no
        call outlives run(), so none is left in the library for Python to
        end as it shuts down."""
        while worker.ident is not None:
            try:
                worker.join()
                return
            except BaseException as caught:
                self._keep(caught)  # the call fails at its next read

    def run(self, call: Callable[[], _Result]) -> _Result:
        """call()'s result, or the exception met on the way."""
        results: List[_Result] = []
        worker = threading.Thread(target=self._work, args=(call, results), name="enn", daemon=True)
        try:
            worker.start()
        except BaseException as caught:
            self._keep(caught)  # a signal as it starts: the call fails at its next read
        finally:
            self._wait(worker)
        caught, self._caught = self._caught, None
        if caught is not None:
            try:
                raise caught
            finally:
                del caught
        return results[0]


def version() -> str:
    """The version of the libenn loaded, as it was built: "MAJOR.MINOR.PATCH"."""
    return str(_lib.EnnVersion().decode("ascii"))


def verify(source: Source) -> None:
    """Checks a container through and through; raises Error unless it holds."""
    if _is_data(source):
        _decode_data(source)  # type: ignore[arg-type]
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
        guarded = _Guarded()
        read = guarded.reader(source)  # type: ignore[arg-type]
        result = guarded.run(
            lambda: _lib.EnnReadPasswordStream(_KEY, None, read, None, password, ctypes.byref(fault))
        )
        shown = None
    else:
        name = _name(source)  # type: ignore[arg-type]
        result = _lib.EnnReadPasswordEx(_KEY, name, password, ctypes.byref(fault))
        shown = _shown(source)  # type: ignore[arg-type]
    if result != 0:
        _raise(fault.value, result, shown)
    return password.value.decode("ascii")


Pieces = Iterator[Tuple[object, int]]


def _pieces(data: Data, stopped: Callable[[], bool]) -> Pieces:
    """A container held in memory, in pieces for EnnDecoderFeed, until
    stopped()."""
    view = memoryview(data).cast("B")
    for start in range(0, len(view), _PIECE):
        if stopped():
            return
        piece = bytes(view[start : start + _PIECE])
        yield piece, len(piece)


def _read_some(fd: int, buffer: memoryview) -> int:
    return os.readv(fd, [buffer])


def _file_pieces(fd: int, size: int, shown: str, stopped: Callable[[], bool]) -> Pieces:
    """The first size bytes of the open regular file fd, in pieces of one
    buffer, as it is read, until stopped(); an Error for a read that fails
    or a file that changes meanwhile, or holds more than size bytes."""
    before = os.fstat(fd)
    buffer = bytearray(_PIECE)
    array = (ctypes.c_char * _PIECE).from_buffer(buffer)
    view = memoryview(buffer)
    total = 0
    while True:
        if stopped():
            return
        try:
            # One byte past size, as the file's end is seen only by a read.
            got = _read_some(fd, view[: min(_PIECE, size - total + 1)])
        except OSError as error:
            fault = _FAULTS["ENN_FAULT_READ"]
            raise _error_class(fault)(fault, _ERR_GENERIC, shown) from error
        total += got
        if got == 0 or total > size:
            break
        yield array, got
    after = os.fstat(fd)
    if total != size or (after.st_size, after.st_mtime_ns) != (before.st_size, before.st_mtime_ns):
        _raise(_FAULTS["ENN_FAULT_CHANGED"], _ERR_GENERIC, shown)


def _decode(pieces: Pieces, most: int, shown: Optional[str]) -> Tuple[str, bytes]:
    """The password and plain bytes of a container of at most most bytes,
    fed in pieces to the library's decoder, which decodes straight into the
    bytes returned: the plain data is held once, and wiped where it lay
    should the container fail.

    The bytes object is a bare reference until it is returned, so that no
    Python code can see it while it is written or cut to length; this runs
    on a call's own thread (_Guarded), where no signal's exception can
    strike between taking that reference and giving it up."""
    fault = ctypes.c_int()
    try:
        plain = ctypes.c_void_p(_c_api.PyBytes_FromStringAndSize(None, max(most, 1)))
    except MemoryError:
        _raise(_FAULTS["ENN_FAULT_NO_MEMORY"], _ERR_GENERIC, shown)
    decoder = None
    try:
        decoder = _lib.EnnDecoderNewInto(
            _KEY, _c_api.PyBytes_AsString(plain), most, ctypes.byref(fault)
        )
        if not decoder:
            _raise(fault.value, _ERR_GENERIC, shown)
        for piece, size in pieces:
            if _lib.EnnDecoderFeed(decoder, piece, size) != 0:
                break  # Finish tells why.
        password = ctypes.create_string_buffer(_PASSWORD_SIZE)
        given = ctypes.POINTER(ctypes.c_char)()
        plain_len = ctypes.c_size_t()
        result = _lib.EnnDecoderFinish(
            decoder, password, ctypes.byref(given), ctypes.byref(plain_len), ctypes.byref(fault)
        )
        if result != 0:
            _raise(fault.value, result, shown)
        _c_api._PyBytes_Resize(ctypes.byref(plain), plain_len.value)
        data: bytes = ctypes.cast(plain, ctypes.py_object).value
        return password.value.decode("ascii"), data
    finally:
        _lib.EnnDecoderFree(decoder)  # wipes plain, unless the finish gave it out
        _c_api.Py_DecRef(plain)


def _decode_data(data: Data) -> Tuple[str, bytes]:
    """_decode over a container held in memory."""
    guarded = _Guarded()
    return guarded.run(lambda: _decode(_pieces(data, guarded.stopped), memoryview(data).nbytes, None))


def _decode_file(path: PathName) -> Tuple[str, bytes]:
    """_decode over the file at path, opened as the library opens its input."""
    shown = _shown(path)
    try:
        # Non-blocking, so that a fifo cannot hold the open.
        fd = os.open(_name(path), os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as error:
        denied = error.errno in (errno.EACCES, errno.EPERM)
        why = "ENN_FAULT_INPUT_DENIED" if denied else "ENN_FAULT_NO_INPUT"
        _raise(_FAULTS[why], _ERR_OPEN_INPUT, shown)
    try:
        status = os.fstat(fd)
        if not stat.S_ISREG(status.st_mode):
            folder = stat.S_ISDIR(status.st_mode)
            _raise(
                _FAULTS["ENN_FAULT_INPUT_FOLDER" if folder else "ENN_FAULT_INPUT_NOT_REGULAR"],
                _ERR_OPEN_INPUT,
                shown,
            )
        size = status.st_size
        guarded = _Guarded()
        return guarded.run(lambda: _decode(_file_pieces(fd, size, shown, guarded.stopped), size, shown))
    finally:
        os.close(fd)


@overload
def decrypt(
    source: Source, out: None = None, *, replace: bool = False, keep_existing: Optional[bool] = None
) -> Tuple[str, bytes]: ...


@overload
def decrypt(
    source: Source, out: PathName, *, replace: bool = False, keep_existing: Optional[bool] = None
) -> str: ...


def decrypt(
    source: Source,
    out: Optional[PathName] = None,
    *,
    replace: bool = False,
    keep_existing: Optional[bool] = None,
) -> Union[str, Tuple[str, bytes]]:
    """Checks a container and gives its password and plain bytes, from one pass.

    Without out: returns (password, data), decoded in memory; no file is
    written. With out: writes the plain file there, put in place only once
    the whole container has checked out, and returns the password. A file
    already at out is kept (OutputError, ENN_FAULT_EXISTS) unless replace is
    true (keep_existing=False, the older spelling, says the same). The
    password is "" for a container of nothing, which carries none.
    """
    keep = _keeps(replace, keep_existing)
    if out is None:
        if _is_data(source):
            return _decode_data(source)  # type: ignore[arg-type]
        return _decode_file(source)  # type: ignore[arg-type]
    fault = ctypes.c_int()
    password = ctypes.create_string_buffer(_PASSWORD_SIZE)
    out_name = _name(out)
    placing = _KEEP_EXISTING if keep else _REPLACE_EXISTING
    if _is_data(source):
        guarded = _Guarded()
        read = guarded.reader(source)  # type: ignore[arg-type]
        result = guarded.run(
            lambda: _lib.EnnDecryptStreamEx(
                _KEY, None, out_name, placing, read, _WRITE(), _PROGRESS(), None, password,
                ctypes.byref(fault),
            )
        )
        shown = None
    else:
        in_name = _name(source)  # type: ignore[arg-type]
        result = _lib.EnnDecryptStreamEx(
            _KEY, in_name, out_name, placing, _READ(), _WRITE(), _PROGRESS(), None, password,
            ctypes.byref(fault),
        )
        shown = _shown(source)  # type: ignore[arg-type]
    if result != 0:
        _raise(fault.value, result, _shown(out) if _lib.EnnFaultIsOutput(fault.value) else shown)
    return password.value.decode("ascii")


def _encrypt_to(path: PathName, password: str, out: str, target: str) -> None:
    """EnnEncryptFileEx from path to out, its faults told of target."""
    fault = ctypes.c_int()
    result = _lib.EnnEncryptFileEx(
        password.encode("utf-8"), _KEY, _name(path), _name(out), ctypes.byref(fault)
    )
    if result != 0:
        _raise(fault.value, result, target if _lib.EnnFaultIsOutput(fault.value) else _shown(path))


def _exists(target: str) -> None:
    raise OutputError(_FAULTS["ENN_FAULT_EXISTS"], _ERR_CREATE_OUTPUT, target)


def _encrypt_new(path: PathName, password: str, target: str) -> None:
    """The container put at target only while no file is there. The library
    always replaces, so it writes under a name of this call's own in
    target's folder, and the whole file is linked to target, which fails
    rather than replace a file that appeared meanwhile."""
    if os.path.lexists(target):
        _exists(target)
    aside = os.path.join(os.path.dirname(target), ".enn-" + secrets.token_hex(8))
    try:
        _encrypt_to(path, password, aside, target)
        try:
            os.link(aside, target, follow_symlinks=False)
        except FileExistsError:
            _exists(target)
        except OSError:
            # A file system without hard links: checked absent an instant ago.
            if os.path.lexists(target):
                _exists(target)
            try:
                os.rename(aside, target)
            except OSError:
                raise OutputError(_FAULTS["ENN_FAULT_NO_OUTPUT"], _ERR_CREATE_OUTPUT, target) from None
    finally:
        try:
            os.unlink(aside)
        except FileNotFoundError:
            pass


def encrypt(path: PathName, password: str, out: Optional[PathName] = None, *, replace: bool = False) -> str:
    """Writes the container of the file at path, carrying password (six
    digits), to out (by default path + ".enn"), and returns out's name. The
    container is put in place only once it is whole and on disk; a file
    already at out is kept (OutputError, ENN_FAULT_EXISTS) unless replace is
    true."""
    if _is_data(path):
        raise TypeError("encrypt takes the name of a file, not its bytes")
    if "\0" in password:
        raise ValueError("a password with a NUL in it")
    target = _shown(out) if out is not None else _shown(path) + EXTENSION
    _name(target)
    # A folder is refused by the library, which tells it so, before anything is written.
    if replace or os.path.isdir(target):
        _encrypt_to(path, password, target, target)
    else:
        _encrypt_new(path, password, target)
    return target
