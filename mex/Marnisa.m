% MARNISA  Sampled class-value mean map of a categorical raster.
%
%   out = Marnisa(table, window, labels)
%
%   Keeps every cell of the label raster only at random, with its class
%   value as the chance, and returns, for every position of a moving window,
%   the mean over the window of the kept cells' class values (cells not kept
%   count as 0), written at the window's centre cell. On average a cell of
%   class value p contributes about p^2: p as its chance and p as its value.
%
%   table   class values, a real double vector: table(k) belongs to label k
%           and is both the chance of a cell of label k to be kept and the
%           value it then contributes. The chance is floor(32767*p)/32768:
%           just below p for 0 < p < 1; a value of 32768/32767 or more keeps
%           every cell, and a value below 1/32767 (0, negative, -Inf, NaN)
%           none. +Inf, which would be kept and spread over every window, is
%           refused. (A matrix is read down its first column: K is its row
%           count, or its column count when it has one row.) The means come
%           from running sums over the raster, so values of very different
%           magnitude (1e16 next to 0.5) lose the small ones' precision.
%   window  any array; only its size matters: h = rows, w = columns of the
%           moving window. Its elements are never read.
%   labels  M x N int32 matrix of class labels, each in 1..numel(table).
%   out     M x N double matrix. The window's top-left corner visits rows
%           11 .. M-h-10 and columns 11 .. N-w-10 (1-based); each mean goes to
%           the window's centre cell (the lower/right middle cell for an even
%           size). Every other cell is 0, and a raster smaller than
%           (h+21) x (w+21) gives all zeros.
%
%   Randomness: each call seeds its own generator from the clock in whole
%   seconds, so two calls with the same arguments within the same second
%   return the same map, and calls in different seconds in general do not.
%   Cells are decided row by row, left to right.
%
%   Threads: runs on every core; the environment variable RASTER_MAPS_THREADS
%   caps them, e.g. setenv("RASTER_MAPS_THREADS", "1") for one thread. The
%   result is the same, bit for bit, on any number of threads.
%
%   Errors (by identifier): Marnisa:argCount, Marnisa:outputCount (more than
%   one output), Marnisa:badTable (not a real double array, empty, or +Inf
%   for a class, named by its label), Marnisa:badLabels (not an int32
%   matrix), Marnisa:emptyWindow, Marnisa:badWindow (more than two
%   dimensions), Marnisa:labelOutOfRange (names the label, its row and its
%   column), Marnisa:outOfMemory. Ctrl-C stops a running call.
%
%   Example: forest habitat quality with cells kept at random
%     labels = int32(randi(5, 300, 400));
%     quality = Marnisa([0.1 1 0.6 0.3 0], ones(21), labels);
%     imagesc(quality); axis image; colorbar
%
%   See also Varnok, Sulmet, Ombrel, Dravix.
%
%   raster-maps 0.1.0

%!test
%! % Values of 32768/32767 or more are always kept and 0 never, so with only
%! % such values Marnisa is Varnok, whatever the clock.
%! L = int32(randi(3, 40, 45)); t = [2 0 5];
%! assert(Marnisa(t, ones(7, 4), L), Varnok(t, ones(7, 4), L));
%!error id=Marnisa:badTable Marnisa([0.5 Inf], ones(3), int32(ones(30)))
