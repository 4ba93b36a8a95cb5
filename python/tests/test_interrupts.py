"""Ctrl-C and threads the system refuses: a map stops with the right Python
error instead of running on for hours, hanging or ending the interpreter.
Each case runs in a child interpreter, under timeouts."""
import os
import queue
import signal
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

import raster_maps as rm
from conftest import class_table, patchy_labels

pytest.importorskip("dask.array")
pytest.importorskip("xarray")

# A Dravix call that would probe for many minutes: every cell a point, each
# with about 1.2e7 probes. The child says "started" once the map has burnt
# half a second of CPU, so the signal surely lands inside it. After the
# KeyboardInterrupt it waits (10 s at most) until no call into the core is
# left running on any thread, and says how that went.
CHILD = textwrap.dedent("""
    import sys, threading, time
    import numpy as np
    import raster_maps as rm, raster_maps.dask as rmd, raster_maps.xarray as rmx
    import dask.array as da, xarray as xr

    running = [0]
    lock = threading.Lock()

    def counted(call):
        def wrapped(*args):
            with lock:
                running[0] += 1
            try:
                return call(*args)
            finally:
                with lock:
                    running[0] -= 1
        return wrapped

    rmd._call = counted(rmd._call)

    def announce():
        start = time.process_time()
        while time.process_time() - start < 0.5:
            time.sleep(0.01)
        print("started", flush=True)

    labels = np.ones((300, 300), np.int32)
    threading.Thread(target=announce, daemon=True).start()
    try:
        if sys.argv[1] == "numpy":
            rm.dravix([1.0], 21, labels, 10**7, seed=1)
        elif sys.argv[1] == "xarray":
            rmx.dravix({7: 1.0}, 21, xr.DataArray(labels * 7, dims=("y", "x")), 10**7, seed=1)
        else:
            out = rmd.dravix([1.0], 21, da.from_array(labels, chunks=150), 10**7, seed=1)
            out.compute(scheduler=sys.argv[1])
        print("finished")
    except KeyboardInterrupt:
        waited = time.monotonic()
        while running[0] and time.monotonic() - waited < 10:
            time.sleep(0.01)
        print("KeyboardInterrupt", "idle" if running[0] == 0 else "still computing", flush=True)
""")


def lines_of(process):
    """The child's stdout lines as they come, through a queue."""
    lines = queue.Queue()

    def read():
        for line in process.stdout:
            lines.put(line.strip())
        lines.put(None)

    threading.Thread(target=read, daemon=True).start()
    return lines


@pytest.mark.parametrize("path", ["numpy", "xarray", "threads", "sync"])
def test_ctrl_c_stops_a_running_map_on_every_thread(path):
    child = subprocess.Popen([sys.executable, "-c", CHILD, path], stdout=subprocess.PIPE, text=True,
                             env={**os.environ, "RASTER_MAPS_THREADS": "2"})
    try:
        lines = lines_of(child)
        assert lines.get(timeout=120) == "started"
        child.send_signal(signal.SIGINT)
        assert lines.get(timeout=30) == "KeyboardInterrupt idle"
        assert child.wait(timeout=30) == 0
    finally:
        child.kill()
        child.wait()


def test_a_users_own_sigint_handler_is_left_alone():
    code = textwrap.dedent("""
        import signal
        signal.signal(signal.SIGINT, lambda *_: print("own handler", flush=True))
        import raster_maps as rm
        import numpy as np
        assert signal.getsignal(signal.SIGINT).__name__ == "<lambda>"
        signal.raise_signal(signal.SIGINT)
        print(rm.varnok([0.5], 3, np.ones((30, 30), np.int32)).max())
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["own", "handler", "0.5"]
    # Over Python's default handler the package counts SIGINTs in C, and
    # Python still sees its own handler (asyncio.run relies on that).
    code = ("import signal, raster_maps; "
            "assert signal.getsignal(signal.SIGINT) is signal.default_int_handler")
    subprocess.run([sys.executable, "-c", code], check=True, timeout=60)


class TestThreads:
    def test_any_thread_count_is_cut_to_what_the_machine_runs(self):
        labels = patchy_labels(80, 90, 5, 1)
        table = class_table(5, 2)
        one = rm.sulmet(table, 11, labels, threads=1)
        for threads in (10**6, 10**12, 10**30, np.int64(2**62)):
            assert rm.sulmet(table, 11, labels, threads=threads).tobytes() == one.tobytes()

    def test_threads_the_system_refuses_raise_runtime_error(self):
        # 1 GB thread stacks, and 2.5 GB of address space left once numpy is
        # in: a few threads start, the rest are refused.
        code = textwrap.dedent("""
            import resource
            import numpy as np
            import raster_maps as rm
            labels = np.ones((200, 200), np.int32)
            with open("/proc/self/statm") as f:
                in_use = int(f.read().split()[0]) * resource.getpagesize()
            resource.setrlimit(resource.RLIMIT_AS, (in_use + 2500 * 2**20, resource.RLIM_INFINITY))
            try:
                rm.varnok([0.5], 5, labels, threads=8)
                print("no error")
            except RuntimeError as e:
                print("RuntimeError:", e)
        """)
        out = subprocess.run(["bash", "-c", 'ulimit -s 1000000 && exec "$0" -c "$1"', sys.executable,
                              code], capture_output=True, text=True, timeout=120,
                             env={**os.environ, "OPENBLAS_NUM_THREADS": "1"})
        assert out.returncode == 0, out.stderr
        assert out.stdout.startswith("RuntimeError: cannot start thread "), out.stdout
        assert "ask for fewer threads" in out.stdout
