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
                                   container has checked out; a str whose
                                   .present tells a file found done
    verify(source)              checks a container through and through
    read_password(source)       the six digits it carries, the rest unchecked
    encrypt(path, password, out=None) -> the container's name (by default
                                   path + ".enn"), put in place whole
    version()                   the libenn loaded, "MAJOR.MINOR.PATCH"

The password is "" for a container of nothing, which carries none.

Existing files are kept: encrypt(...) and decrypt(..., out=NAME) do not
write over a file already at their output. decrypt counts it as done, as
the command enn decrypt does without --force, where it is the caller's own
copy of exactly this container's plain data: a regular file under that name
itself (not a link), with one link, the caller's, and writable by nobody
else. The password it returns then has .present True (False when this call
wrote the file). Any other file there fails with an OutputError whose name
is "ENN_FAULT_EXISTS". Give replace=True to replace it; the new file then
takes the old one's place only once it is whole, and the old one stays as
it was on any failure. Where only writing over it in place could replace it
(a folder that takes no new file, or a sticky one and the file another's),
which a crash can leave part new, part old, add in_place=True to allow that.

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
output is either not there (an existing one unchanged) or whole. A file the
library reads itself is read to its end first, and plain data decoded
meanwhile is wiped, not returned.

Any function may be called from several threads at once; the library does
not hold the GIL while it works.

The library is libenn.so.1, found where the system keeps libraries, or the
file that the environment variable ENN_LIBRARY names.
"""

from __future__ import annotations

import ctypes
import os
import threading
from typing import Callable, Dict, Iterator, List, Optional, Tuple, TypeVar, Union, overload

__all__ = [
    "ContainerError",
    "Error",
    "OutputError",
    "Password",
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
# and a NUL), the results this module tells apart, and the placings it
# gives; tests/test_enn.py holds them against the header.
EXTENSION = ".enn"
_PASSWORD_SIZE = 7
_PRESENT = 1
_ERR_GENERIC = -1
_REPLACE_EXISTING = 0
_KEEP_EXISTING = 1
_NO_DIAGNOSTIC = 2
_ALLOW_IN_PLACE = 4
_ACCEPT_PRESENT = 8
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
        "EnnFaultIsRefusal": (c_int, [c_int]),
        "EnnReadPasswordEx": (c_int, [c_void_p, c_char_p, c_char_p, fault_p]),
        "EnnReadPasswordStream": (c_int, [c_void_p, c_char_p, _READ, c_void_p, c_char_p, fault_p]),
        "EnnDecryptFileEx": (c_int, [c_void_p, c_char_p, c_char_p, c_int, fault_p]),
        "EnnDecryptStreamEx": (
            c_int,
            [c_void_p, c_char_p, c_char_p, c_int, _READ, _WRITE, _PROGRESS, c_void_p, c_char_p, fault_p],
        ),
        "EnnEncryptStreamPlaced": (
            c_int,
            [c_char_p, c_void_p, c_char_p, c_char_p, c_int, _READ, _WRITE, _PROGRESS, c_void_p, fault_p],
        ),
        "EnnDecoderNewInto": (c_void_p, [c_void_p, c_void_p, c_size_t, fault_p]),
        "EnnDecoderFeed": (c_int, [c_void_p, c_char_p, c_size_t]),
        "EnnDecoderFinish": (
            c_int,
            [c_void_p, c_char_p, ctypes.POINTER(ctypes.POINTER(ctypes.c_char)),
             ctypes.POINTER(c_size_t), fault_p],
        ),
        "EnnDecoderFree": (None, [c_void_p]),
        "EnnDecodeFile": (
            c_int,
            [c_void_p, c_char_p, c_char_p, c_void_p, c_size_t, ctypes.POINTER(c_size_t), fault_p],
        ),
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


class Password(str):
    """The password decrypt(..., out=NAME) returns: a str, whose .present is
    True where NAME was already the caller's own copy of the plain data and
    was kept, False where this call wrote it."""

    present: bool = False


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

    def _work(self, call: Callable[[], _Result], results: List[_Result], done: threading.Event) -> None:
        try:
            results.append(call())
        except BaseException as caught:
            self._keep(caught)
        finally:
            done.set()

    def _wait(self, worker: threading.Thread, done: threading.Event) -> None:
        """Waits for worker's call to end, whatever strikes meanwhile: no
        call outlives run(), so none is left in the library for Python to
        end as it shuts down. On an event of this call's own, as a join
        that a signal interrupts takes the thread for ended (Python 3.11)."""
        while worker.ident is not None:
            try:
                done.wait()
                return
            except BaseException as caught:
                self._keep(caught)  # a call reading through reader() stops at its next read

    def run(
        self, call: Callable[[], _Result], discard: Optional[Callable[[_Result], None]] = None
    ) -> _Result:
        """call()'s result, or the exception met on the way; a result that
        the exception keeps from the caller goes to discard first."""
        results: List[_Result] = []
        done = threading.Event()
        worker = threading.Thread(target=self._work, args=(call, results, done), name="enn", daemon=True)
        try:
            worker.start()
        except BaseException as caught:
            self._keep(caught)  # a signal as it starts: the call fails at its next read
        finally:
            self._wait(worker, done)
        caught, self._caught = self._caught, None
        if caught is not None:
            if results and discard is not None:
                discard(results[0])
            try:
                raise caught
            finally:
                del caught
        return results[0]


def version() -> str:
    """The version of the libenn loaded, as it was built: "MAJOR.MINOR.PATCH"."""
    return str(_lib.EnnVersion().decode("ascii"))


def _from_memory(
    data: Data,
    out_name: Optional[bytes],
    placing: int,
    password: ctypes.Array,  # type: ignore[type-arg]
    fault: ctypes.c_int,
) -> int:
    """EnnDecryptStreamEx over a container held in memory: the plain file to
    out_name, or nowhere."""
    guarded = _Guarded()
    read = guarded.reader(data)
    return guarded.run(
        lambda: _lib.EnnDecryptStreamEx(
            _KEY, None, out_name, placing, read, _WRITE(), _PROGRESS(), None, password, ctypes.byref(fault)
        )
    )


def verify(source: Source) -> None:
    """Checks a container through and through; raises Error unless it holds."""
    fault = ctypes.c_int()
    if _is_data(source):
        # The library decodes a batch at a time and wipes it; no plain data
        # comes into Python's memory.
        password = ctypes.create_string_buffer(_PASSWORD_SIZE)
        result = _from_memory(source, None, _NO_DIAGNOSTIC, password, fault)  # type: ignore[arg-type]
        shown = None
    else:
        name = _name(source)  # type: ignore[arg-type]
        result = _lib.EnnDecryptFileEx(_KEY, name, None, _NO_DIAGNOSTIC, ctypes.byref(fault))
        shown = _shown(source)  # type: ignore[arg-type]
    if result != 0:
        _raise(fault.value, result, shown)


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


def _plain_bytes(most: int, decode: Callable[[int], int], shown: Optional[str]) -> bytes:
    """The plain data that decode(address) writes at address, into most
    bytes, and returns the length of: decoded straight into the bytes
    returned, so that it is held once. decode raises for a failure, having
    wiped what it wrote.

    The bytes object is a bare reference until it is returned, so that no
    Python code can see it while it is written or cut to length; this runs
    on a call's own thread (_Guarded), where no signal's exception can
    strike between taking that reference and giving it up."""
    try:
        plain = ctypes.c_void_p(_c_api.PyBytes_FromStringAndSize(None, max(most, 1)))
    except MemoryError:
        _raise(_FAULTS["ENN_FAULT_NO_MEMORY"], _ERR_GENERIC, shown)
    try:
        length = decode(_c_api.PyBytes_AsString(plain))
        _c_api._PyBytes_Resize(ctypes.byref(plain), length)
        data: bytes = ctypes.cast(plain, ctypes.py_object).value
        return data
    finally:
        _c_api.Py_DecRef(plain)


def _wipe(decoded: Tuple[str, bytes]) -> None:
    """Overwrites the plain data of a result that is never given out, held
    by nobody else, before it is freed."""
    data = decoded[1]
    ctypes.memset(_c_api.PyBytes_AsString(id(data)), 0, len(data))


def _decode(pieces: Pieces, most: int, shown: Optional[str]) -> Tuple[str, bytes]:
    """The password and plain bytes of a container of at most most bytes,
    fed in pieces to the library's decoder, which decodes into the bytes
    returned and wipes them there should the container fail."""
    fault = ctypes.c_int()
    password = ctypes.create_string_buffer(_PASSWORD_SIZE)

    def decode(address: int) -> int:
        decoder = _lib.EnnDecoderNewInto(_KEY, address, most, ctypes.byref(fault))
        if not decoder:
            _raise(fault.value, _ERR_GENERIC, shown)
        try:
            for piece, size in pieces:
                if _lib.EnnDecoderFeed(decoder, piece, size) != 0:
                    break  # Finish tells why.
            given = ctypes.POINTER(ctypes.c_char)()
            plain_len = ctypes.c_size_t()
            result = _lib.EnnDecoderFinish(
                decoder, password, ctypes.byref(given), ctypes.byref(plain_len), ctypes.byref(fault)
            )
            if result != 0:
                _raise(fault.value, result, shown)
            return plain_len.value
        finally:
            _lib.EnnDecoderFree(decoder)  # wipes the plain data, unless the finish gave it out

    data = _plain_bytes(most, decode, shown)
    return password.value.decode("ascii"), data


def _decode_data(data: Data) -> Tuple[str, bytes]:
    """_decode over a container held in memory."""
    guarded = _Guarded()
    return guarded.run(
        lambda: _decode(_pieces(data, guarded.stopped), memoryview(data).nbytes, None), discard=_wipe
    )


def _decode_named(name: bytes, shown: str) -> Tuple[str, bytes]:
    """The password and plain bytes of the container in the file name, which
    the library opens, checks and reads itself: asked first with no buffer,
    it tells the capacity the file needs, and decodes into bytes of that
    size; asked again should the file have grown meanwhile."""
    fault = ctypes.c_int()
    password = ctypes.create_string_buffer(_PASSWORD_SIZE)
    length = ctypes.c_size_t()

    def decode(address: Optional[int], cap: int) -> int:
        result = _lib.EnnDecodeFile(
            _KEY, name, password, address, cap, ctypes.byref(length), ctypes.byref(fault)
        )
        if result != 0:
            _raise(fault.value, result, shown)
        return length.value

    need = 0
    while True:
        try:
            if need == 0:
                decode(None, 0)  # a container of nothing, or the capacity needed
                data = b""
            else:
                data = _plain_bytes(need, lambda address: decode(address, need), shown)
            return password.value.decode("ascii"), data
        except Error as error:
            if error.fault != _FAULTS["ENN_FAULT_TOO_LARGE"] or length.value <= need:
                raise
            need = length.value


def _decode_file(path: PathName) -> Tuple[str, bytes]:
    """_decode_named on a call's own thread: an interrupt is raised once the
    library's call has returned, and its plain data wiped."""
    name, shown = _name(path), _shown(path)
    return _Guarded().run(lambda: _decode_named(name, shown), discard=_wipe)


@overload
def decrypt(
    source: Source,
    out: None = None,
    *,
    replace: bool = False,
    keep_existing: Optional[bool] = None,
    in_place: bool = False,
) -> Tuple[str, bytes]: ...


@overload
def decrypt(
    source: Source,
    out: PathName,
    *,
    replace: bool = False,
    keep_existing: Optional[bool] = None,
    in_place: bool = False,
) -> Password: ...


def decrypt(
    source: Source,
    out: Optional[PathName] = None,
    *,
    replace: bool = False,
    keep_existing: Optional[bool] = None,
    in_place: bool = False,
) -> Union[Password, Tuple[str, bytes]]:
    """Checks a container and gives its password and plain bytes, from one pass.

    Without out: returns (password, data), decoded in memory; no file is
    written. With out: writes the plain file there, put in place only once
    the whole container has checked out, and returns the password, a
    Password. A file already at out is kept unless replace is true
    (keep_existing=False, the older spelling, says the same): where it is
    the caller's own copy of this plain data it counts as done (.present
    True), else OutputError, ENN_FAULT_EXISTS. in_place=True allows a copy
    in place. The password is "" for a container of nothing, which carries
    none.
    """
    keep = _keeps(replace, keep_existing)
    if out is None:
        if _is_data(source):
            return _decode_data(source)  # type: ignore[arg-type]
        return _decode_file(source)  # type: ignore[arg-type]
    fault = ctypes.c_int()
    password = ctypes.create_string_buffer(_PASSWORD_SIZE)
    out_name = _name(out)
    placing = (_KEEP_EXISTING | _ACCEPT_PRESENT if keep else _REPLACE_EXISTING) | (
        _ALLOW_IN_PLACE if in_place else 0
    )
    if _is_data(source):
        result = _from_memory(source, out_name, placing, password, fault)  # type: ignore[arg-type]
        shown = None
    else:
        in_name = _name(source)  # type: ignore[arg-type]
        result = _lib.EnnDecryptStreamEx(
            _KEY, in_name, out_name, placing, _READ(), _WRITE(), _PROGRESS(), None, password,
            ctypes.byref(fault),
        )
        shown = _shown(source)  # type: ignore[arg-type]
    if result < 0:
        _raise(fault.value, result, _shown(out) if _lib.EnnFaultIsOutput(fault.value) else shown)
    done = Password(password.value.decode("ascii"))
    done.present = result == _PRESENT
    return done


def encrypt(
    path: PathName,
    password: str,
    out: Optional[PathName] = None,
    *,
    replace: bool = False,
    in_place: bool = False,
) -> str:
    """Writes the container of the file at path, carrying password (six
    digits), to out (by default path + ".enn"), and returns out's name. The
    container is put in place only once it is whole and on disk; a file
    already at out is kept (OutputError, ENN_FAULT_EXISTS) unless replace is
    true. in_place=True allows a copy in place."""
    if _is_data(path):
        raise TypeError("encrypt takes the name of a file, not its bytes")
    if "\0" in password:
        raise ValueError("a password with a NUL in it")
    target = _shown(out) if out is not None else _shown(path) + EXTENSION
    placing = (_REPLACE_EXISTING if replace else _KEEP_EXISTING) | (_ALLOW_IN_PLACE if in_place else 0)
    fault = ctypes.c_int()
    result = _lib.EnnEncryptStreamPlaced(
        password.encode("utf-8"), _KEY, _name(path), _name(target), placing, _READ(), _WRITE(),
        _PROGRESS(), None, ctypes.byref(fault),
    )
    if result != 0:
        _raise(fault.value, result, target if _lib.EnnFaultIsOutput(fault.value) else _shown(path))
    return target
