function run_checks (name, checks)
  % RUN_CHECKS  Runs each check function in turn; the first failing one
  % raises its error, which fails the test.
  assert (exist (name) == 3, "%s.mex is not on the path", name);
  for k = 1:numel (checks)
    checks{k} ();
    printf ("  ok  %s\n", func2str (checks{k}));
  end
  printf ("%d passed, 0 failed\n", numel (checks));
end
