function test_varnok ()
  % Tests of the Varnok plug-in inside Octave; fails if any check fails.
  run_checks ("Varnok", {@shared_arguments, @bad_input, @window_template_any_class, ...
              @row_and_column_tables, @matches_conv2, @small_and_empty_rasters});
end

function shared_arguments ()
  check_shared_arguments ("Varnok", 3, "The number of input arguments must be three.");
end

function bad_input ()
  L = int32 (ones (30));
  bad = L; bad(3, 2) = 0;
  expect_error (@() Varnok (1, 1, bad), "Varnok:labelOutOfRange", "Label 0 at row 3, column 2");
  bad = L; bad(30, 29) = 3;
  expect_error (@() Varnok ([1 2], 1, bad), "Varnok:labelOutOfRange", "Label 3 at row 30, column 29");
  bad = L; bad(1, 1) = -7;
  expect_error (@() Varnok ([1 2], 1, bad), "Varnok:labelOutOfRange", "Label -7 at row 1, column 1");
  % A 3 x 2 table has K = 3 (its row count), so label 4 is out of range.
  expect_error (@() Varnok (ones (3, 2), 1, L * 4), "Varnok:labelOutOfRange", "outside 1..3");
  % Non-finite class values would spread over every window: refused, even
  % for a class that never occurs.
  for v = [NaN Inf -Inf]
    expect_error (@() Varnok ([0.5 v 2], 1, L), "Varnok:badTable", "for class 2 (label 2)");
  end
end

function window_template_any_class ()
  L = int32 (randi (4, 40, 45));
  t = [0.5 1 2 4];
  ref = Varnok (t, ones (5, 3), L);
  templates = {zeros(5, 3), true(5, 3), int8(ones(5, 3)), repmat("a", 5, 3), ...
               sparse(5, 3), cell(5, 3), NaN(5, 3), single(ones(5, 3))};
  for k = 1:numel (templates)
    assert (isequal (Varnok (t, templates{k}, L), ref), "template of class %s", class (templates{k}));
  end
end

function row_and_column_tables ()
  L = int32 (randi (3, 35, 40));
  t = [0.25; -1; 3];
  assert (isequal (Varnok (t, ones (4), L), Varnok (t.', ones (4), L)));
  % A matrix table is read down its first column.
  assert (isequal (Varnok ([t, 9 * t], ones (4), L), Varnok (t, ones (4), L)));
end

function matches_conv2 ()
  rand ("seed", 3); randn ("seed", 3);
  for s = [40 50 3 3; 61 47 4 6; 55 80 7 2; 90 70 21 21; 33 35 1 1].'
    [M, N, h, w] = deal (s(1), s(2), s(3), s(4));
    K = 6;
    t = randn (K, 1);
    L = int32 (randi (K, M, N));
    got = Varnok (t, ones (h, w), L);
    means = conv2 (t(L), ones (h, w), "valid") / (h * w);
    want = place_window_scores (means, M, N, h, w);
    assert (size (got), [M N]);
    assert (got, want, 1e-12);
    assert (nnz (got == 0) >= nnz (want == 0));   % no stray writes
  end
end

function small_and_empty_rasters ()
  t = [1 2];
  % One row or column short of the first scored position: all zero.
  assert (Varnok (t, ones (5, 4), int32 (ones (5 + 20, 40))), zeros (25, 40));
  assert (Varnok (t, ones (5, 4), int32 (ones (40, 4 + 20))), zeros (40, 24));
  % Exactly one scored row: the means of label 2 land in row 10 + 2 + 1.
  out = Varnok (t, ones (5, 4), int32 (2 * ones (5 + 21, 40)));
  assert (find (any (out, 2)), 13);
  assert (out(13, 13:(40 - 4 - 10 + 2)), 2 * ones (1, 40 - 4 - 20));
  % Empty rasters come back empty, with their own size.
  assert (size (Varnok (t, ones (3), int32 (zeros (0, 7)))), [0 7]);
  assert (size (Varnok (t, ones (3), int32 (zeros (4, 0)))), [4 0]);
end
