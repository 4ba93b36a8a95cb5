function test_ombrel ()
  % Tests of the Ombrel plug-in inside Octave; fails if any check fails.
  run_checks ("Ombrel", {@shared_arguments, @bad_input, @matches_conv2, @first_column_geometry, ...
              @small_rasters});
end

% The score from per-class window counts, placed where Ombrel places it: the
% first column of every scored row is scored whenever its window fits.
function want = conv2_scores (t, L, h, w)
  [M, N] = size (L);
  want = zeros (M, N);
  rows = 11:(M - h - 10);
  cols = 11:max (11, N - w - 10);
  if (isempty (rows) || N < w + 10)
    return;
  end
  score = 0;
  for k = 1:numel (t)
    score = score + t(k) * sqrt (conv2 (double (L == k), ones (h, w), "valid") / (h * w));
  end
  want(rows + floor (h / 2), cols + floor (w / 2)) = score(rows, cols);
end

function shared_arguments ()
  check_shared_arguments ("Ombrel", 3, "The number of input arguments must be three.");
end

function bad_input ()
  L = int32 (ones (30));
  % Only rows and columns 11 .. 19 (1-based) are read with a 1 x 1 window.
  bad = L; bad(11, 19) = 2;
  expect_error (@() Ombrel (1, 1, bad), "Ombrel:labelOutOfRange", "Label 2 at row 11, column 19");
  bad = L; bad(19, 11) = -1;
  expect_error (@() Ombrel (1, 1, bad), "Ombrel:labelOutOfRange", "Label -1 at row 19, column 11");
  for v = [NaN Inf -Inf]
    expect_error (@() Ombrel ([1 v], 1, L), "Ombrel:badTable", "for class 2 (label 2)");
  end
  % Labels outside that block are never read.
  bad = L; bad(1:10, :) = 0; bad(20:30, :) = 99; bad(:, 1:10) = -5; bad(:, 20:30) = 7;
  assert (Ombrel (0.5, 1, bad), Ombrel (0.5, 1, L));
  % Columns 11 .. w+10 when N <= w+21; nothing when no window fits.
  bad = int32 (ones (30, 25)); bad(:, 16:25) = 0;
  assert (any (Ombrel (1, ones (3, 5), bad)(:)));
  bad(15, 15) = 0;
  expect_error (@() Ombrel (1, ones (3, 5), bad), "Ombrel:labelOutOfRange", "row 15, column 15");
  assert (Ombrel (1, ones (3, 16), int32 (zeros (30, 25))), zeros (30, 25));
end

function matches_conv2 ()
  rand ("seed", 9); randn ("seed", 9);
  for s = [40 50 3 3 4; 61 47 4 6 30; 55 80 7 2 9; 90 70 21 21 12; 33 35 1 1 3; 50 35 5 5 6].'
    [M, N, h, w, K] = deal (s(1), s(2), s(3), s(4), s(5));
    t = randn (K, 1);
    L = int32 (randi (K - 1, M, N));   % class K never occurs
    got = Ombrel (t, ones (h, w), L);
    want = conv2_scores (t, L, h, w);
    assert (size (got), [M N]);
    assert (got, want, 1e-12);
    assert (nnz (got == 0) >= nnz (want == 0));
  end
end

% From N = w+10 to w+21 every scored row holds one score, at column 11 + w/2.
function first_column_geometry ()
  rand ("seed", 2);
  h = 4; w = 7; M = h + 24; t = sqrt ([0.5 0.3 0.2]);
  for N = (w + 8):(w + 23)
    L = int32 (randi (3, M, N));
    got = Ombrel (t, ones (h, w), L);
    assert (got, conv2_scores (t, L, h, w), 1e-13);
    written = find (any (got != 0, 1));
    if (N < w + 10)
      assert (isempty (written));
    elseif (N <= w + 21)
      assert (written, 11 + floor (w / 2));
    else
      assert (written, (11:N - w - 10) + floor (w / 2));
    end
  end
end


function small_rasters ()
  t = [0.2 0.8];
  assert (Ombrel (t, ones (5, 4), int32 (ones (5 + 20, 40))), zeros (25, 40));
  assert (Ombrel (t, ones (5, 4), int32 (ones (40, 4 + 9))), zeros (40, 13));
  assert (Ombrel (t, ones (50, 5), int32 (ones (40, 40))), zeros (40, 40));
  assert (size (Ombrel (t, ones (3), int32 (zeros (0, 7)))), [0 7]);
end
