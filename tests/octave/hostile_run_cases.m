function hostile_run_cases (which)
  % HOSTILE_RUN_CASES  Runs the cases `which` of hostile_cases() in this
  % process and prints one line per case, "CASE k OK", "CASE k ERROR id" or
  % "CASE k WRONG what", flushed before the next case starts, so that a crash
  % is known to lie in the first case without a line.
  cases = hostile_cases ();
  for k = which
    c = cases(k);
    f = str2func (c.plugin);
    try
      switch (c.nout)
        case 0
          f (c.args{:});
          out = ans;
        case 1
          out = f (c.args{:});
        otherwise
          outs = cell (1, c.nout);
          [outs{:}] = f (c.args{:});
          out = outs{1};
      end
      wrong = check_result (c, f, out);
      if (isempty (wrong))
        printf ("CASE %d OK\n", k);
      else
        printf ("CASE %d WRONG %s\n", k, wrong);
      end
    catch err
      id = err.identifier;
      if (isempty (id))
        id = ["(none) " strrep(err.message, "\n", " ")];
      end
      printf ("CASE %d ERROR %s\n", k, id);
    end
    fflush (stdout);
  end
  printf ("CASES DONE\n");
end

function wrong = check_result (c, f, out)
  wrong = "";
  labels = c.args{3};
  if (! (isa (out, "double") && isreal (out) && ! issparse (out)
         && isequal (size (out), size (labels)) && all (isfinite (out(:)))))
    wrong = sprintf ("not a real finite %dx%d double map", rows (labels), columns (labels));
  elseif (strcmp (c.expect, "zeros") && any (out(:)))
    wrong = "not all zero";
  elseif (strcmp (c.expect, "same") && any (strcmp (c.plugin, {"Varnok", "Sulmet", "Ombrel"}))
          && ! isequal (out, f (c.ref{:})))
    wrong = "differs from the map of a matrix window of the same size";
  end
end
