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

import pytest

pytest.importorskip("dask.array")
pytest.importorskip("xarray")

# A Dravix call over every cell as a point, each with about 1.2 probes_per_cell
# probes (10**7: many minutes). The child says "started" once the map has
# burnt half a second of CPU, so the signal surely lands inside it. After
# the KeyboardInterrupt it waits (10 s at most) until no call into the core
# is left running on any thread, and says how that went. SIGINT's handler is
# set again before the map, as Jupyter's kernel does before each cell, or
# replaced by one of the user's own.
CHILD = textwrap.dedent("""
    import signal, sys, threading, time
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
    rm.varnok([1.0], 3, labels)
    own = sys.argv[3] == "own"
    signal.signal(signal.SIGINT, (lambda *_: print("own handler", flush=True)) if own else
                  signal.default_int_handler)
    probes = int(sys.argv[2])
    threading.Thread(target=announce, daemon=True).start()
    try:
        if sys.argv[1] == "numpy":
            out = rm.dravix([1.0], 21, labels, probes, seed=1)
        elif sys.argv[1] == "xarray":
            out = rmx.dravix({7: 1.0}, 21, xr.DataArray(labels * 7, dims=("y", "x")), probes,
                             seed=1, border="zero").values
        else:
            out = rmd.dravix([1.0], 21, da.from_array(labels, chunks=150), probes, seed=1)
            out = out.compute(scheduler=sys.argv[1])
        same = out.tobytes() == rm.dravix([1.0], 21, labels, probes, seed=1).tobytes()
        print("finished", "right" if same else "wrong", flush=True)
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


def interrupted_child(path, probes, handler):
    """The child's lines from "started" on, SIGINT sent right after it."""
    child = subprocess.Popen([sys.executable, "-c", CHILD, path, str(probes), handler],
                             stdout=subprocess.PIPE, text=True,
                             env={**os.environ, "RASTER_MAPS_THREADS": "2"})
    try:
        lines = lines_of(child)
        assert lines.get(timeout=120) == "started"
        child.send_signal(signal.SIGINT)
        said = [lines.get(timeout=120)]
        while said[-1] is not None:
            said.append(lines.get(timeout=120))
        assert child.wait(timeout=30) == 0
        return said[:-1]
    finally:
        child.kill()
        child.wait()


PATHS = ["numpy", "xarray", "threads", "sync"]  # the last two: dask's schedulers


@pytest.mark.parametrize("path", PATHS)
def test_ctrl_c_stops_a_running_map_on_every_thread(path):
    assert interrupted_child(path, 10**7, "default") == ["KeyboardInterrupt idle"]


@pytest.mark.parametrize("path", ["numpy", "threads"])
def test_a_users_own_sigint_handler_is_left_alone(path):
    # The handler runs, and the map goes on to its end.
    assert interrupted_child(path, 3 * 10**4, "own") == ["own handler", "finished right"]


def test_python_still_sees_its_default_handler():
    # asyncio.run, for one, installs its own only over the default handler.
    code = ("import signal, numpy as np, raster_maps as rm; rm.varnok([1.0], 3, np.ones((9, 9), int)); "
            "assert signal.getsignal(signal.SIGINT) is signal.default_int_handler")
    subprocess.run([sys.executable, "-c", code], check=True, timeout=60)


class TestThreads:
    def test_any_thread_count_is_cut_to_what_the_machine_runs(self):
        # In a child: a pool of 10**6 threads would hang for minutes.
        code = textwrap.dedent("""
            import numpy as np
            import raster_maps as rm
            from conftest import class_table, patchy_labels
            labels = patchy_labels(80, 90, 5, 1)
            table = class_table(5, 2)
            one = rm.sulmet(table, 11, labels, threads=1)
            for threads in (10**6, 10**12, 10**30, np.int64(2**62)):
                assert rm.sulmet(table, 11, labels, threads=threads).tobytes() == one.tobytes()
        """)
        subprocess.run([sys.executable, "-c", code], check=True, timeout=120,
                       cwd=os.path.dirname(__file__))

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
