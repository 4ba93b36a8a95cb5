function test_marnisa ()
  % Tests of the Marnisa plug-in inside Octave; fails if any check fails.
  run_checks ("Marnisa", {@shared_arguments, @bad_input, @same_second_same_map, ...
              @all_selected_equals_varnok, @none_selected_is_zero, ...
              @one_by_one_window_shows_kept_cells, @mean_matches_selection_chance, ...
              @small_and_empty_rasters});
end

function shared_arguments ()
  check_shared_arguments ("Marnisa", 3, "The number of input arguments must be three.");
end

function bad_input ()
  L = int32 (ones (30));
  bad = L; bad(30, 29) = 3;
  expect_error (@() Marnisa ([1 2], 1, bad), "Marnisa:labelOutOfRange", ...
                "Label 3 at row 30, column 29");
  % +Inf would always be selected and spread; NaN and -Inf never are.
  expect_error (@() Marnisa ([0.5 Inf], 1, L), "Marnisa:badTable", "Inf for class 2 (label 2)");
  assert (Marnisa ([NaN -Inf], ones (3), int32 (randi (2, 40))), zeros (40));
end

function same_second_same_map ()
  L = int32 (randi (4, 120, 150));
  t = [0.2 0.5 0.9 0.05];
  [a, b] = same_second_calls (@() Marnisa (t, ones (7, 5), L));
  assert (isequal (a, b));
  assert (any (a(:) != 0));
end

function all_selected_equals_varnok ()
  L = int32 (randi (3, 60, 70));
  assert (isequal (Marnisa ([2 2 2], ones (9, 4), L), Varnok ([2 2 2], ones (9, 4), L)));
  % Classes that can never be selected count as 0.
  t = [5 -1 0.00003];
  assert (isequal (Marnisa (t, ones (9, 4), L), Varnok ([5 0 0], ones (9, 4), L)));
end

function none_selected_is_zero ()
  L = int32 (randi (3, 60, 70));
  assert (Marnisa ([0 -3 NaN], ones (5), L), zeros (60, 70));
end

% With a 1 x 1 window each scored cell shows its own cell: either the class
% value (kept) or 0.
function one_by_one_window_shows_kept_cells ()
  M = 80; N = 90;
  t = [0.25 0.5 0.75];
  L = int32 (randi (3, M, N));
  out = Marnisa (t, 1, L);
  inner = out(11:M-11, 11:N-11);
  values = t(L(11:M-11, 11:N-11));
  assert (all (inner(:) == 0 | inner(:) == values(:)));
  assert (any (inner(:) == 0) && any (inner(:) != 0));
  outside = out; outside(11:M-11, 11:N-11) = 0;
  assert (! any (outside(:)));
end

% A cell of class value p contributes p with chance floor(32767 p) / 32768,
% so the mean of many 1 x 1 windows lies within a few standard errors of p
% times that chance.
function mean_matches_selection_chance ()
  M = 500; N = 520;
  for p = [0.5 0.1 0.9]
    out = Marnisa (p, 1, int32 (ones (M, N)));
    cells = out(11:M-11, 11:N-11);
    s = floor (32767 * p) / 32768;
    se = p * sqrt (s * (1 - s) / numel (cells));
    assert (abs (mean (cells(:)) - p * s) < 4 * se, ...
            "p = %g: mean %.5f, expected %.5f +- %.5f", p, mean (cells(:)), p * s, se);
  end
end

function small_and_empty_rasters ()
  assert (Marnisa ([1 2], ones (5, 4), int32 (ones (25, 40))), zeros (25, 40));
  assert (size (Marnisa ([1 2], ones (3), int32 (zeros (0, 7)))), [0 7]);
end
