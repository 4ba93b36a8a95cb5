function cases = hostile_cases ()
  % HOSTILE_CASES  Every call of the hostile-input sweep, in a fixed order:
  % each argument of every plug-in turned into every class of value (and
  % empty, 3-D), windows of up to 2^62 rows from sparse templates, extreme
  % probe counts and wrong output counts. Each case holds the plug-in's
  % name, a description, the arguments, the number of outputs asked for and
  % what a call that does not fail must return: "map" (an M x N real,
  % finite double matrix), "zeros", or "same" (the map of the arguments in
  % .ref, for the maps without randomness).
  rand ("seed", 10);
  labels = int32 (randi (3, 40, 45));
  table = [0.3 0.6 0.9];
  window = ones (5, 4);
  probes = int32 (3);
  plugins = {"Varnok", "Marnisa", "Sulmet", "Ombrel", "Dravix"};
  cases = struct ("plugin", {}, "what", {}, "args", {}, "nout", {}, "expect", {}, "ref", {});
  for p = 1:numel (plugins)
    name = plugins{p};
    valid = {table, window, labels};
    if (strcmp (name, "Dravix"))
      valid{4} = probes;
    end
    positions = {"table", "window", "labels", "probesPerCell"};
    for a = 1:numel (valid)
      [values, kinds] = every_class (valid{a});
      for v = 1:numel (values)
        args = valid;
        args{a} = values{v};
        expect = "map";
        ref = {};
        if (a == 2 && ndims (values{v}) == 2 && ! isempty (values{v}))
          expect = "same";
          ref = valid;
          ref{2} = ones (size (values{v}));
        end
        cases(end + 1) = one (name, sprintf ("%s as %s", positions{a}, kinds{v}), args, 1, expect, ref);
      end
    end
    % Windows far larger than any raster: nothing wraps, the map is 0.
    huge = {sparse(2^62, 1), sparse(double (intmax ("int64")), 2), sparse(2^62, 2^20), ...
            sparse(3, 2^20), sparse(2^40, 3)};
    what = {"2^62 x 1", "(2^63-1) x 2", "2^62 x 2^20", "3 x 2^20", "2^40 x 3"};
    for k = 1:numel (huge)
      for tiny = {labels, int32(ones (8)), int32(ones (1, 1))}
        args = valid;
        args{2} = huge{k};
        args{3} = tiny{1};
        cases(end + 1) = one (name, sprintf ("sparse %s window on %dx%d labels", what{k}, ...
                              rows (tiny{1}), columns (tiny{1})), args, 1, "zeros", {});
      end
    end
    % 3-D labels, labels out of range, empty rasters, output counts.
    args = valid; args{3} = int32 (ones (30, 30, 2));
    cases(end + 1) = one (name, "3-D labels", args, 1, "map", {});
    args = valid; args{3} = int32 (randi ([-5 9], 40, 45));
    cases(end + 1) = one (name, "labels outside 1..K", args, 1, "map", {});
    args = valid; args{3} = int32 (zeros (0, 45));
    cases(end + 1) = one (name, "0 x 45 labels", args, 1, "map", {});
    for nout = [0 2 3]
      cases(end + 1) = one (name, sprintf ("%d outputs", nout), valid, nout, "map", {});
    end
  end
  % Probe counts at their extremes; intmax with a single point would need a
  % pool of 2^31 * 1800 entries, more than any machine's memory.
  one_point = int32 (ones (40, 45));
  one_point(20, 20) = 3;
  extremes = {int32(0), int32(1), intmin("int32"), int32(-1), int32([1 2]), int32([]), ...
              int32(ones (1, 1, 2)), intmax("int32")};
  for k = 1:numel (extremes)
    args = {[0 0 2], ones(5), one_point, extremes{k}};
    cases(end + 1) = one ("Dravix", sprintf ("probesPerCell %s", mat2str (extremes{k}(:).')), ...
                          args, 1, "map", {});
  end
end

function c = one (plugin, what, args, nout, expect, ref)
  c = struct ("plugin", plugin, "what", what, "args", {args}, "nout", nout, ...
              "expect", expect, "ref", {ref});
end

% The argument x as every class of value the host can pass.
function [values, kinds] = every_class (x)
  d = double (x);
  kinds = {"double", "single", "logical", "char", "int8", "uint8", "int16", "uint16", ...
           "int32", "uint32", "int64", "uint64", "cell", "struct", "struct array", ...
           "sparse", "complex", "function handle", "empty", "3-D"};
  values = {d, single(d), logical(d), char(d + 64), int8(d), uint8(d), int16(d), uint16(d), ...
            int32(d), uint32(d), int64(d), uint64(d), num2cell(d), struct("v", d), ...
            struct("v", num2cell (d)), sparse(d), complex(d, d), @sin, x([]), cat(3, x, x)};
end
