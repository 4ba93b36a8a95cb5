function [a, b] = same_second_calls (fn, gn)
  % SAME_SECOND_CALLS  Calls fn() and then gn() (fn() again when gn is not
  % given) within one clock second and returns both results; tries again
  % when the second ticks over between the calls. The calls start away from
  % a second's edge: the plug-ins read the kernel's coarse clock, which may
  % lag Octave's time () by a tick.
  if (nargin < 2)
    gn = fn;
  end
  for attempt = 1:5
    t0 = time ();
    while (mod (t0, 1) < 0.05 || mod (t0, 1) > 0.7)
      pause (0.02);
      t0 = time ();
    end
    a = fn ();
    b = gn ();
    if (floor (time ()) == floor (t0))
      return;
    end
  end
  error ("test:clock", "could not make two calls within one second");
end
