# Bad input: an R error with one sentence saying what and where, never a crash.

test_that("the functions are the core's catalogue, with the options each map takes", {
  maps <- rastermaps::map_catalogue()
  expect_identical(maps$name, c("varnok", "marnisa", "sulmet", "ombrel", "dravix"))
  for (k in seq_len(nrow(maps))) {
    options <- names(formals(getExportedValue("rastermaps", maps$name[k])))
    expect_identical("seed" %in% options, maps$random[k], label = maps$name[k])
    expect_identical("probes_per_cell" %in% options, maps$takes_probes[k], label = maps$name[k])
    expect_true(all(c("x", "table", "window", "nodata_policy", "min_valid", "exclude", "threads",
                      "arithmetic", "layer", "filename", "overwrite", "wopt") %in% options))
    expect_identical(formals(getExportedValue("rastermaps", maps$name[k]))$arithmetic, "exact")
  }
})

test_that("tables: codes the raster lacks are fine, codes the table lacks are named with their cell", {
  lc <- example_raster()
  expect_error(varnok(lc, example_table[-2], 21),
               "code 23 at row 1, column 18 of x is neither in table nor nodata (add it to table, or mark it nodata: exclude = 23)", fixed = TRUE)
  extra <- c(example_table, `5` = 1)
  expect_silent(varnok(lc, extra, 21))
  frame <- data.frame(code = c(82, 11, 71, 41, 23), value = rev(example_table))
  expect_same_bits(as_matrix(varnok(lc, frame, 21)),
                   as_matrix(varnok(lc, setNames(rev(example_table), frame$code), 21)))
  # Excluded codes are nodata, and need no table value.
  expect_silent(varnok(lc, example_table[-2], 21, exclude = 23))
  expect_error(varnok(lc, c(example_table, `11` = 2), 21), "table gives code 11 twice")
  expect_error(varnok(lc, c(example_table, `1.5` = 2), 21), "'1.5' is not a whole number")
  expect_error(varnok(lc, c(example_table[-1], `11` = NaN), 21),
               "table holds NaN for class 1, which Varnok cannot compute with", fixed = TRUE)
  expect_error(varnok(lc, list(a = 1), 21), "named numeric vector")
  expect_error(varnok(lc, unname(example_table), 21), "named numeric vector")
  expect_error(varnok(lc, data.frame(code = 11, v = 1), 21), "columns code and value")
  expect_error(varnok(lc, data.frame(code = 11.5, value = 1), 21), "11.5 is not a whole number")
  expect_error(varnok(lc, example_table, 21, exclude = "x"), "'x' is not a whole number")
})

test_that("rasters of anything but whole codes are refused at their cell", {
  m <- matrix(c(11, 23), 30, 40)
  m[7, 9] <- 23.5
  expect_error(varnok(code_raster(m), c(`11` = 1, `23` = 2), 3),
               "x holds 23.5 at row 7, column 9, which is no class code", fixed = TRUE)
  expect_error(varnok(matrix(1.5, 30, 30), 1, 3), "integer labels")
  expect_error(varnok(matrix(1L, 30, 30), "a", 3), "numeric vector, one value per label")
})

test_that("labels outside 1..K and NA in a matrix of labels", {
  m <- matrix(1L, 40, 40)
  m[3, 4] <- 3L
  expect_error(varnok(m, c(0.5, 1), 5),
               "label 3 at row 3, column 4 of x is outside 1..2, the classes of table", fixed = TRUE)
  m[3, 4] <- NA # under no window
  m[15, 16] <- NA
  out <- varnok(m, c(0.5, 1), 5, edges = "margin")
  expect_true(is.nan(out[15, 16]) && out[27, 27] == 0.5 && out[28, 28] == 0)
  # With NA about, label K + 1 is still outside 1..K (and not nodata).
  m[20, 21] <- 3L
  expect_error(varnok(m, c(0.5, 1), 5), "label 3 at row 20, column 21", fixed = TRUE)
})

test_that("wrong option types and ranges name the option", {
  lc <- example_raster()
  t <- example_table
  expect_error(varnok(lc, t, "21"), "window must be one or two whole numbers")
  expect_error(varnok(lc, t, 21, edges = "clip"), "edges must be \"inside\", \"margin\", \"partial\"", fixed = TRUE)
  expect_error(varnok(lc, t, 0), "window is empty")
  expect_error(varnok(lc, t, c(1, 2, 3)), "window must be")
  expect_error(varnok(lc, t, 500), "the window 500x500 is larger than x (120x160 cells)", fixed = TRUE)
  expect_error(varnok(lc, t, 21, nodata_policy = "lenient"), "nodata_policy must be")
  expect_error(varnok(lc, t, 21, min_valid = 2), "min_valid must be a fraction 0..1")
  expect_error(varnok(lc, t, 21, threads = 1.5), "threads must be one whole number")
  expect_error(varnok(lc, t, 21, threads = 0), "threads must lie in 1..")
  expect_error(marnisa(lc, t, 21, seed = -1), "seed must lie in 0..4294967295")
  expect_error(marnisa(lc, t, 21, seed = 2^32), "seed must lie in 0..4294967295")
  expect_error(dravix(lc, t, 21, probes_per_cell = -1), "probes_per_cell must lie in 0..")
  expect_error(varnok(lc, t, 21, layer = 2), "layer must lie in 1..1")
  expect_error(varnok(lc, t, 21, layer = "b"), "no layer named 'b'")
  expect_error(varnok(lc, t, 21, overwrite = NA), "overwrite must be TRUE or FALSE")
  expect_error(varnok(lc, t, 21, filename = 3), "filename must be one file name")
  expect_error(varnok(lc, t, 21, wopt = "x"), "wopt must be a list")
  expect_error(varnok(data.frame(a = 1), t, 21), "x must be a SpatRaster")
  expect_error(varnok(matrix(1L, 40, 40), 1, 5, filename = "a.tif"), "filename applies to SpatRaster")
  expect_error(sulmet(matrix(1L, 40, 40), 1, c(60000, 60000)), NA) # larger than the raster: all 0
  expect_error(sulmet(matrix(1L, 80000, 1), 1, c(70000, 1)), NA)
})
