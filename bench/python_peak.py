"""python3 bench/python_peak.py [MIB]: the peak memory of python3-enn's
decrypt without out, as a ratio to reading the plain file into bytes, which
holds the plain data exactly once. Each case runs in a process of its own;
its figure is the growth of the peak resident set over the process's own
before the case. ENN_LIBRARY and PYTHONPATH choose the library and module
as for the tests: PYTHONPATH=python ENN_LIBRARY=build/codec/libenn.so.1."""

import os
import subprocess
import sys
import tempfile

CASE = r"""
import resource, sys
import enn
kind, plain, sealed = sys.argv[1:]
held = open(sealed, "rb").read() if kind == "bytes" else None
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
if kind == "baseline":
    data = open(plain, "rb").read()
elif kind == "path":
    password, data = enn.decrypt(sealed)
else:
    password, data = enn.decrypt(held)
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(after - before)
"""


def peak(kind: str, plain: str, sealed: str) -> int:
    out = subprocess.run([sys.executable, "-c", CASE, kind, plain, sealed], check=True, capture_output=True, text=True)
    return int(out.stdout)


def main() -> None:
    mib = int(sys.argv[1]) if len(sys.argv) > 1 else 64
    import enn

    with tempfile.TemporaryDirectory() as folder:
        plain = os.path.join(folder, "batch.txt")
        # Written a MiB at a time: a child process starts with its parent's
        # peak, which must stay small.
        with open(plain, "wb") as f:
            for _ in range(mib):
                f.write(os.urandom(1 << 20))
        sealed = enn.encrypt(plain, "246810")
        baseline = peak("baseline", plain, sealed)
        print(f"{mib} MiB of plain data; reading it into bytes: {baseline} KiB at its peak (1.00)")
        for kind, what in (("path", "decrypt(path)"), ("bytes", "decrypt(bytes), the container read before")):
            grown = peak(kind, plain, sealed)
            print(f"{what}: {grown} KiB, {grown / baseline:.2f} times the baseline")


if __name__ == "__main__":
    main()
