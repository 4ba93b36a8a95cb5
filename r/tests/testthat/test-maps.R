# The maps' values: against terra::focal and direct per-window sums, and the
# same bits whichever way a raster is read and written.

test_that("varnok is terra::focal's mean of the reclassified raster where both score", {
  lc <- example_raster()
  h <- 21
  w <- 15
  q <- varnok(lc, example_table, c(h, w))
  values <- terra::classify(lc, cbind(as.numeric(names(example_table)), example_table))
  mean <- terra::focal(values, w = matrix(1, h, w), fun = "mean")
  both <- !is.na(as_matrix(q)) & !is.na(as_matrix(mean))
  expect_gt(sum(both), 5000)
  expect_lt(max(abs(as_matrix(q)[both] - as_matrix(mean)[both])), 1e-9)
  # Cells whose window holds the raster's nodata (0) are NA under the strict policy.
  expect_identical(as.vector(terra::ext(q)), as.vector(terra::ext(lc)))
  expect_identical(terra::crs(q), terra::crs(lc))
  expect_identical(names(q), "varnok")
})

test_that("the nodata policies score windows as direct sums over their valid cells", {
  codes <- matrix(c(10L, 20L, 30L)[patchy_labels(45, 52, 3, 5, patch = 3)], 45)
  codes[sample.int(length(codes), 25)] <- NA
  codes[30:34, 20:27] <- NA
  codes[12, ] <- 40L # an excluded code
  r <- code_raster(codes)
  table <- c(`10` = 0.25, `20` = 1, `30` = -0.5)
  values <- matrix(table[as.character(codes)], nrow(codes))
  values[codes == 40L] <- NA
  h <- 5
  w <- 7
  strict <- direct_windows(values, h, w, function(v) if (anyNA(v)) NA else mean(v))
  got <- as_matrix(varnok(r, table, c(h, w), edges = "margin", exclude = 40))
  expect_identical(is.na(got), is.na(strict))
  expect_lt(max(abs(got - strict), na.rm = TRUE), 1e-12)
  least <- ceiling(0.6 * h * w)
  renormalised <- direct_windows(values, h, w, function(v) {
    if (sum(!is.na(v)) < least) NA else mean(v, na.rm = TRUE)
  })
  got <- as_matrix(varnok(r, table, c(h, w), edges = "margin", exclude = 40,
                          nodata_policy = "renormalise", min_valid = 0.6))
  expect_identical(is.na(got), is.na(renormalised))
  expect_gt(sum(!is.na(got)), sum(!is.na(strict)))
  expect_lt(max(abs(got - renormalised), na.rm = TRUE), 1e-12)
  # Sulmet over the valid cells' class shares.
  target <- c(0.5, 0.3, 0.2)
  shares <- direct_windows(codes, h, w, function(v) {
    v <- v[!is.na(v) & v != 40L]
    if (length(v) < least) return(NA)
    q <- tabulate(match(v, c(10L, 20L, 30L)), 3) / length(v)
    1 - 0.5 * sum((q - target)^2)
  })
  got <- as_matrix(sulmet(r, setNames(target, names(table)), c(h, w), edges = "margin", exclude = 40,
                          nodata_policy = "renormalise", min_valid = 0.6))
  expect_identical(is.na(got), is.na(shares))
  expect_lt(max(abs(got - shares), na.rm = TRUE), 1e-12)
})

test_that("streamed in thin strips through terra's temporary files, every map gives the in-memory bits", {
  lc <- example_raster()
  labels <- matrix(match(as_matrix(lc), as.numeric(names(example_table))), nrow(lc))
  old <- terra::terraOptions(print = FALSE)
  on.exit(terra::terraOptions(todisk = old$todisk))
  for (map in c("varnok", "marnisa", "sulmet", "ombrel", "dravix")) {
    memory <- rastermaps:::run_map(map, lc, example_table, c(21, 17), seed = 3)
    terra::terraOptions(todisk = TRUE)
    blocks <- rastermaps:::run_map(map, lc, example_table, c(21, 17), seed = 3, strip_rows = 3,
                                   threads = 2)
    terra::terraOptions(todisk = FALSE)
    expect_true(terra::sources(blocks) != "", label = map)
    expect_same_bits(as_matrix(blocks), as_matrix(memory))
    # The plug-ins' path on the same labels (NA is the raster's nodata 0).
    plugin <- rastermaps:::run_map(map, labels, unname(example_table), c(21, 17), seed = 3)
    scored <- !is.na(as_matrix(memory))
    expect_identical(plugin[scored], as_matrix(memory)[scored])
  }
})

