# The same bits as the other front ends: the command-line tool on the same
# GeoTIFF, and the Octave plug-ins on labels 1..K under arithmetic = "plugin". Both need a build folder
# (RASTER_MAPS_TEST_BUILD), which the test command and CI give.

test_that("every map gives the command line's bits on the same GeoTIFF, under either arithmetic", {
  tool <- file.path(test_build(), "raster-maps")
  if (!file.exists(tool)) skip("no raster-maps in the build folder")
  lc <- example_raster()
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  table <- file.path(dir, "table.csv")
  write.csv(data.frame(code = names(example_table), value = example_table), table, row.names = FALSE)
  for (map in c("varnok", "marnisa", "sulmet", "ombrel", "dravix")) {
    for (policy in c("strict", "renormalise")) {
      # Both default to exact; plugin is asked for by name.
      for (arithmetic in c("exact", "plugin")) {
        out <- file.path(dir, paste0(map, policy, arithmetic, ".tif"))
        # The plug-ins' layout, which both take by name.
        args <- c(map, "-q", "--table", table, "--window", "21x15", "--edges", "margin",
                  "--nodata-policy", policy, "--threads", "2", "--exclude", "71")
        if (arithmetic == "plugin") args <- c(args, "--arithmetic", "plugin")
        if (map %in% c("marnisa", "dravix")) args <- c(args, "--seed", "7")
        expect_identical(system2(tool, c(args, terra::sources(lc), out)), 0L)
        ours <- if (arithmetic == "plugin") {
          rastermaps:::run_map(map, lc, example_table, c(21, 15), edges = "margin", seed = 7,
                               nodata_policy = policy, exclude = 71, arithmetic = "plugin")
        } else {
          rastermaps:::run_map(map, lc, example_table, c(21, 15), edges = "margin", seed = 7,
                               nodata_policy = policy, exclude = 71)
        }
        expect_same_bits(as_matrix(ours), as_matrix(terra::rast(out)))
      }
    }
  }
})

# Runs each call's plug-in in one Octave session; a random map's call
# starts away from a second's edge and returns the clock second it read.
octave_calls <- function(calls) {
  plugins <- file.path(normalizePath(test_build()), "octave")
  if (Sys.which("octave-cli") == "" || !file.exists(file.path(plugins, "Varnok.mex")))
    skip("octave-cli or the built plug-ins are missing")
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  script <- sprintf("addpath('%s');", plugins)
  for (n in seq_along(calls)) {
    call <- calls[[n]]
    base <- file.path(dir, n)
    writeBin(as.double(call$table), paste0(base, ".table"))
    writeBin(as.vector(call$labels), paste0(base, ".labels"), size = 4)
    probes <- if (is.null(call$probes)) "" else sprintf(", int32(%d)", call$probes)
    script <- c(script, sprintf(paste(
      "f = fopen('%1$s.table'); t = fread(f, Inf, 'double')'; fclose(f);",
      "f = fopen('%1$s.labels'); L = fread(f, [%2$d %3$d], 'int32=>int32'); fclose(f);",
      "for attempt = 1:5",
      "  t0 = time(); while mod(t0, 1) < 0.05 || mod(t0, 1) > 0.7, pause(0.02); t0 = time(); end",
      "  y = %4$s(t, zeros(%5$d, %6$d), L%7$s);",
      "  if floor(time()) == floor(t0), break; end",
      "end",
      "f = fopen('%1$s.out', 'w'); fwrite(f, [floor(t0); y(:)], 'double'); fclose(f);", sep = "\n"),
      base, nrow(call$labels), ncol(call$labels), call$plugin, call$window[1], call$window[2], probes))
  }
  status <- system2("octave-cli", c("--norc", "--no-history", "--quiet", "--eval", shQuote(paste(script, collapse = "\n"))),
                    env = "RASTER_MAPS_THREADS=1", timeout = 300)
  expect_identical(status, 0L)
  lapply(seq_along(calls), function(n) {
    cells <- length(calls[[n]]$labels)
    data <- readBin(file.path(dir, paste0(n, ".out")), "double", cells + 1)
    list(seed = data[1] %% 2^32, out = matrix(data[-1], nrow(calls[[n]]$labels)))
  })
}

test_that("every map gives the plug-ins' bits on labels 1..K", {
  maps <- rastermaps::map_catalogue()
  calls <- list()
  for (case in 1:2) {
    labels <- patchy_labels(70 + case, 90, 4 + case, case)
    set.seed(case)
    table <- runif(4 + case, -0.2, 1.2)
    for (k in seq_len(nrow(maps))) {
      calls[[length(calls) + 1]] <- list(map = maps$name[k], plugin = maps$title[k], labels = labels,
                                         table = table, window = c(21, 14 + case),
                                         probes = if (maps$takes_probes[k] && case == 2) 3L)
    }
  }
  results <- octave_calls(calls)
  for (n in seq_along(calls)) {
    call <- calls[[n]]
    ours <- rastermaps:::run_map(call$map, call$labels, call$table, call$window, edges = "margin",
                                 seed = results[[n]]$seed, arithmetic = "plugin",
                                 probes_per_cell = if (is.null(call$probes)) 12L else call$probes)
    attr(ours, "seed") <- NULL
    expect_identical(ours, results[[n]]$out, label = call$map)
  }
})
