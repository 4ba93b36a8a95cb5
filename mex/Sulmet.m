% SULMET  Squared-difference similarity of window compositions to a target.
%
%   out = Sulmet(table, window, labels)
%
%   Reads the class table as target class proportions p(k) and returns, for
%   every position of a moving window, how close the window's own class
%   proportions q(k) = n(k) / (h*w) lie to them:
%
%       1 - 0.5 * sum over k of (q(k) - p(k))^2,
%
%   written at the window's centre cell. With proportions that sum to 1 the
%   score runs from 0 (the window is all one class, the target all another)
%   to 1 (the window's composition equals the target). Classes absent from a
%   window still count through their target proportion.
%
%   table   target class proportions, a real double vector: table(k) belongs
%           to label k. It need not sum to 1; the formula is used as it is.
%           (A matrix is read down its first column: K is its row count, or
%           its column count when it has one row.) Every value must be
%           finite. The sum of q(k)*p(k) comes from running sums over the
%           raster, so values of very different magnitude (1e16 next to 0.5)
%           lose the small ones' precision. The time per window does not
%           grow with K: a table of millions of classes costs only its
%           reading.
%   window  any array; only its size matters: h = rows, w = columns of the
%           moving window. Its elements are never read.
%   labels  M x N int32 matrix of class labels, each in 1..numel(table).
%   out     M x N double matrix. The window's top-left corner visits rows
%           11 .. M-h-10 and columns 11 .. N-w-10 (1-based); each score goes
%           to the window's centre cell (the lower/right middle cell for an
%           even size). Every other cell is 0, and a raster smaller than
%           (h+21) x (w+21) gives all zeros.
%
%   Threads: runs on every core; the environment variable RASTER_MAPS_THREADS
%   caps them, e.g. setenv("RASTER_MAPS_THREADS", "1") for one thread. The
%   result is the same, bit for bit, on any number of threads.
%
%   Errors (by identifier): Sulmet:argCount, Sulmet:outputCount (more than
%   one output), Sulmet:badTable (not a real double array, empty, or NaN or
%   Inf for a class, named by its label), Sulmet:badLabels (not an int32
%   matrix), Sulmet:emptyWindow, Sulmet:badWindow (more than two
%   dimensions, or a scored window of more than 3037000499 cells),
%   Sulmet:labelOutOfRange (names the label, its row and its column),
%   Sulmet:outOfMemory. Ctrl-C stops a running call.
%
%   Example: closeness to a mix of 40% forest (class 2) and 60% grassland
%   (class 3) in a 21 x 21 neighbourhood
%     labels = int32(randi(5, 300, 400));
%     mix = Sulmet([0 0.4 0.6 0 0], ones(21), labels);
%     imagesc(mix); axis image; colorbar
%
%   See also Varnok, Marnisa, Ombrel, Dravix.
%
%   raster-maps 0.1.0

%!test
%! % 1 - 0.5 * sum((q - t).^2) from each class's share q by conv2.
%! M = 36; N = 41; h = 4; w = 6; t = [0.1 0.5 0.4];
%! L = int32(randi(numel(t), M, N));
%! score = ones(M - h + 1, N - w + 1);
%! for k = 1:numel(t)
%!   q = conv2(double(L == k), ones(h, w) / (h * w), 'valid');
%!   score -= 0.5 * (q - t(k)) .^ 2;
%! end
%! want = zeros(M, N);
%! r = 11:(M - h - 10); c = 11:(N - w - 10);
%! want(r + floor(h / 2), c + floor(w / 2)) = score(r, c);
%! assert(Sulmet(t, ones(h, w), L), want, 1e-12);
%!error id=Sulmet:emptyWindow Sulmet([1 2], zeros(0, 3), int32(ones(30)))