test_that("exact arithmetic by default: a window of one class gives exactly its value", {
  labels <- matrix(1L, 30, 30)
  exact <- varnok(labels, c(0.2, 0.9), 3, edges = "margin")
  scored <- exact != 0
  expect_equal(sum(scored), (30 - 3 - 20)^2)
  expect_true(all(exact[scored] == 0.2))
  expect_false(all(varnok(labels, c(0.2, 0.9), 3, edges = "margin", arithmetic = "plugin")[scored] == 0.2))
  # The same on a raster of codes streamed in strips, and recorded in the file.
  lc <- code_raster(matrix(11, 60, 50))
  out <- tempfile(fileext = ".tif")
  on.exit(unlink(c(out, paste0(out, ".aux.xml"))))
  q <- varnok(lc, c(`11` = 0.2, `23` = 0.9), 3, filename = out, threads = 2)
  expect_true(all(as_matrix(q)[!is.na(as_matrix(q))] == 0.2))
  expect_true(any(grepl("RASTER_MAPS_ARITHMETIC=exact", terra::describe(out), fixed = TRUE)))
  expect_error(varnok(labels, c(0.2, 0.9), 3, arithmetic = "fast"),
               "arithmetic must be \"exact\" or \"plugin\"; it is a character (fast)", fixed = TRUE)
  expect_error(marnisa(lc, c(`11` = 0.2), 3, arithmetic = NA), "arithmetic must be", fixed = TRUE)
})

test_that("the random maps repeat with their seed, returned with the result and in the file", {
  lc <- example_raster()
  a <- marnisa(lc, example_table, 21)
  expect_true(attr(a, "seed") >= 0)
  b <- marnisa(lc, example_table, 21, seed = attr(a, "seed"))
  expect_same_bits(as_matrix(a), as_matrix(b))
  expect_null(attr(varnok(lc, example_table, 21), "seed"))
  out <- tempfile(fileext = ".tif")
  p <- dravix(lc, example_table, 21, probes_per_cell = 5, seed = 4294967295, filename = out)
  expect_identical(attr(p, "seed"), 4294967295)
  info <- terra::describe(out)
  expect_true(any(grepl("RASTER_MAPS_SEED=4294967295", info, fixed = TRUE)))
  expect_true(any(grepl("RASTER_MAPS_PROBES_PER_CELL=5", info, fixed = TRUE)))
  expect_true(any(grepl("RASTER_MAPS_TABLE=11:0.1 23:1 41:0.6 71:0.3 82:0", info, fixed = TRUE)))
  expect_same_bits(as_matrix(terra::rast(out)),
                   as_matrix(dravix(lc, example_table, 21, probes_per_cell = 5, seed = 4294967295)))
  unlink(c(out, paste0(out, ".aux.xml")))
})

test_that("a file is written whole or not at all, and replaced only with overwrite", {
  lc <- example_raster()
  dir <- tempfile()
  dir.create(dir)
  out <- file.path(dir, "q.tif")
  varnok(lc, example_table, 21, filename = out)
  expect_error(varnok(lc, example_table, 21, filename = out), "exists; use overwrite=TRUE")
  before <- unname(tools::md5sum(out))
  # A run that fails half way (a code missing from row 61 on) leaves the old file alone.
  codes <- as_matrix(lc)
  codes[61, 5] <- 99
  bad <- terra::rast(lc)
  terra::values(bad) <- as.vector(t(codes))
  expect_error(varnok(bad, example_table, 21, filename = out, overwrite = TRUE),
               "code 99 at row 61, column 5 of x is neither in table nor nodata")
  expect_identical(unname(tools::md5sum(out)), before)
  expect_identical(sort(list.files(dir, all.files = TRUE, no.. = TRUE)), c("q.tif", "q.tif.aux.xml"))
  varnok(lc, example_table, 15, filename = out, overwrite = TRUE)
  expect_match(terra::describe(out), "RASTER_MAPS_WINDOW=15x15", fixed = TRUE, all = FALSE)
  input <- file.path(dir, "lc.tif")
  file.copy(terra::sources(lc), input)
  expect_error(varnok(terra::rast(input), example_table, 21, filename = input, overwrite = TRUE),
               "is the file of x")
  expect_error(varnok(lc, example_table, 21, filename = dir), "is a folder")
  unlink(dir, recursive = TRUE)
})

