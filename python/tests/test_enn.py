"""The enn module against a libenn: ENN_LIBRARY names it, else the system's.
ENN_HEADER names the enn.h it must agree with, ENN_VERSION_HEADER its
enn_version.h when that is not beside it."""

import hashlib
import os
import pathlib
import re
import stat
import sys
import threading
import tracemalloc
from typing import Callable

import pytest

import enn

PASSWORD = "246810"


@pytest.fixture
def batch(tmp_path: pathlib.Path) -> pathlib.Path:
    """A file of three chunks, the last one short, and its container."""
    plain = tmp_path / "batch.txt"
    plain.write_bytes(b"".join(b"%d,\xe4\xbb\x98\xe6\xac\xbe,1000.00\n" % i for i in range(700)))
    assert enn.encrypt(plain, PASSWORD) == str(plain) + ".enn"
    return plain


def container(batch: pathlib.Path) -> pathlib.Path:
    return batch.with_name(batch.name + ".enn")


def damaged(batch: pathlib.Path) -> bytes:
    data = bytearray(container(batch).read_bytes())
    data[5000] ^= 1
    return bytes(data)


def test_version_is_the_header_one() -> None:
    assert re.fullmatch(r"\d+\.\d+\.\d+", enn.version())
    header = os.environ.get("ENN_HEADER")
    if header:
        version_h = pathlib.Path(
            os.environ.get("ENN_VERSION_HEADER") or pathlib.Path(header).with_name("enn_version.h")
        ).read_text()
        assert f'#define ENN_VERSION_STRING "{enn.version()}"' in version_h


def test_constants_agree_with_the_header() -> None:
    header = os.environ.get("ENN_HEADER")
    if not header:
        pytest.skip("ENN_HEADER not set")
    text = pathlib.Path(header).read_text()
    assert f'#define ENN_EXTENSION "{enn.EXTENSION}"' in text
    assert f"ENN_PASSWORD_LENGTH = {enn._PASSWORD_SIZE - 1}," in text
    for name in ("PRESENT", "ERR_GENERIC", "REPLACE_EXISTING", "KEEP_EXISTING", "NO_DIAGNOSTIC",
                 "ALLOW_IN_PLACE", "ACCEPT_PRESENT"):
        assert f"ENN_{name} = {getattr(enn, '_' + name)}," in text
    faults = re.search(r"enum EnnFault \{(.*?)\};", text, re.S)
    assert faults
    names = re.findall(r"^\s*ENN_(FAULT_[A-Z_]+)", faults.group(1), re.M)
    assert [getattr(enn, name) for name in names] == list(range(len(names)))


def test_file_round_trip(batch: pathlib.Path) -> None:
    path = container(batch)
    enn.verify(path)
    enn.verify(str(path))
    assert enn.read_password(path) == PASSWORD
    assert enn.decrypt(path) == (PASSWORD, batch.read_bytes())
    out = batch.with_name("out.txt")
    assert enn.decrypt(os.fsencode(path).decode(), out=out) == PASSWORD
    assert out.read_bytes() == batch.read_bytes()


@pytest.mark.parametrize("kind", [bytes, bytearray, memoryview])
def test_in_memory(batch: pathlib.Path, kind: type) -> None:
    data = kind(container(batch).read_bytes())
    enn.verify(data)
    assert enn.read_password(data) == PASSWORD
    assert enn.decrypt(data) == (PASSWORD, batch.read_bytes())
    out = batch.with_name("out.txt")
    assert enn.decrypt(data, out) == PASSWORD
    assert out.read_bytes() == batch.read_bytes()


def test_damage_is_a_container_error_with_the_library_words(batch: pathlib.Path) -> None:
    bad = batch.with_name("bad.enn")
    bad.write_bytes(damaged(batch))
    out = batch.with_name("out.txt")
    for source in (bad, damaged(batch)):
        with pytest.raises(enn.ContainerError) as caught:
            enn.decrypt(source, out)
        error = caught.value
        assert (error.fault, error.name) == (enn.FAULT_DIGEST, "ENN_FAULT_DIGEST")
        assert error.text and error.text in str(error)
        assert not out.exists()
        with pytest.raises(enn.ContainerError):
            enn.verify(source)
    assert str(bad) in str(pytest.raises(enn.Error, enn.decrypt, bad).value)
    # The password is read without the digest.
    assert enn.read_password(damaged(batch)) == PASSWORD


def test_not_a_container(tmp_path: pathlib.Path) -> None:
    for data in (b"", b"a batch file, not a container\n" * 4):
        with pytest.raises(enn.ContainerError) as caught:
            enn.decrypt(data)
        assert caught.value.name == "ENN_FAULT_NOT_CONTAINER"
    with pytest.raises(enn.ContainerError):
        enn.read_password(b"")


