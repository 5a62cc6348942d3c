"""An exception met during a call, from a callback, a read or a signal, is
raised again unchanged: never a result, never a damaged container, and no
output is left half-made."""

import os
import pathlib
import signal
import threading
import traceback
from typing import Callable, List

import pytest

import enn

PASSWORD = "246810"


@pytest.fixture(scope="module")
def big(tmp_path_factory: pytest.TempPathFactory) -> pathlib.Path:
    """A container of 3 MiB of plain data: several reads of a stream."""
    plain = tmp_path_factory.mktemp("big") / "big.txt"
    plain.write_bytes(os.urandom(3 << 20))
    enn.encrypt(plain, PASSWORD)
    return plain


def container(plain: pathlib.Path) -> pathlib.Path:
    return plain.with_name(plain.name + ".enn")


def raised_by(error: BaseException, function: str) -> bool:
    """Whether error's traceback still runs through function."""
    return any(frame.name == function for frame in traceback.extract_tb(error.__traceback__))


def count_calls(monkeypatch: pytest.MonkeyPatch, owner: object, name: str, call: Callable[[], object]) -> int:
    real = getattr(owner, name)
    calls: List[int] = []

    def counted(*args: object) -> object:
        calls.append(1)
        return real(*args)

    with monkeypatch.context() as patch:
        patch.setattr(owner, name, counted)
        call()
    return len(calls)


def fail_at(monkeypatch: pytest.MonkeyPatch, owner: object, name: str, at: int, error: BaseException) -> None:
    """owner.name raises error at its call number at (from 1)."""
    real = getattr(owner, name)
    calls: List[int] = []

    def failing(*args: object) -> object:
        calls.append(1)
        if len(calls) == at:
            raise error
        return real(*args)

    monkeypatch.setattr(owner, name, failing)


ERRORS = [KeyboardInterrupt, lambda: OSError(5, "Input/output error")]
MOMENTS = ["first", "middle", "last"]


def moment(which: str, calls: int) -> int:
    return {"first": 1, "middle": calls // 2 + 1, "last": calls}[which]


@pytest.mark.parametrize("make_error", ERRORS, ids=["KeyboardInterrupt", "OSError"])
@pytest.mark.parametrize("which", MOMENTS)
class TestReadsThatRaise:
    def test_decrypt_bytes_to_a_new_file(
        self, big: pathlib.Path, tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch, make_error, which
    ) -> None:
        data = container(big).read_bytes()
        out = tmp_path / "out.txt"
        calls = count_calls(monkeypatch, enn._Reader, "fill", lambda: enn.decrypt(data, out=out))
        assert calls >= 4 and out.read_bytes() == big.read_bytes()
        out.unlink()
        error = make_error()
        fail_at(monkeypatch, enn._Reader, "fill", moment(which, calls), error)
        with pytest.raises(type(error)) as caught:
            enn.decrypt(data, out=out)
        assert caught.value is error and raised_by(error, "failing")
        assert os.listdir(tmp_path) == []

    def test_decrypt_bytes_over_a_file_it_may_replace(
        self, big: pathlib.Path, tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch, make_error, which
    ) -> None:
        data = container(big).read_bytes()
        out = tmp_path / "out.txt"
        out.write_bytes(b"the old file")
        calls = count_calls(monkeypatch, enn._Reader, "fill", lambda: enn.decrypt(data, tmp_path / "x"))
        (tmp_path / "x").unlink()
        error = make_error()
        fail_at(monkeypatch, enn._Reader, "fill", moment(which, calls), error)
        with pytest.raises(type(error)) as caught:
            enn.decrypt(data, out=out, replace=True)
        assert caught.value is error
        assert out.read_bytes() == b"the old file" and os.listdir(tmp_path) == ["out.txt"]


@pytest.mark.parametrize("make_error", ERRORS, ids=["KeyboardInterrupt", "OSError"])
def test_read_password_from_bytes(big: pathlib.Path, monkeypatch: pytest.MonkeyPatch, make_error) -> None:
    error = make_error()
    fail_at(monkeypatch, enn._Reader, "fill", 1, error)
    with pytest.raises(type(error)) as caught:
        enn.read_password(container(big).read_bytes())
    assert caught.value is error


@pytest.fixture
def sigint_seen(monkeypatch: pytest.MonkeyPatch) -> threading.Event:
    """SIGINT's own handler, which raises KeyboardInterrupt, and an event
    set once it has run."""
    seen = threading.Event()

    def handler(signum: int, frame: object) -> None:
        seen.set()
        signal.default_int_handler(signum, frame)

    previous = signal.signal(signal.SIGINT, handler)
    yield seen
    signal.signal(signal.SIGINT, previous)


class TestSignals:
    def test_sigint_during_decrypt_bytes(
        self, big: pathlib.Path, tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch, sigint_seen
    ) -> None:
        """The signal is sent to the process from within the library's
        call, as Ctrl+C would be; the read waits until the handler has run,
        and the call then stops."""
        real = enn._Reader.fill
        calls: List[int] = []

        def fill(self: enn._Reader, buf: object, size: int) -> int:
            calls.append(1)
            if len(calls) == 2:
                os.kill(os.getpid(), signal.SIGINT)
                assert sigint_seen.wait(60)
            return real(self, buf, size)

        monkeypatch.setattr(enn._Reader, "fill", fill)
        out = tmp_path / "out.txt"
        with pytest.raises(KeyboardInterrupt):
            enn.decrypt(container(big).read_bytes(), out=out)
        assert len(calls) == 2 and os.listdir(tmp_path) == []

    def test_sigint_during_decrypt_path(
        self, big: pathlib.Path, monkeypatch: pytest.MonkeyPatch, sigint_seen
    ) -> None:
        """The library reads the file itself, to its end; the interrupt is
        raised once it has returned, and the plain data it decoded is
        wiped rather than given out."""
        real, real_wipe = enn._lib.EnnDecodeFile, enn._wipe
        wiped: List[bytes] = []

        def decoding(*args: object) -> int:
            if args[4]:  # the call with a buffer to decode into
                os.kill(os.getpid(), signal.SIGINT)
                assert sigint_seen.wait(60)
            return real(*args)  # type: ignore[no-any-return]

        def wipe(decoded: tuple) -> None:
            real_wipe(decoded)
            wiped.append(bytes(decoded[1]))

        monkeypatch.setattr(enn._lib, "EnnDecodeFile", decoding)
        monkeypatch.setattr(enn, "_wipe", wipe)
        with pytest.raises(KeyboardInterrupt):
            enn.decrypt(container(big))
        assert sigint_seen.is_set() and wiped == [bytes(big.stat().st_size)]
