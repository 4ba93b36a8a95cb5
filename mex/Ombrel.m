% OMBREL  Square-root overlap (Bhattacharyya) map of window compositions.
%
%   out = Ombrel(table, window, labels)
%
%   Returns, for every position of a moving window, the sum over the classes
%   of table(k) * sqrt(n(k) / (h*w)), n(k) being the window's count of label
%   k, written at the window's centre cell. With the square roots of target
%   class proportions in the table, table = sqrt(p), this is the
%   Bhattacharyya coefficient between the target and the window's own
%   proportions: 1 where they agree, 0 where the window holds only classes
%   of target proportion 0. The score is carried along each row of windows,
%   so it may differ from a direct computation in the last bits.
%
%   table   one real double per class: table(k) belongs to label k. (A matrix
%           is read down its first column: K is its row count, or its column
%           count when it has one row.) Every value must be finite. The
%           score is a running sum along each row, so values of very
%           different magnitude (1e16 next to 0.5) lose the small ones'
%           precision. The time per window does not grow with K.
%   window  any array; only its size matters: h = rows, w = columns of the
%           moving window. Its elements are never read.
%   labels  M x N int32 matrix of class labels. Only rows 11 .. M-11 and
%           columns 11 .. N-11 (11 .. w+10 while N <= w+21) are read (1-based)
%           and must hold labels in 1..numel(table); none are read when no
%           window is scored.
%   out     M x N double matrix. The window's top-left corner visits rows
%           11 .. M-h-10 and columns 11 .. N-w-10 (1-based), and column 11
%           in any case as long as N >= w+10; each score goes to the window's
%           centre cell (the lower/right middle cell for an even size). Every
%           other cell is 0; fewer than h+21 rows or w+10 columns give all
%           zeros.
%
%   Threads: runs on every core; the environment variable RASTER_MAPS_THREADS
%   caps them, e.g. setenv("RASTER_MAPS_THREADS", "1") for one thread. The
%   result is the same, bit for bit, on any number of threads.
%
%   Errors (by identifier): Ombrel:argCount, Ombrel:outputCount (more than
%   one output), Ombrel:badTable (not a real double array, empty, or NaN or
%   Inf for a class, named by its label), Ombrel:badLabels (not an int32
%   matrix), Ombrel:emptyWindow, Ombrel:badWindow (more than two
%   dimensions), Ombrel:labelOutOfRange (names the label, its row and its
%   column), Ombrel:outOfMemory. Ctrl-C stops a running call.
%
%   Example: overlap with a mix of 40% forest (class 2) and 60% grassland
%   (class 3) in a 21 x 21 neighbourhood
%     labels = int32(randi(5, 300, 400));
%     overlap = Ombrel(sqrt([0 0.4 0.6 0 0]), ones(21), labels);
%     imagesc(overlap); axis image; colorbar
%
%   See also Varnok, Marnisa, Sulmet, Dravix.
%
%   raster-maps 0.1.0

%!test
%! % sum(t .* sqrt(q)) from each class's share q by conv2.
%! M = 35; N = 44; h = 5; w = 5; t = sqrt([0.2 0.3 0.5]);
%! L = int32(randi(numel(t), M, N));
%! score = zeros(M - h + 1, N - w + 1);
%! for k = 1:numel(t)
%!   score += t(k) * sqrt(conv2(double(L == k), ones(h, w) / (h * w), 'valid'));
%! end
%! want = zeros(M, N);
%! r = 11:(M - h - 10); c = 11:(N - w - 10);
%! want(r + floor(h / 2), c + floor(w / 2)) = score(r, c);
%! assert(Ombrel(t, ones(h, w), L), want, 1e-12);
%!error id=Ombrel:argCount Ombrel([1 2], ones(3))
