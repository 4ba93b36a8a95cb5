function hostile_sweep (octave_cli, plugin_dir)
  % HOSTILE_SWEEP  Calls every plug-in with hostile input (hostile_cases)
  % in child Octave processes, one per plug-in; a child that crashes or
  % hangs is run again one case per process, so that the crash is pinned on
  % its case. Then, each in a child of its own: memory growth over 1000
  % failing calls, Ctrl-C during a call that would probe for minutes, and an
  % output raster the host cannot allocate. Prints the counts and fails on
  % any crash, hang, wrong result, error without an identifier, leak,
  % ignored interrupt or wrong out-of-memory error.
  here = fileparts (mfilename ("fullpath"));
  work = tempname ();
  mkdir (work);
  cleanup = onCleanup (@() confirm_recursive_rmdir (false, "local") + rmdir (work, "s"));
  child = @(name, code, limit, varargin) run_child (octave_cli, plugin_dir, here, work, name, ...
                                                    code, limit, varargin{:});

  cases = hostile_cases ();
  results = cell (1, numel (cases));
  plugins = unique ({cases.plugin}, "stable");
  for p = 1:numel (plugins)
    todo = find (strcmp ({cases.plugin}, plugins{p}));
    while (! isempty (todo))
      [~, out] = child (plugins{p}, sprintf ("hostile_run_cases ([%s]);", num2str (todo)), 300);
      results = read_results (results, out);
      todo = todo(cellfun (@isempty, results(todo)));
      if (isempty (todo))
        break;
      end
      % The child died in (or hung on) its first unreported case: run it
      % alone to be sure, then the rest again together.
      k = todo(1);
      todo(1) = [];
      [status, out] = child (sprintf ("case%d", k), sprintf ("hostile_run_cases (%d);", k), 120);
      results = read_results (results, out);
      if (isempty (results{k}))
        results{k} = sprintf ("CRASH exit status %d", status);
      end
    end
  end

  % The tally: results by identifier, then what went wrong.
  bad = {};
  tally = struct ();
  ok = 0;
  for k = 1:numel (cases)
    r = results{k};
    if (strcmp (r, "OK"))
      ok += 1;
    elseif (strncmp (r, "ERROR ", 6) && ! strncmp (r, "ERROR (none)", 12))
      key = strrep (r(7:end), ":", "_");
      tally.(key) = getfield_or (tally, key, 0) + 1;
    else
      bad{end + 1} = sprintf ("case %d (%s, %s): %s", k, cases(k).plugin, cases(k).what, r);
    end
  end
  crashes = sum (strncmp (results, "CRASH", 5));
  printf ("hostile sweep: %d cases tried, %d correct results, %d errors with identifiers, %d crashes\n",
          numel (cases), ok, numel (cases) - ok - numel (bad), crashes);
  for key = fieldnames (tally).'
    printf ("  %-28s %d\n", strrep (key{1}, "_", ":"), tally.(key{1}));
  end

  % Memory growth over 1000 failing calls.
  [~, out] = child ("leak", "hostile_leak_check (1000);", 300);
  rss = sscanf (regexp (out, 'LEAK \d+ \d+', "match", "once"), "LEAK %d %d");
  if (numel (rss) != 2)
    bad{end + 1} = ["leak check did not finish: " out];
  else
    printf ("leak check: resident memory %d kB before and %d kB after 1000 failing calls (%+d kB)\n",
            rss(1), rss(2), rss(2) - rss(1));
    % A sanitizer runtime holds freed memory in quarantine, so resident
    % memory grows there without a leak: the growth is only reported.
    if (rss(2) - rss(1) > 16384 && isempty (getenv ("LD_PRELOAD")))
      bad{end + 1} = sprintf ("memory grew by %d kB over 1000 failing calls", rss(2) - rss(1));
    end
  end

  % Ctrl-C (SIGINT after 4 s) during a Dravix call that would probe for
  % minutes must end it at once: Octave leaves the script on an interrupt.
  code = ["L = int32 (randi (2, 40, 40)); printf ('STARTED\\n'); fflush (stdout); " ...
          "Dravix ([0.7 0.7], ones (5), L, int32 (1e8)); printf ('FINISHED\\n');"];
  [status, out] = child ("interrupt", code, 60, 4);
  if (status == 124 && ! isempty (strfind (out, "STARTED")) && isempty (strfind (out, "FINISHED")))
    printf ("interrupt: a Dravix call of 1.6e11 probes ended on Ctrl-C\n");
  else
    bad{end + 1} = sprintf ("Ctrl-C did not end a long Dravix call (exit status %d): %s", status, out);
  end

  % An output raster beyond the process's address space: a 6000 x 6000
  % raster needs 288 MB for its output; the child gets 100 MB more than it
  % uses with the labels in place. A preloaded sanitizer runtime reserves
  % terabytes of address space, so there the check cannot run.
  if (! isempty (getenv ("LD_PRELOAD")))
    printf ("output allocation: not checked, LD_PRELOAD is set\n");
    finish (bad);
    return;
  end
  make = "L = ones (6000, 6000, 'int32'); Varnok (1, 1, int32 (ones (30)));";
  [~, out] = child ("size", [make " printf ('VM %s\\n', regexp (fileread ('/proc/self/status'), 'VmSize:\\s*(\\d+)', 'tokens', 'once'){1});"], 120);
  vm = sscanf (regexp (out, 'VM \d+', "match", "once"), "VM %d");
  code = [make " for f = {@Varnok, @Marnisa, @Sulmet, @Ombrel, @Dravix}, " ...
          "try, f{1} ([0.5 1], ones (3), L); printf ('OOM none\\n'); " ...
          "catch e, printf ('OOM %s\\n', e.identifier); end, end"];
  [~, out] = child ("oom", code, 120, [], vm + 100 * 1024);
  ids = regexp (out, 'OOM (\S+)', "tokens");
  ids = cellfun (@(t) t{1}, ids, "UniformOutput", false);
  want = {"Varnok:outOfMemory", "Marnisa:outOfMemory", "Sulmet:outOfMemory", ...
          "Ombrel:outOfMemory", "Dravix:outOfMemory"};
  if (isequal (ids, want))
    printf ("output allocation: every plug-in reports outOfMemory when the host cannot allocate\n");
  else
    bad{end + 1} = sprintf ("output allocation failures gave %s: %s", strjoin (ids, ", "), out);
  end
  finish (bad);
