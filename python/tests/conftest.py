"""Shared fixtures: random label rasters and the plug-ins run inside Octave."""
import os
import shutil
import subprocess
import tempfile

import numpy as np
import pytest

MAPS = ("varnok", "marnisa", "sulmet", "ombrel", "dravix")
PLUGINS = {"varnok": "Varnok", "marnisa": "Marnisa", "sulmet": "Sulmet", "ombrel": "Ombrel",
           "dravix": "Dravix"}


def patchy_labels(M, N, K, seed):
    """Labels 1..K in patches of one class with a quarter of the cells
    random, so that windows see both few and many classes."""
    rng = np.random.default_rng(seed)
    r, c = np.indices((M, N))
    patch = ((r // 6) * 7 + (c // 5) * 3) % K
    noise = rng.integers(0, K, (M, N))
    return (1 + np.where(rng.random((M, N)) < 0.25, noise, patch)).astype(np.int32)


def class_table(K, seed):
    """Class values over -0.2 .. 1.2 with full mantissas: some never sampled,
    some always."""
    return np.random.default_rng(seed).uniform(-0.2, 1.2, K)


@pytest.fixture(scope="session")
def octave_plugins():
    """A function that runs plug-in calls in one Octave session and returns
    their outputs; skips when Octave or the built plug-ins are missing."""
    build = os.environ.get("RASTER_MAPS_TEST_BUILD",
                           os.path.join(os.path.dirname(__file__), "..", "..", "build"))
    plugin_dir = os.path.abspath(os.path.join(build, "octave"))
    octave = shutil.which("octave-cli")
    if octave is None or not os.path.exists(os.path.join(plugin_dir, "Varnok.mex")):
        pytest.skip("octave-cli or the built plug-ins are missing")

    def run(calls):
        """calls: (map, table, (h, w), labels, probes_per_cell or None).
        Returns [(output, seed)], seed being the clock second of a random
        map's call (None for the others)."""
        # A call starts away from a second's edge: the plug-in reads the
        # kernel's coarse clock, which may lag Octave's time() by a tick.
        with tempfile.TemporaryDirectory() as tmp:
            script = [f"addpath('{plugin_dir}');"]
            for n, (name, table, (h, w), labels, probes) in enumerate(calls):
                base = os.path.join(tmp, str(n))
                np.asarray(table, np.float64).tofile(base + ".table")
                np.asfortranarray(labels, np.int32).T.tofile(base + ".labels")
                M, N = labels.shape
                extra = "" if probes is None else f", int32({probes})"
                script.append(f"""
                  f = fopen('{base}.table'); t = fread(f, Inf, 'double')'; fclose(f);
                  f = fopen('{base}.labels'); L = int32(fread(f, [{M} {N}], 'int32=>int32')); fclose(f);
                  for attempt = 1:5
                    t0 = time();
                    while mod(t0, 1) < 0.05 || mod(t0, 1) > 0.7
                      pause(0.02); t0 = time();
                    end
                    y = {PLUGINS[name]}(t, zeros({h}, {w}), L{extra});
                    if floor(time()) == floor(t0), break; end
                  end
                  f = fopen('{base}.out', 'w'); fwrite(f, [floor(t0); y(:)], 'double'); fclose(f);""")
            subprocess.run([octave, "--norc", "--no-history", "--quiet", "--eval", "\n".join(script)],
                           check=True, env={**os.environ, "RASTER_MAPS_THREADS": "1"})
            results = []
            for n, (name, _, _, labels, _) in enumerate(calls):
                data = np.fromfile(os.path.join(tmp, f"{n}.out"), np.float64)
                out = data[1:].reshape(labels.shape[::-1]).T
                seed = int(data[0]) % 2**32 if name in ("marnisa", "dravix") else None
                results.append((out, seed))
            return results

    return run


def call_map(module, name, table, window, labels, default_seed, **kw):
    """module.name(table, window, labels, **kw), the random maps seeded with
    default_seed unless kw gives a seed."""
    if name in ("marnisa", "dravix"):
        kw.setdefault("seed", default_seed)
    return getattr(module, name)(table, window, labels, **kw)
