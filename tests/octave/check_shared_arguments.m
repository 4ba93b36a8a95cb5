function check_shared_arguments (name, most_args, count_message)
  % CHECK_SHARED_ARGUMENTS  The argument checks every plug-in shares: the
  % argument and output counts, the classes and shapes of the class table,
  % the window template and the label raster, each by its identifier.
  f = str2func (name);
  L = int32 (ones (30));
  id = @(kind) [name ":" kind];
  expect_error (@() f (), id ("argCount"), count_message);
  expect_error (@() f (1, 1), id ("argCount"), count_message);
  extra = {L, int32(12), 5};
  expect_error (@() f (1, 1, extra{1:most_args - 1}), id ("argCount"), count_message);
  expect_error (@() two_outputs (f, 1, 1, L), id ("outputCount"), "returns one output");
  for table = {single(1), 1 + 2i, sparse(1), {1}, int32(1)}
    expect_error (@() f (table{1}, 1, L), id ("badTable"));
  end
  % Tables with no element have no class, whatever their row count.
  for table = {[], zeros(3, 0), zeros(0, 3), zeros(1, 0), zeros(2, 0, 3)}
    expect_error (@() f (table{1}, 1, L), id ("badTable"), "is empty");
  end
  for labels = {double(L), int16(L), uint32(L), complex(L, L), int32(ones (30, 30, 2))}
    expect_error (@() f (1, 1, labels{1}), id ("badLabels"));
  end
  expect_error (@() f (1, zeros (0, 5), L), id ("emptyWindow"));
  expect_error (@() f (1, zeros (5, 0), L), id ("emptyWindow"));
  expect_error (@() f (1, ones (3, 3, 3), L), id ("badWindow"), "3x3x3");
  expect_error (@() f (1, ones (3, 3, 1, 2), L), id ("badWindow"));
  assert (size (f (1, ones (3, 3, 1), L)), [30 30]);   % trailing singleton: a matrix
end

function two_outputs (f, varargin)
  [a, b] = f (varargin{:});
end