def test_input_and_output_faults(batch: pathlib.Path) -> None:
    missing = batch.with_name("missing.enn")
    with pytest.raises(enn.Error) as caught:
        enn.verify(missing)
    assert type(caught.value) is enn.Error and caught.value.fault == enn.FAULT_NO_INPUT
    assert str(caught.value).startswith(f"{missing}: ")


def test_refused_arguments(batch: pathlib.Path) -> None:
    for password in ("24681", "abcdef", "2468100", "24681\N{FULLWIDTH DIGIT ZERO}"):
        with pytest.raises(enn.Error) as caught:
            enn.encrypt(batch, password, batch.with_name("x.enn"))
        assert caught.value.fault == enn.FAULT_ARGUMENT
    with pytest.raises(ValueError):
        enn.encrypt(batch, "246810\0", batch.with_name("x.enn"))
    with pytest.raises(ValueError):
        enn.verify(str(container(batch)) + "\0.txt")
    with pytest.raises(TypeError):
        enn.encrypt(batch.read_bytes(), PASSWORD)  # type: ignore[arg-type]
    assert not batch.with_name("x.enn").exists()


def test_threads(batch: pathlib.Path) -> None:
    data = container(batch).read_bytes()
    results = []

    def work() -> None:
        for _ in range(20):
            results.append(enn.decrypt(data))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [(PASSWORD, batch.read_bytes())] * 80


def fault_count() -> int:
    count = 0
    while enn._lib.EnnFaultName(count) != b"ENN_FAULT_UNKNOWN":
        count += 1
    return count


class TestFaultClasses:
    def test_every_fault_lands_where_the_library_says(self) -> None:
        count = fault_count()
        assert count > enn.FAULT_TOO_LARGE
        for fault in range(count):
            if enn._lib.EnnFaultIsRefusal(fault):
                expected = enn.ContainerError
            elif enn._lib.EnnFaultIsOutput(fault):
                expected = enn.OutputError
            else:
                expected = enn.Error
            assert enn._error_class(fault) is expected, enn._lib.EnnFaultName(fault)
        assert enn._error_class(enn.FAULT_DIGEST) is enn.ContainerError
        assert enn._error_class(enn.FAULT_NOT_CONTAINER) is enn.ContainerError
        assert enn._error_class(enn.FAULT_EXISTS) is enn.OutputError
        assert enn._error_class(enn.FAULT_DISK_FULL) is enn.OutputError
        assert enn._error_class(enn.FAULT_NO_INPUT) is enn.Error
        assert enn._error_class(enn.FAULT_CHANGED) is enn.Error

    def test_a_fault_the_library_adds_needs_no_change_here(self, monkeypatch: pytest.MonkeyPatch) -> None:
        """A newer libenn's faults, as it classes them."""
        added = fault_count()

        class Newer:
            def __init__(self, lib: object) -> None:
                self._lib = lib

            def __getattr__(self, name: str) -> object:
                return getattr(self._lib, name)

            def EnnFaultIsRefusal(self, fault: int) -> int:
                return 1 if fault == added else self._lib.EnnFaultIsRefusal(fault)

            def EnnFaultIsOutput(self, fault: int) -> int:
                return 1 if fault == added + 1 else self._lib.EnnFaultIsOutput(fault)

        monkeypatch.setattr(enn, "_lib", Newer(enn._lib))
        assert enn._error_class(added) is enn.ContainerError
        assert enn._error_class(added + 1) is enn.OutputError
        assert enn._error_class(added + 2) is enn.Error