end

function finish (bad)
  if (! isempty (bad))
    printf ("%s\n", bad{:});
    error ("hostile:failed", "%d hostile-input checks failed", numel (bad));
  end
end

% Runs code in a fresh octave-cli with the plug-ins and tests on its path;
% kills it after `limit` seconds. With `interrupt`, sends it SIGINT after
% that many seconds; with `vm_kb`, caps its address space.
function [status, out] = run_child (octave_cli, plugin_dir, here, work, name, code, limit,
                                    interrupt = [], vm_kb = [])
  script = fullfile (work, [name ".m"]);
  fid = fopen (script, "w");
  fprintf (fid, "addpath ('%s', '%s');\n%s\n", plugin_dir, here, code);
  fclose (fid);
  cmd = sprintf ("timeout -s KILL %d", limit);
  if (! isempty (interrupt))
    cmd = sprintf ("%s timeout -s INT %d", cmd, interrupt);
  end
  cmd = sprintf ("%s '%s' --norc --no-history --quiet '%s' 2>&1", cmd, octave_cli, script);
  if (! isempty (vm_kb))
    cmd = sprintf ("ulimit -v %d; %s", vm_kb, cmd);
  end
  [status, out] = system (cmd);
end

function results = read_results (results, out)
  for t = regexp (out, 'CASE (\d+) ([^\n]*)', "tokens")
    results{str2double (t{1}{1})} = t{1}{2};
  end
end

function v = getfield_or (s, key, default)
  if (isfield (s, key))
    v = s.(key);
  else
    v = default;
  end
end
