function test_sulmet ()
  % Tests of the Sulmet plug-in inside Octave; fails if any check fails.
  run_checks ("Sulmet", {@shared_arguments, @bad_input, @matches_conv2, ...
              @large_window, @small_rasters});
end

% The score from per-class window counts, class by class, placed as the
% plug-in places it.
function want = conv2_scores (t, L, h, w)
  [M, N] = size (L);
  bracket = 0;
  for k = 1:numel (t)
    q = conv2 (double (L == k), ones (h, w), "valid") / (h * w);
    bracket = bracket + (q - t(k)) .^ 2;
  end
  want = place_window_scores (1 - 0.5 * bracket, M, N, h, w);
end

function shared_arguments ()
  check_shared_arguments ("Sulmet", 3, "The number of input arguments must be three.");
end

function bad_input ()
  L = int32 (ones (30));
  % Every cell takes part in the class-value sums, even the outermost ones.
  bad = L; bad(30, 30) = 2;
  expect_error (@() Sulmet (1, 1, bad), "Sulmet:labelOutOfRange", "Label 2 at row 30, column 30");
  bad = L; bad(1, 1) = 0;
  expect_error (@() Sulmet ([1 0], ones (3), bad), "Sulmet:labelOutOfRange", "Label 0 at row 1, column 1");
  % Labels are checked even where no window is scored.
  expect_error (@() Sulmet (1, ones (3), int32 (zeros (23, 40))), "Sulmet:labelOutOfRange");
  for v = [NaN Inf -Inf]
    expect_error (@() Sulmet ([0.5 0.5 v], 1, L), "Sulmet:badTable", "for class 3 (label 3)");
  end
  assert (Sulmet (1, ones (5, 50), int32 (ones (40, 20))), zeros (40, 20));
end


function matches_conv2 ()
  rand ("seed", 5);
  for s = [40 50 3 3 4; 61 47 4 6 30; 55 80 7 2 9; 90 70 21 21 12; 33 35 1 1 3].'
    [M, N, h, w, K] = deal (s(1), s(2), s(3), s(4), s(5));
    t = rand (K, 1); t = t / sum (t);
    L = int32 (randi (K - 1, M, N));   % class K never occurs
    got = Sulmet (t, ones (h, w), L);
    want = conv2_scores (t, L, h, w);
    assert (size (got), [M N]);
    assert (got, want, 1e-12);
    assert (nnz (got == 0) >= nnz (want == 0));
  end
end

% (h*w)^2 passes 2^31 - 1 from a 216 x 216 window on.
function large_window ()
  rand ("seed", 7);
  h = 216; w = 216; M = h + 21; N = w + 23;
  L = int32 (randi (2, M, N));
  t = [0.3 0.7];
  assert (Sulmet (t, ones (h, w), L), conv2_scores (t, L, h, w), 1e-12);
  out = Sulmet (1, ones (h, w), int32 (ones (M, N)));
  assert (out(h / 2 + 11, w / 2 + (11:13)), [1 1 1]);
end

function small_rasters ()
  t = [0.2 0.8];
  assert (Sulmet (t, ones (5, 4), int32 (ones (5 + 20, 40))), zeros (25, 40));
  assert (Sulmet (t, ones (5, 4), int32 (ones (40, 4 + 20))), zeros (40, 24));
  out = Sulmet (t, ones (5, 4), int32 (2 * ones (5 + 21, 40)));
  assert (find (any (out, 2)), 13);
  assert (out(13, 13:28), (1 - 0.5 * (0.04 + 0.04)) * ones (1, 16), 1e-13);
  assert (size (Sulmet (t, ones (3), int32 (zeros (0, 7)))), [0 7]);
end
