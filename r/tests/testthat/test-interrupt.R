# Ctrl-C: R's interrupt stops a long run within a second, leaving no file.

test_that("an interrupt stops a long run and leaves no partial file", {
  skip_on_os("windows")
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  out <- file.path(dir, "points.tif")
  started <- file.path(dir, "started")
  script <- file.path(dir, "child.R")
  # Dravix with a huge probes_per_cell on a small raster probes for hours.
  writeLines(c(
    "library(rastermaps)",
    "x <- terra::rast(matrix(c(10, 20), 60, 60))",
    sprintf("writeLines(as.character(Sys.getpid()), '%s')", started),
    "r <- tryCatch(dravix(x, c(`10` = 0.5, `20` = 0.9), 21, probes_per_cell = 1e8, seed = 1,",
    sprintf("                     filename = '%s', threads = 1),", out),
    "              interrupt = function(e) 'interrupted')",
    "cat(r, '\\n')"), script)
  # The child ends within 60 s whatever happens.
  child <- pipe(sprintf("timeout 60 %s %s 2>&1", shQuote(file.path(R.home("bin"), "Rscript")),
                        shQuote(script)), "r")
  for (i in 1:300) if (file.exists(started) && length(readLines(started)) == 1) break else Sys.sleep(0.1)
  Sys.sleep(2) # well inside the thinning
  sent <- Sys.time()
  tools::pskill(as.integer(readLines(started)), tools::SIGINT)
  said <- readLines(child)
  stopped <- as.numeric(Sys.time() - sent, units = "secs")
  close(child)
  expect_match(said, "^interrupted", all = FALSE)
  expect_lt(stopped, 5) # within a second, with slack for a loaded host
  expect_identical(list.files(dir, pattern = "points", all.files = TRUE), character(0))
})
