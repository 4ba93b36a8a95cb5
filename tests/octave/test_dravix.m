function test_dravix ()
  % Tests of the Dravix plug-in inside Octave; fails if any check fails.
  run_checks ("Dravix", {@shared_arguments, @bad_probes_per_cell, @bad_input, ...
              @labels_checked_only_where_points_lie, @same_second_same_map, ...
              @default_is_twelve_probes, @no_probes_gives_mean_of_points, ...
              @one_by_one_window_keeps_every_point, @one_label_keeps_about_one_fifth, ...
              @values_are_fractions_of_window, @non_finite_probabilities_keep_their_rules, ...
              @no_point_gives_zeros});
end

function shared_arguments ()
  check_shared_arguments ("Dravix", 4, "The number of input arguments must be three or four.");
end

function bad_probes_per_cell ()
  L = int32 (ones (30));
  id = "Dravix:badProbesPerCell";
  expect_error (@() Dravix (1, 1, L, 12), id, "int32 scalar");
  expect_error (@() Dravix (1, 1, L, int64 (12)), id);
  expect_error (@() Dravix (1, 1, L, uint32 (12)), id);
  expect_error (@() Dravix (1, 1, L, int32 ([12 12])), id);
  expect_error (@() Dravix (1, 1, L, int32 ([])), id);
  expect_error (@() Dravix (1, 1, L, complex (int32 (12), int32 (1))), id);
  expect_error (@() Dravix (1, 1, L, int32 (-1)), id, "must be 0 or more; it is -1");
end

function bad_input ()
  % A huge probesPerCell with a single point would need a probe pool of
  % about 2^51 entries.
  L = int32 (ones (1000));
  L(500, 500) = 2;
  expect_error (@() Dravix ([0 2], ones (3), L, intmax ("int32")), "Dravix:outOfMemory");
  % About 1040 points on 40 x 40 cells: a pool of 2^31 * 1600 / 1040 entries,
  % 26 GB, more than half the memory of any machine with less than 52 GB.
  mem_kb = str2double (regexp (fileread ("/proc/meminfo"), 'MemTotal:\s*(\d+)', "tokens", "once"){1});
  if (mem_kb < 40 * 2^20)
    expect_error (@() Dravix ([0.9 0.9], ones (5), int32 (randi (2, 40)), intmax ("int32")), ...
                  "Dravix:outOfMemory");
  end
end

% With a 3 x 3 window points lie in rows and columns 2 .. end-1 (1-based);
% the border is only compared with points' labels, so any value may stand
% there.
function labels_checked_only_where_points_lie ()
  L = int32 (ones (30));
  L(1, :) = 0; L(:, 30) = 99;
  out = Dravix (2, ones (3), L);
  assert (size (out), [30 30]);
  bad = int32 (ones (30)); bad(2, 2) = 0;
  expect_error (@() Dravix (2, ones (3), bad), "Dravix:labelOutOfRange", ...
                "Label 0 at row 2, column 2");
  bad = int32 (ones (30)); bad(29, 17) = 2;
  expect_error (@() Dravix (2, ones (3), bad), "Dravix:labelOutOfRange", ...
                "Label 2 at row 29, column 17");
end

function same_second_same_map ()
  L = int32 (randi (4, 120, 150));
  t = [0.2 0.5 0.9 0.05];
  [a, b] = same_second_calls (@() Dravix (t, ones (9, 7), L, int32 (5)));
  assert (isequal (a, b));
  assert (any (a(:) != 0));
end

function default_is_twelve_probes ()
  L = int32 (randi (3, 90, 100));
  t = [0.3 0.6 0.9];
  [a, b] = same_second_calls (@() Dravix (t, ones (11), L), ...
                              @() Dravix (t, ones (11), L, int32 (12)));
  assert (isequal (a, b));
end

% Without probes no point is thinned; with every class value 2 every cell of
% the sampling region holds a point, so the map is known exactly.
function no_probes_gives_mean_of_points ()
  M = 70; N = 80;
  for s = [11 11; 5 8; 4 1].'
    [h, w] = deal (s(1), s(2));
    ri = fix (0.85 * floor (h / 2));
    rj = fix (0.85 * floor (w / 2));
    region = zeros (M, N);
    region(ri + 2:M - ri - 1, rj + 2:N - rj - 1) = 1;
    want = place_window_scores (conv2 (region, ones (h, w), "valid") / (h * w), M, N, h, w);
    assert (Dravix ([2 2], ones (h, w), int32 (randi (2, M, N)), int32 (0)), want);
  end
end

function one_by_one_window_keeps_every_point ()
  M = 60; N = 50;
  out = Dravix ([2 2 2], 1, int32 (randi (3, M, N)));
  want = zeros (M, N);
  want(11:M - 11, 11:N - 11) = 1;
  assert (out, want);
end

% One label everywhere and a 5 x 5 window: every probe finds the point's
% class, e = 25, and a point survives with chance 6554 / 32768.
function one_label_keeps_about_one_fifth ()
  M = 400; N = 400;
  out = Dravix (2, ones (5), int32 (ones (M, N)));
  cells = out(13:M - 12, 13:N - 12);
  assert (abs (mean (cells(:)) - 6554 / 32768) < 0.01, "mean %.4f", mean (cells(:)));
end

function values_are_fractions_of_window ()
  L = int32 (randi (3, 100, 90));
  out = Dravix ([0.2 0.5 0.8], ones (6, 4), L, int32 (30));
  counts = out * 24;
  assert (all (abs (counts(:) - round (counts(:))) < 1e-9));
  assert (all (out(:) >= 0 & out(:) <= 1));
  assert (any (out(:) > 0));
end

% Dravix only compares class values with its sampling scale: +Inf always
% selects a cell, as 2 does, and NaN or -Inf never do.
function non_finite_probabilities_keep_their_rules ()
  M = 60; N = 50;
  L = int32 (randi (3, M, N));
  assert (Dravix ([Inf NaN -Inf], ones (5), L, int32 (0)), ...
          Dravix ([2 0 0], ones (5), L, int32 (0)));
end

function no_point_gives_zeros ()
  L = int32 (randi (3, 60, 70));
  assert (Dravix ([0 -1 NaN], ones (5), L), zeros (60, 70));
  assert (Dravix (2, ones (5), int32 (ones (25, 40))), zeros (25, 40));
  assert (size (Dravix (2, ones (3), int32 (zeros (0, 7)))), [0 7]);
end
