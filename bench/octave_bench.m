## octave_bench(sizes): times the plug-ins as an Octave user calls them, on an
## n x n raster with K = 10 random labels, for each n in sizes (default 4000).
## Each time is the median of 5 runs after one warm-up. Two references put
## the times in scale: floor_mex(L), which only creates, fills and returns an
## n x n double result (the host's share of every plug-in call), and
## double(L) + 0, the same amount of work done by Octave itself.
## Needs build/octave, build/bench and bench on the path; see
## bench/run_benchmarks.sh.
function octave_bench(sizes)
  if nargin < 1
    sizes = 4000;
  endif
  threads = getenv("RASTER_MAPS_THREADS");
  if isempty(threads)
    threads = "(unset)";
  endif
  printf("RASTER_MAPS_THREADS = %s\n", threads);

  K = 10;
  t = 0.1 * (1:K);
  p = t / sum(t);              # Sulmet: a target mix, summing to 1
  s = sqrt(p);                 # Ombrel: sqrt(p) gives the Bhattacharyya coefficient

  for n = sizes
    rand("state", 2026);       # fixed seed: the same raster every run
    L = int32(randi(K, n, n));

    floor_ms = time_ms(@() floor_mex(L));
    plus_ms = time_ms(@() double(L) + 0);

    ## One row per timing: map, window (NaN for the references), ms.
    rows = {};
    rows(end+1, :) = {"floor_mex", NaN, floor_ms};
    rows(end+1, :) = {"double(L)+0", NaN, plus_ms};
    for w = [3 21 101]
      win = ones(w);
      rows(end+1, :) = {"Varnok", w, time_ms(@() Varnok(t, win, L))};
      rows(end+1, :) = {"Marnisa", w, time_ms(@() Marnisa(t, win, L))};
      rows(end+1, :) = {"Sulmet", w, time_ms(@() Sulmet(p, win, L))};
      rows(end+1, :) = {"Ombrel", w, time_ms(@() Ombrel(s, win, L))};
    endfor
    rows(end+1, :) = {"Dravix", 21, time_ms(@() Dravix(t, ones(21), L))};

    ## Printed map by map, each map's windows in increasing order.
    printf("\n%d x %d raster, K = %d (median of 5 runs, ms)\n", n, n, K);
    printf("%-12s %7s %10s %10s %12s\n", "map", "window", "ms", "/floor_mex", "/double+0");
    order = {"floor_mex", "double(L)+0", "Varnok", "Marnisa", "Sulmet", "Ombrel", "Dravix"};
    for name = order
      for r = find(strcmp(rows(:, 1), name{1}))'
        w = rows{r, 2};
        if isnan(w)
          wtext = "-";
        else
          wtext = sprintf("%d", w);
        endif
        ms = rows{r, 3};
        printf("%-12s %7s %10.1f %10.2f %12.2f\n", rows{r, 1}, wtext, ms, ms / floor_ms, ms / plus_ms);
      endfor
    endfor
  endfor
endfunction

## Median of 5 timed calls of f after one untimed warm-up. The result is kept
## in y so the host creates and returns it as in real use; y is cleared between
## runs, outside the timing, so no run pays for freeing the previous result.
function ms = time_ms(f)
  y = f();
  clear y;
  t = zeros(1, 5);
  for k = 1:5
    tic;
    y = f();
    t(k) = toc;
    clear y;
  endfor
  ms = 1000 * median(t);
endfunction
