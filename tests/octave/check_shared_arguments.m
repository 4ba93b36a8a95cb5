function check_shared_arguments (name, most_args, count_message)
  % CHECK_SHARED_ARGUMENTS  The argument checks every plug-in shares: the
  % argument count, the classes of the class table and the label raster, and
  % an empty window template, each by its identifier.
  f = str2func (name);
  L = int32 (ones (30));
  id = @(kind) [name ":" kind];
  expect_error (@() f (), id ("argCount"), count_message);
  expect_error (@() f (1, 1), id ("argCount"), count_message);
  extra = {L, int32(12), 5};
  expect_error (@() f (1, 1, extra{1:most_args - 1}), id ("argCount"), count_message);
  for table = {single(1), 1 + 2i, sparse(1), {1}, int32(1)}
    expect_error (@() f (table{1}, 1, L), id ("badTable"));
  end
  for labels = {double(L), int16(L), uint32(L), complex(L, L), int32(ones (30, 30, 2))}
    expect_error (@() f (1, 1, labels{1}), id ("badLabels"));
  end
  expect_error (@() f (1, zeros (0, 5), L), id ("emptyWindow"));
  expect_error (@() f (1, zeros (5, 0), L), id ("emptyWindow"));
end