class TestExistingFilesAreKept:
    @pytest.mark.parametrize("as_bytes", [False, True])
    def test_decrypt(self, batch: pathlib.Path, as_bytes: bool) -> None:
        source = container(batch).read_bytes() if as_bytes else container(batch)
        taken = batch.with_name("taken.txt")
        made, again = enn.decrypt(source, taken), enn.decrypt(source, taken)
        assert made == again == PASSWORD and not made.present and again.present
        # The very data as another user can leave it: writable by all, hers.
        taken.chmod(0o666)
        if os.geteuid() == 0:
            os.chown(taken, 12346, 12346)
        with pytest.raises(enn.OutputError):
            enn.decrypt(source, taken)
        assert taken.read_bytes() == batch.read_bytes() and taken.stat().st_mode & 0o777 == 0o666
        taken.write_bytes(b"kept")
        for kept in ({}, {"keep_existing": True}, {"replace": False}):
            with pytest.raises(enn.OutputError) as caught:
                enn.decrypt(source, taken, **kept)
            assert caught.value.name == "ENN_FAULT_EXISTS" and caught.value.path == str(taken)
            assert taken.read_bytes() == b"kept"
        for replacing in ({"replace": True}, {"keep_existing": False}):
            taken.write_bytes(b"kept")
            assert enn.decrypt(source, taken, **replacing) == PASSWORD
            assert taken.read_bytes() == batch.read_bytes()
        with pytest.raises(ValueError):
            enn.decrypt(source, taken, replace=True, keep_existing=True)

    def test_encrypt(self, batch: pathlib.Path) -> None:
        folder = batch.parent
        before = container(batch).read_bytes()
        with pytest.raises(enn.OutputError) as caught:
            enn.encrypt(batch, "135790")
        assert caught.value.name == "ENN_FAULT_EXISTS" and caught.value.path == str(container(batch))
        assert container(batch).read_bytes() == before
        assert enn.encrypt(batch, "135790", replace=True) == str(container(batch))
        assert enn.read_password(container(batch)) == "135790"
        assert enn.decrypt(container(batch)) == ("135790", batch.read_bytes())
        # A new file as the library makes one, and nothing else left.
        enn.encrypt(batch, PASSWORD, folder / "new.enn")
        enn.encrypt(batch, PASSWORD, folder / "replaced.enn", replace=True)
        assert stat.S_IMODE((folder / "new.enn").stat().st_mode) == stat.S_IMODE(
            (folder / "replaced.enn").stat().st_mode
        )
        assert (folder / "new.enn").stat().st_nlink == 1
        assert enn.decrypt(folder / "new.enn") == (PASSWORD, batch.read_bytes())
        assert sorted(os.listdir(folder)) == ["batch.txt", "batch.txt.enn", "new.enn", "replaced.enn"]
        with pytest.raises(enn.OutputError) as caught:
            enn.encrypt(batch, PASSWORD, folder)
        assert caught.value.name == "ENN_FAULT_OUTPUT_FOLDER"
        with pytest.raises(enn.OutputError) as caught:
            enn.encrypt(batch, PASSWORD, folder / "no folder" / "x.enn")
        assert caught.value.path == str(folder / "no folder" / "x.enn")

    def test_in_place_is_asked_of_the_library_only_when_given(
        self, batch: pathlib.Path, monkeypatch: pytest.MonkeyPatch
    ) -> None:
        placings = []

        def recording(real: Callable[..., int], at: int) -> Callable[..., int]:
            return lambda *args: placings.append(args[at]) or real(*args)

        for name, at in (("EnnEncryptStreamPlaced", 4), ("EnnDecryptStreamEx", 3)):
            monkeypatch.setattr(enn._lib, name, recording(getattr(enn._lib, name), at))
        for in_place in (False, True):
            enn.encrypt(batch, PASSWORD, batch.with_name("x.enn"), replace=True, in_place=in_place)
            enn.decrypt(container(batch), batch.with_name("x"), replace=True, in_place=in_place)
        assert [placing & enn._ALLOW_IN_PLACE != 0 for placing in placings] == [False, False, True, True]

    def test_the_documented_block_keeps_what_it_reads(self, batch: pathlib.Path, monkeypatch) -> None:
        """The guide's Python block, run in its printed order, twice: it
        writes only new files, and the second run changes nothing."""
        guide = pathlib.Path(__file__).resolve().parents[1] / "README.md"
        if not guide.exists():
            pytest.skip("no guide, python/README.md, beside the tests")
        block = re.search(r"```python\n(.*?)```", guide.read_text(), re.S)
        assert block
        folder = batch.with_name("intake")
        folder.mkdir()
        (folder / "batch.txt.enn").write_bytes(container(batch).read_bytes())
        (folder / "reply.txt").write_bytes(b"an answer\n")
        monkeypatch.chdir(folder)

        def files() -> dict:
            return {name: (folder / name).read_bytes() for name in os.listdir(folder)}

        before = files()
        exec(block.group(1), {"received": container(batch).read_bytes()})
        after = files()
        assert {name: after[name] for name in before} == before
        assert after["batch.txt"] == batch.read_bytes()
        assert enn.decrypt(folder / "reply.txt.enn") == ("246810", b"an answer\n")
        with pytest.raises(enn.OutputError):
            exec(block.group(1), {"received": container(batch).read_bytes()})
        assert files() == after