test_that("nodata is counted only when x may hold NA, and NA met without it starts the map again", {
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  codes <- matrix(c(10L, 20L, 30L)[patchy_labels(60, 70, 3, 9, patch = 3)], 60)
  table <- c(`10` = 0.25, `20` = 1, `30` = -0.5)
  with_nodata <- file.path(dir, "nodata.tif")
  terra::writeRaster(code_raster(codes), with_nodata, datatype = "INT1U", NAflag = 255)
  # terra always writes a nodata value; GDAL's own tool can leave it out.
  if (Sys.which("gdal_translate") != "") {
    plain <- file.path(dir, "plain.tif")
    expect_identical(system2("gdal_translate", c("-q", "-a_nodata", "none", with_nodata, plain)), 0L)
    expect_false(rastermaps:::may_hold_na(terra::rast(plain)))
  }
  expect_true(rastermaps:::may_hold_na(terra::rast(with_nodata)))
  expect_true(rastermaps:::may_hold_na(code_raster(codes))) # in memory
  expect_true(rastermaps:::may_hold_na(terra::rast(plain) * 1)) # doubles, in memory

  # NA that x was not expected to hold (here in the last strip): the map
  # starts again counting nodata, and gives the bits of a run that counted
  # from the start.
  codes[58, 3] <- NA
  holey <- code_raster(codes)
  expected <- lapply(c("varnok", "marnisa", "sulmet", "ombrel", "dravix"), function(map)
    as_matrix(rastermaps:::run_map(map, holey, table, c(5, 7), seed = 4, strip_rows = 8)))
  guess <- get("may_hold_na", asNamespace("rastermaps"))
  utils::assignInNamespace("may_hold_na", function(x) FALSE, "rastermaps")
  on.exit(utils::assignInNamespace("may_hold_na", guess, "rastermaps"), add = TRUE)
  for (map in c("varnok", "marnisa", "sulmet", "ombrel", "dravix")) {
    got <- rastermaps:::run_map(map, holey, table, c(5, 7), seed = 4, strip_rows = 8,
                                filename = file.path(dir, paste0(map, ".tif")))
    expect_same_bits(as_matrix(got), expected[[match(map, c("varnok", "marnisa", "sulmet", "ombrel", "dravix"))]])
  }
  expect_true(is.na(as_matrix(got)[56, 4]))
})

test_that("GDAL's block cache is capped for a run only, and a smaller setting stays", {
  old <- terra::gdalCache()
  on.exit(terra::gdalCache(old))
  terra::gdalCache(4000)
  restore <- rastermaps:::cap_gdal_cache(1000)
  expect_equal(terra::gdalCache(), 256)
  restore()
  expect_equal(terra::gdalCache(), 4000)
  # Wider rasters keep two rows of 512-row tiles of doubles.
  restore <- rastermaps:::cap_gdal_cache(50000)
  expect_equal(terra::gdalCache(), 391)
  restore()
  terra::gdalCache(100)
  rastermaps:::cap_gdal_cache(1000)()
  expect_equal(terra::gdalCache(), 100)
  # A run that fails still puts the setting back.
  terra::gdalCache(4000)
  expect_error(varnok(example_raster(), c(`11` = 1), 21), "neither in table nor nodata")
  expect_equal(terra::gdalCache(), 4000)
})
