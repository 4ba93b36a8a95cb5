function hostile_leak_check (calls)
  % HOSTILE_LEAK_CHECK  Makes `calls` failing calls of every kind, some
  % failing after the output raster exists, and prints the resident memory
  % of this process before and after them (after a warm-up), in kB:
  % "LEAK before after".
  rand ("seed", 4);
  L = int32 (randi (3, 40, 45));
  bad = L; bad(5, 5) = 9;
  one_point = int32 (ones (100)); one_point(50, 50) = 3;
  failing = {@() Varnok([0.5 NaN 1], ones (5), L), @() Sulmet([1 2 3], ones (5), bad), ...
             @() Ombrel([], 1, L), @() Marnisa([1 2 3], ones (3, 3, 3), L), ...
             @() Dravix([0 0 2], ones (5), one_point, intmax ("int32")), ...
             @() Varnok([1 2 3], ones (5), double (L)), @() two_outputs(L)};
  for k = 1:100
    run_one (failing{mod (k, numel (failing)) + 1});
  end
  before = resident_kb ();
  for k = 1:calls
    run_one (failing{mod (k, numel (failing)) + 1});
  end
  printf ("LEAK %d %d\n", before, resident_kb ());
end

function run_one (f)
  try
    f ();
  catch
    return;
  end
  error ("leak:noError", "a call meant to fail succeeded");
end

function two_outputs (L)
  [a, b] = Sulmet ([0.5 0.5 0.5], ones (3), L);
end

function kb = resident_kb ()
  status = fileread ("/proc/self/status");
  kb = str2double (regexp (status, 'VmRSS:\s*(\d+)', "tokens", "once"){1});
end