class TestDecryptInMemory:
    def test_no_file_is_made(self, batch: pathlib.Path, monkeypatch: pytest.MonkeyPatch) -> None:
        """With a temporary folder that does not exist, any temporary file fails."""
        monkeypatch.setenv("TMPDIR", str(batch.with_name("no temporary folder")))
        assert enn.decrypt(container(batch)) == (PASSWORD, batch.read_bytes())
        assert enn.decrypt(container(batch).read_bytes()) == (PASSWORD, batch.read_bytes())
        assert sorted(os.listdir(batch.parent)) == ["batch.txt", "batch.txt.enn"]

    def test_the_header_alone(self, tmp_path: pathlib.Path) -> None:
        nothing = tmp_path / "nothing.enn"
        nothing.write_bytes(hashlib.md5(b"").hexdigest().encode())
        assert enn.decrypt(nothing) == ("", b"")
        assert enn.decrypt(nothing.read_bytes()) == ("", b"")

    def test_inputs_refused_as_the_library_refuses_them(self, batch: pathlib.Path) -> None:
        fifo = batch.with_name("fifo")
        os.mkfifo(fifo)
        for path in (batch.with_name("missing.enn"), batch.parent, fifo):
            with pytest.raises(enn.Error) as verified:
                enn.verify(path)
            with pytest.raises(enn.Error) as decrypted:
                enn.decrypt(path)
            assert type(decrypted.value) is type(verified.value)
            assert (decrypted.value.name, decrypted.value.path) == (verified.value.name, str(path))
        bad = batch.with_name("bad.enn")
        bad.write_bytes(damaged(batch))
        with pytest.raises(enn.ContainerError) as caught:
            enn.decrypt(bad)
        assert caught.value.name == "ENN_FAULT_DIGEST" and caught.value.path == str(bad)

    @pytest.mark.parametrize("size", [1, 3 << 20])
    def test_a_file_replaced_after_its_size_was_told(
        self, batch: pathlib.Path, monkeypatch: pytest.MonkeyPatch, size: int
    ) -> None:
        """The library tells the capacity the file needs, then decodes it
        into bytes that large; a file replaced between, by a smaller
        container or a larger one, is decoded as it is then."""
        other = batch.with_name("other.txt")
        other.write_bytes(os.urandom(size))
        enn.encrypt(other, "135790")
        real = enn._lib.EnnDecodeFile
        replaced: list = []

        def replacing(*args: object) -> int:
            if args[4] and not replaced:
                replaced.append(1)
                os.replace(container(other), container(batch))
            return real(*args)  # type: ignore[no-any-return]

        monkeypatch.setattr(enn._lib, "EnnDecodeFile", replacing)
        assert enn.decrypt(container(batch)) == ("135790", other.read_bytes())

    @pytest.mark.parametrize("size", [1, 4000, 4001, 3 << 20])
    def test_the_bytes_returned_are_whole_and_the_callers_alone(self, tmp_path: pathlib.Path, size: int) -> None:
        """The plain data is decoded into the bytes object returned, which
        is then cut to length: each comes out as bytes of its own, held by
        the caller alone, equal and hashing as a copy does."""
        plain = tmp_path / "plain.txt"
        plain.write_bytes(os.urandom(size))
        enn.encrypt(plain, PASSWORD)
        source = bytearray(container(plain).read_bytes())
        for given in (container(plain), source):
            password, data = enn.decrypt(given)
            assert password == PASSWORD and type(data) is bytes and data == plain.read_bytes()
            assert sys.getrefcount(data) == 2 and hash(data) == hash(bytes(bytearray(data)))
        source[:] = bytes(len(source))
        assert data == plain.read_bytes()

    def test_verifying_bytes_brings_no_plain_data_into_python(self, tmp_path: pathlib.Path) -> None:
        """Python frees memory without wiping it: verify(bytes) leaves the
        decoding to the library, which wipes each batch it held."""
        plain = tmp_path / "plain.txt"
        plain.write_bytes(os.urandom(3 << 20))
        enn.encrypt(plain, PASSWORD)
        data = container(plain).read_bytes()
        tracemalloc.start()
        try:
            enn.verify(data)
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
        assert peak < len(data) // 2

    def test_many_decodes_keep_nothing(self, batch: pathlib.Path) -> None:
        """A reference kept or given up once too often would show here, as
        memory that grows or as a crash."""
        data = container(batch).read_bytes()
        tracemalloc.start()
        try:
            for _ in range(50):
                enn.decrypt(data)
                enn.decrypt(container(batch))
            before = tracemalloc.get_traced_memory()[0]
            for _ in range(500):
                enn.decrypt(data)
                enn.decrypt(container(batch))
            after = tracemalloc.get_traced_memory()[0]
        finally:
            tracemalloc.stop()
        assert after - before < 100 * len(data)
        with pytest.raises(enn.ContainerError):
            enn.decrypt(damaged(batch))
        assert enn.decrypt(data) == (PASSWORD, batch.read_bytes())


def test_help_guides_a_caller() -> None:
    guide = enn.__doc__ or ""
    for word in ("ContainerError", "OutputError", "replace=True", ".present", "in_place=True",
                 "KeyboardInterrupt", "send it again"):
        assert word in guide
    for function in (enn.decrypt, enn.encrypt, enn.verify, enn.read_password):
        assert function.__name__ in guide and function.__doc__
