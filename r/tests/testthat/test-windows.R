# Windows as users draw them (circles, annuli, sizes in metres) and the
# edge rules: against the command line and direct sums over a footprint.

test_that("circles under the default edges give the command line's bits and metadata", {
  tool <- file.path(test_build(), "raster-maps")
  if (!file.exists(tool)) skip("no raster-maps in the build folder")
  lc <- example_raster()
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  table <- file.path(dir, "table.csv")
  write.csv(data.frame(code = names(example_table), value = example_table), table, row.names = FALSE)
  windows <- list(`circle:6` = circle(6), `annulus:45m,200m` = annulus("45m", "200m"))
  for (map in c("varnok", "marnisa", "sulmet", "ombrel", "dravix")) {
    for (text in names(windows)) {
      if (map != "varnok" && text != "circle:6") next
      cli <- file.path(dir, paste0(map, "-cli.tif"))
      ours <- file.path(dir, paste0(map, "-r.tif"))
      args <- c(map, "-q", "--table", table, "--window", text, "--threads", "2", "--exclude", "71",
                "--nodata-policy", "renormalise")
      if (map %in% c("marnisa", "dravix")) args <- c(args, "--seed", "7")
      expect_identical(system2(tool, c(args, terra::sources(lc), cli)), 0L)
      got <- rastermaps:::run_map(map, lc, example_table, windows[[text]], seed = 7, exclude = 71,
                                  nodata_policy = "renormalise", filename = ours, threads = 2)
      expect_gt(sum(!is.na(as_matrix(got))), 0)
      expect_same_bits(as_matrix(got), as_matrix(terra::rast(cli)))
      items <- "^ *RASTER_MAPS_(WINDOW|FOOTPRINT|FOOTPRINT_CELLS|EDGES)="
      expect_identical(sort(grep(items, terra::describe(ours), value = TRUE)),
                       sort(grep(items, terra::describe(cli), value = TRUE)), label = map)
      unlink(c(cli, ours, paste0(c(cli, ours), ".aux.xml")))
    }
  }
})

test_that("sizes in metres follow a non-square pixel: rows by its height, columns by its width", {
  codes <- matrix(c(10L, 20L, 30L)[patchy_labels(30, 40, 3, 2, patch = 2)], 30)
  table <- c(`10` = 0.25, `20` = 1, `30` = -0.5)
  # Cells 20 m high and 10 m wide, in UTM.
  r <- terra::rast(codes, extent = terra::ext(500000, 500400, 0, 600), crs = "EPSG:32633")
  expect_identical(terra::res(r), c(10, 20))
  values <- matrix(table[as.character(codes)], nrow(codes))
  # 100 m by 60 m: 5 rows by 6 columns.
  expect_same_bits(as_matrix(varnok(r, table, c("100m", "60m"))), as_matrix(varnok(r, table, c(5, 6))))
  # 55 m: 2 rows either side of the centre, 5 columns.
  offsets <- footprint_offsets(55, ry = 20, rx = 10)
  expect_identical(range(offsets$di), c(-2L, 2L))
  expect_identical(range(offsets$dj), c(-5L, 5L))
  expected <- direct_footprint(values, offsets, function(v, n) mean(v))
  got <- as_matrix(varnok(r, table, circle("55m")))
  expect_identical(is.na(got), is.na(expected))
  expect_lt(max(abs(got - expected), na.rm = TRUE), 1e-12)
  ring <- footprint_offsets(60, ry = 20, rx = 10, R0 = 25)
  expected <- direct_footprint(values, ring, function(v, n) mean(v))
  got <- as_matrix(varnok(r, table, annulus("25m", "60m")))
  expect_identical(is.na(got), is.na(expected))
  expect_lt(max(abs(got - expected), na.rm = TRUE), 1e-12)
})

test_that("sizes in metres need a projected raster", {
  codes <- matrix(1, 30, 30)
  lonlat <- terra::rast(codes, extent = terra::ext(10, 11, 45, 46), crs = "EPSG:4326")
  expect_error(varnok(lonlat, c(`1` = 1), circle("300m")),
               "the window circle:300m is in metres, but x is in longitude/latitude (degrees); give the window in cells (window = 21, circle(10)) or project x first (terra::project)",
               fixed = TRUE)
  expect_error(varnok(lonlat, c(`1` = 1), circle(3)), NA)
  nocrs <- terra::rast(codes, extent = terra::ext(0, 30, 0, 30), crs = "")
  expect_error(varnok(nocrs, c(`1` = 1), "90m"), "the window 90m is in metres, but x has no CRS",
               fixed = TRUE)
  expect_error(varnok(matrix(1L, 30, 30), 1, annulus("10m", "20m")),
               "the window annulus:10m,20m is in metres, but a matrix x has no pixel size", fixed = TRUE)
})

