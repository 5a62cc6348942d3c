"""The enn module against a libenn: ENN_LIBRARY names it, else the system's.
ENN_HEADER names the enn.h it must agree with, ENN_VERSION_HEADER its
enn_version.h when that is not beside it."""

import os
import pathlib
import re
import threading

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
    taken = batch.with_name("taken.txt")
    taken.write_bytes(b"kept")
    with pytest.raises(enn.OutputError) as caught:
        enn.decrypt(container(batch), taken, keep_existing=True)
    assert caught.value.name == "ENN_FAULT_EXISTS" and caught.value.path == str(taken)
    assert taken.read_bytes() == b"kept"


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
