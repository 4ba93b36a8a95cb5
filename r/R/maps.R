# The five maps, one function each. They differ only in the options their
# map takes (the random maps a seed, dravix its probes), which the tests
# check against the core's catalogue; everything else is run_map's.

varnok <- function(x, table, window, edges = "inside", nodata_policy = "strict", min_valid = 0.5,
                   exclude = NULL, threads = NULL, arithmetic = "exact", layer = 1L,
                   filename = "", overwrite = FALSE, wopt = list()) {
  run_map("varnok", x, table, window, edges = edges, nodata_policy = nodata_policy,
          min_valid = min_valid, exclude = exclude, threads = threads, arithmetic = arithmetic,
          layer = layer, filename = filename, overwrite = overwrite, wopt = wopt)
}

marnisa <- function(x, table, window, edges = "inside", seed = NULL, nodata_policy = "strict",
                    min_valid = 0.5, exclude = NULL, threads = NULL, arithmetic = "exact",
                    layer = 1L, filename = "", overwrite = FALSE, wopt = list()) {
  run_map("marnisa", x, table, window, edges = edges, seed = seed, nodata_policy = nodata_policy,
          min_valid = min_valid, exclude = exclude, threads = threads, arithmetic = arithmetic,
          layer = layer, filename = filename, overwrite = overwrite, wopt = wopt)
}

sulmet <- function(x, table, window, edges = "inside", nodata_policy = "strict", min_valid = 0.5,
                   exclude = NULL, threads = NULL, arithmetic = "exact", layer = 1L,
                   filename = "", overwrite = FALSE, wopt = list()) {
  run_map("sulmet", x, table, window, edges = edges, nodata_policy = nodata_policy,
          min_valid = min_valid, exclude = exclude, threads = threads, arithmetic = arithmetic,
          layer = layer, filename = filename, overwrite = overwrite, wopt = wopt)
}

ombrel <- function(x, table, window, edges = "inside", nodata_policy = "strict", min_valid = 0.5,
                   exclude = NULL, threads = NULL, arithmetic = "exact", layer = 1L,
                   filename = "", overwrite = FALSE, wopt = list()) {
  run_map("ombrel", x, table, window, edges = edges, nodata_policy = nodata_policy,
          min_valid = min_valid, exclude = exclude, threads = threads, arithmetic = arithmetic,
          layer = layer, filename = filename, overwrite = overwrite, wopt = wopt)
}

dravix <- function(x, table, window, edges = "inside", probes_per_cell = 12L, seed = NULL,
                   nodata_policy = "strict", min_valid = 0.5, exclude = NULL, threads = NULL,
                   arithmetic = "exact", layer = 1L, filename = "", overwrite = FALSE,
                   wopt = list()) {
  run_map("dravix", x, table, window, edges = edges, seed = seed, probes_per_cell = probes_per_cell,
          nodata_policy = nodata_policy, min_valid = min_valid, exclude = exclude,
          threads = threads, arithmetic = arithmetic, layer = layer, filename = filename,
          overwrite = overwrite, wopt = wopt)
}

# The maps the core offers: name, title, summary, what a table value means,
# whether the map is random and whether it takes probes_per_cell.
map_catalogue <- function() .catalogue()