test_that("partial edges score every cell but those min_valid refuses", {
  codes <- matrix(c(10L, 20L, 30L)[patchy_labels(24, 31, 3, 6, patch = 3)], 24)
  codes[sample.int(length(codes), 40)] <- NA
  codes[1:3, 1:4] <- NA # a corner whose clipped windows are mostly nodata
  table <- c(`10` = 0.25, `20` = 1, `30` = -0.5)
  values <- matrix(table[as.character(codes)], nrow(codes))
  r <- code_raster(codes)
  offsets <- footprint_offsets(3)
  for (min_valid in c(0, 0.5)) {
    expected <- direct_footprint(values, offsets, edges = "partial", function(v, n) {
      if (sum(!is.na(v)) < max(1, ceiling(min_valid * n))) NA else mean(v, na.rm = TRUE)
    })
    got <- as_matrix(varnok(r, table, circle(3), edges = "partial", nodata_policy = "renormalise",
                            min_valid = min_valid))
    expect_identical(is.na(got), is.na(expected))
    expect_lt(max(abs(got - expected), na.rm = TRUE), 1e-12)
  }
  expect_true(is.na(got[1, 1]))
  # Without nodata, every cell; a rectangle on labels the same way.
  full <- varnok(matrix(c(1L, 2L), 9, 12), c(0.5, 1), c(5, 4), edges = "partial", min_valid = 0)
  expect_false(anyNA(full) || any(full == 0))
  expect_error(varnok(r, table, 5, edges = "partial", arithmetic = "plugin"),
               "partial edges need exact arithmetic")
})

test_that("streamed to a file in thin strips, a circle gives the in-memory bits", {
  lc <- example_raster()
  old <- terra::terraOptions(print = FALSE)
  on.exit(terra::terraOptions(todisk = old$todisk))
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE), add = TRUE)
  for (map in c("varnok", "marnisa", "sulmet", "ombrel", "dravix")) {
    memory <- rastermaps:::run_map(map, lc, example_table, annulus(2, 7), seed = 3, exclude = 71,
                                   nodata_policy = "renormalise", edges = "partial")
    terra::terraOptions(todisk = TRUE)
    blocks <- rastermaps:::run_map(map, lc, example_table, annulus(2, 7), seed = 3, exclude = 71,
                                   nodata_policy = "renormalise", edges = "partial", strip_rows = 3,
                                   threads = 2, filename = file.path(dir, paste0(map, ".tif")))
    terra::terraOptions(todisk = FALSE)
    expect_same_bits(as_matrix(blocks), as_matrix(memory))
    memory <- rastermaps:::run_map(map, lc, example_table, circle(5), seed = 3)
    blocks <- rastermaps:::run_map(map, lc, example_table, circle(5), seed = 3, strip_rows = 2,
                                   filename = file.path(dir, paste0(map, "-circle.tif")))
    expect_same_bits(as_matrix(blocks), as_matrix(memory))
  }
})

test_that("windows print as what they are, and bad ones are refused by name", {
  expect_output(print(circle(10)), "circle of radius 10 cells")
  expect_output(print(annulus("150m", "300m")), "annulus from 150 to 300 m")
  lc <- example_raster()
  expect_error(circle("300 metres"), "a circle's radius must be one number of cells or one size in metres")
  expect_error(annulus(5, "300m"), "an annulus's radii take the same unit")
  expect_error(varnok(lc, example_table, circle(-1)), "window: a circle's radius must be finite and 0 or more; it is -1",
               fixed = TRUE)
  expect_error(varnok(lc, example_table, annulus(10, 5)), "inner < outer")
  expect_error(varnok(lc, example_table, circle(3), arithmetic = "plugin"),
               "circles and annuli need exact arithmetic")
  expect_error(varnok(lc, example_table, circle(70)),
               "the window circle:70 (141x141 cells) is larger than x (120x160 cells)", fixed = TRUE)
  expect_error(varnok(lc, example_table, c("0m", "30m")), "window sides in metres must be more than 0")
  expect_error(varnok(lc, example_table, "21"), "window must be")
})
