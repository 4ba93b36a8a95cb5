function landcover_example (outdir)
  % LANDCOVER_EXAMPLE  Runs every built plug-in on a synthetic land-cover map.
  %
  %   landcover_example (outdir)
  %
  % Makes a 300 x 400 land-cover map of 5 classes (water, forest, grassland,
  % cropland, urban) by cutting a smoothed random field at its quintiles,
  % runs each plug-in with a 21 x 21 window, prints one line per map and
  % writes outdir/<name>.png (land cover left, the map right) and
  % outdir/all_maps.png (land cover first, then every map, row by row).
  if (nargin < 1)
    outdir = ".";
  end
  labels = synthetic_landcover (300, 400, 5);
  window = ones (21);

  % name, class table, what the map shows
  maps = {
    "Varnok",  [0.1 1.0 0.6 0.3 0.0],  "mean habitat quality";
    "Marnisa", [0.1 1.0 0.6 0.3 0.0],  "habitat quality, cells kept at random";
    "Sulmet",  [0.1 0.4 0.3 0.2 0.0],  "closeness to a target class mix";
    "Ombrel",  sqrt([0.1 0.4 0.3 0.2 0.0]), "Bhattacharyya overlap with the target mix";
    "Dravix",  [0.05 0.3 0.2 0.1 0.02], "density of thinned random points";
  };

  cover_rgb = ind2rgb (double (labels), landcover_colours ());
  tiles = {cover_rgb};
  printf ("land cover: %d x %d cells, %d classes, window %d x %d\n", ...
          rows (labels), columns (labels), 5, rows (window), columns (window));
  for k = 1:rows (maps)
    [name, table, what] = maps{k, :};
    if (exist (name) != 3)
      printf ("%-8s not built, skipped\n", name);
      continue;
    end
    tic;
    out = feval (name, table, window, labels);
    seconds = toc;
    scored = scored_cells (size (labels), size (window));
    printf ("%-8s %d x %d  %7.1f ms  values %.4f .. %.4f  (%s)\n", name, rows (out), ...
            columns (out), 1000 * seconds, min (out(scored)), max (out(scored)), what);
    map_rgb = map_to_rgb (out, scored);
    imwrite (side_by_side ({cover_rgb, map_rgb}), fullfile (outdir, [lower(name) ".png"]));
    tiles{end + 1} = map_rgb;
  end
  % The same land cover as a GDAL-readable grid of NLCD-like class codes
  % (water 11, urban 23, forest 41, grassland 71, cropland 82), for the
  % raster-maps command-line tool (scripts/run_example.sh).
  codes = [11 41 71 82 23];
  write_ascii_grid (fullfile (outdir, "landcover.asc"), codes(labels));
  overview = fullfile (outdir, "all_maps.png");
  imwrite (grid_of (tiles, 3), overview);
  printf ("figures written to %s\n", outdir);
end

function labels = synthetic_landcover (M, N, K)
  % A smoothed random field cut at its quantiles into K equally common classes.
  randn ("seed", 42);
  x = -12:12;
  g = exp (-(x .^ 2) / (2 * 5 ^ 2));
  field = conv2 (g, g, randn (M + 24, N + 24), "valid");
  edges = sort (field(:));
  edges = edges(round ((1:K-1) / K * numel (edges)));
  labels = ones (M, N, "int32");
  for k = 1:K-1
    labels(field > edges(k)) = k + 1;
  end
end

function write_ascii_grid (file, grid)
  % An ESRI ASCII grid of 30 m cells, first row north.
  f = fopen (file, "w");
  fprintf (f, "ncols %d\nnrows %d\nxllcorner 500000\nyllcorner 4000000\ncellsize 30\n", ...
           columns (grid), rows (grid));
  fprintf (f, [repmat("%d ", 1, columns (grid) - 1) "%d\n"], grid');
  fclose (f);
end

function c = landcover_colours ()
  c = [0.20 0.45 0.80; 0.10 0.45 0.15; 0.55 0.80 0.35; 0.95 0.85 0.40; 0.55 0.55 0.55];
end

function mask = scored_cells (sz, wsz)
  % Cells that receive a window score: centres of windows whose top-left
  % corner lies in rows 11..M-h-10 and columns 11..N-w-10.
  [M, N] = deal (sz(1), sz(2));
  [h, w] = deal (wsz(1), wsz(2));
  mask = false (M, N);
  mask((11:M-h-10) + floor (h / 2), (11:N-w-10) + floor (w / 2)) = true;
end

function rgb = map_to_rgb (map, scored)
  % Scored cells through a perceptual colour map; the unscored border grey.
  lo = min (map(scored));
  hi = max (map(scored));
  idx = ones (size (map));
  if (hi > lo)
    idx(scored) = 1 + round (255 * (map(scored) - lo) / (hi - lo));
  end
  rgb = ind2rgb (idx, viridis (256));
  for ch = 1:3
    plane = rgb(:, :, ch);
    plane(! scored) = 0.85;
    rgb(:, :, ch) = plane;
  end
end

function img = side_by_side (tiles)
  img = grid_of (tiles, numel (tiles));
end

function img = grid_of (tiles, per_row)
  % Lays equal-sized RGB tiles out row by row with a white gap of 8 pixels.
  gap = 8;
  [h, w, ~] = size (tiles{1});
  nrows = ceil (numel (tiles) / per_row);
  ncols = min (per_row, numel (tiles));
  img = ones (nrows * (h + gap) + gap, ncols * (w + gap) + gap, 3);
  for k = 1:numel (tiles)
    r = floor ((k - 1) / per_row);
    c = mod (k - 1, per_row);
    img(gap + r * (h + gap) + (1:h), gap + c * (w + gap) + (1:w), :) = tiles{k};
  end
end
