% DRAVIX  Thinned point-density map of a categorical raster.
%
%   out = Dravix(table, window, labels)
%   out = Dravix(table, window, labels, probesPerCell)
%
%   Scatters random points over the inner part of the label raster, each
%   cell holding a point with its class value as the chance; then thins
%   them: each point sends probes to random cells near it, and the more of
%   them find its own class (estimate e of same-class cells in a window),
%   the likelier it is removed, surviving with chance about 1/sqrt(e).
%   Returns, for every position of a moving window, the fraction of the
%   window's cells that hold a surviving point, written at the window's
%   centre cell.
%
%   table          chance of a point per class, a real double vector:
%                  table(k) belongs to label k. The chance is
%                  floor(32767*p)/32768: just below p for 0 < p < 1, 1 for
%                  p >= 32768/32767 (Inf included), and 0 below 1/32767 (0,
%                  negative, -Inf, NaN). The values are only compared, never
%                  summed, so their magnitudes cost no precision.
%   window         any array; only its size matters: h = rows, w = columns
%                  of the moving window. Probes reach floor(0.85*floor(h/2))
%                  rows and floor(0.85*floor(w/2)) columns from their point,
%                  and points lie only that far plus one inside the raster.
%   labels         M x N int32 matrix of class labels, each in
%                  1..numel(table) where points may lie (elsewhere labels
%                  are only compared with a point's own).
%   probesPerCell  optional int32 scalar, 0 or more (default 12): probes per
%                  raster cell, shared among the points, so each point gets
%                  P = floor(probesPerCell*M*N / number of points). With 0 no
%                  point is thinned. The thinning costs up to
%                  probesPerCell*M*N label comparisons: large values take
%                  long (Ctrl-C stops the call), and a P beyond half the
%                  machine's memory at 8 bytes a probe is refused with
%                  Dravix:outOfMemory before the thinning.
%   out            M x N double matrix of multiples of 1/(h*w) in 0..1. The
%                  window's top-left corner visits rows 11 .. M-h-10 and
%                  columns 11 .. N-w-10 (1-based); each value goes to the
%                  window's centre cell (the lower/right middle cell for an
%                  even size). Every other cell is 0, and so is the whole map
%                  when no point is drawn.
%
%   Randomness: each call seeds its own generator from the clock in whole
%   seconds, so two calls with the same arguments within the same second
%   return the same map, and calls in different seconds in general do not.
%
%   Threads: runs on every core; the environment variable RASTER_MAPS_THREADS
%   caps them, e.g. setenv("RASTER_MAPS_THREADS", "1") for one thread. The
%   result is the same, bit for bit, on any number of threads.
%
%   Errors (by identifier): Dravix:argCount, Dravix:outputCount (more than
%   one output), Dravix:badTable (not a real double array, or empty),
%   Dravix:badLabels (not an int32 matrix), Dravix:emptyWindow,
%   Dravix:badWindow (more than two dimensions), Dravix:labelOutOfRange
%   (names the label, its row and its column), Dravix:badProbesPerCell (not
%   a non-negative int32 scalar), Dravix:outOfMemory (the output raster, or
%   a huge probesPerCell with few points). Ctrl-C stops a running call.
%
%   Example: density of thinned points, forest twice as likely as grassland
%     labels = int32(randi(5, 300, 400));
%     density = Dravix([0.05 0.3 0.15 0.1 0], ones(21), labels, int32(12));
%     imagesc(density); axis image; colorbar
%
%   See also Varnok, Marnisa, Sulmet, Ombrel.
%
%   raster-maps 0.1.0

%!test
%! % No class can hold a point, so no window holds one.
%! L = int32(randi(3, 40, 40));
%! assert(Dravix([0 0 0], ones(9), L), zeros(40, 40));
%!test
%! % Every value is a share of a window's cells.
%! out = Dravix([0.3 0.6 0.1], ones(9, 7), int32(randi(3, 60, 50)), int32(4));
%! assert(all(out(:) >= 0 & out(:) <= 1));
%!error id=Dravix:badProbesPerCell Dravix([0.5 0.5], ones(3), int32(ones(30)), int32(-1))
