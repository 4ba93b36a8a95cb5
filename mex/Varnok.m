% VARNOK  Class-value mean map of a categorical raster.
%
%   out = Varnok(table, window, labels)
%
%   Gives every cell of the label raster the value of its class and returns,
%   for every position of a moving window, the mean of those values over the
%   window, written at the window's centre cell.
%
%   table   class values, a real double vector: table(k) belongs to label k.
%           (A matrix is read down its first column: K is its row count, or
%           its column count when it has one row.) Every value must be
%           finite. The means come from running sums over the raster, so
%           values of very different magnitude (1e16 next to 0.5) lose the
%           small ones' precision; keep the values within a few orders of
%           magnitude of each other.
%   window  any array; only its size matters: h = rows, w = columns of the
%           moving window. Its elements are never read.
%   labels  M x N int32 matrix of class labels, each in 1..numel(table).
%   out     M x N double matrix. The window's top-left corner visits rows
%           11 .. M-h-10 and columns 11 .. N-w-10 (1-based); each mean goes to
%           the window's centre cell (the lower/right middle cell for an even
%           size). Every other cell is 0, and a raster smaller than
%           (h+21) x (w+21) gives all zeros.
%
%   Threads: runs on every core; the environment variable RASTER_MAPS_THREADS
%   caps them, e.g. setenv("RASTER_MAPS_THREADS", "1") for one thread. The
%   result is the same, bit for bit, on any number of threads.
%
%   Errors (by identifier): Varnok:argCount, Varnok:outputCount (more than
%   one output), Varnok:badTable (not a real double array, empty, or NaN or
%   Inf for a class, named by its label), Varnok:badLabels (not an int32
%   matrix), Varnok:emptyWindow, Varnok:badWindow (more than two
%   dimensions), Varnok:labelOutOfRange (names the label, its row and its
%   column), Varnok:outOfMemory. Ctrl-C stops a running call.
%
%   Example: share of forest (class 2) in a 21 x 21 neighbourhood
%     labels = int32(randi(5, 300, 400));
%     forest = Varnok([0 1 0 0 0], ones(21), labels);
%     imagesc(forest); axis image; colorbar
%
%   See also Marnisa, Sulmet, Ombrel, Dravix.
%
%   raster-maps 0.1.0

%!test
%! % Each mean against conv2's, placed at its window's centre.
%! M = 40; N = 37; h = 5; w = 3; t = [0.25 1 0.5 0];
%! L = int32(randi(numel(t), M, N));
%! means = conv2(t(L), ones(h, w) / (h * w), 'valid');
%! want = zeros(M, N);
%! r = 11:(M - h - 10); c = 11:(N - w - 10);
%! want(r + floor(h / 2), c + floor(w / 2)) = means(r, c);
%! assert(Varnok(t, ones(h, w), L), want, 1e-12);
%!error id=Varnok:labelOutOfRange Varnok([1 2], ones(3), int32([1 3]))
%!error id=Varnok:badLabels Varnok([1 2], ones(3), [1 2])
