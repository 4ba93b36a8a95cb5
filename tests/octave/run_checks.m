function run_checks (name, checks)
  % RUN_CHECKS  Runs every check function, counts those that pass and those
  % that fail, prints each failure's message, and raises an error at the end
  % when any failed, which fails the test.
  assert (exist (name) == 3, "%s.mex is not on the path", name);
  failed = 0;
  for k = 1:numel (checks)
    try
      checks{k} ();
      printf ("  ok    %s\n", func2str (checks{k}));
    catch err
      failed += 1;
      printf ("  FAIL  %s: %s\n", func2str (checks{k}), err.message);
      for s = err.stack(:).'
        printf ("          at %s line %d\n", s.name, s.line);
      end
    end
  end
  printf ("%s: %d passed, %d failed\n", name, numel (checks) - failed, failed);
  if (failed > 0)
    error ("test:failed", "%s: %d of %d checks failed", name, failed, numel (checks));
  end
end
