# Shared inputs and references of the tests.

example_raster <- function() terra::rast(system.file("extdata", "landcover.tif", package = "rastermaps"))

example_table <- c(`11` = 0.1, `23` = 1, `41` = 0.6, `71` = 0.3, `82` = 0)

# Patchy labels 1..K: random classes on a grid `patch` times coarser.
patchy_labels <- function(M, N, K, seed, patch = 4) {
  set.seed(seed)
  coarse <- matrix(sample.int(K, ceiling(M / patch) * ceiling(N / patch), replace = TRUE),
                   ceiling(M / patch))
  coarse[(seq_len(M) - 1) %/% patch + 1, (seq_len(N) - 1) %/% patch + 1]
}

# A SpatRaster holding the matrix of codes m (rows as in the matrix).
code_raster <- function(m) terra::rast(m, extent = terra::ext(0, ncol(m), 0, nrow(m)), crs = "local")

# Scores a window at its centre: f(cells of the window) for every window
# the maps score (top-left corners 11 .. M - h - 10, 1-based), NA elsewhere.
direct_windows <- function(values, h, w, f) {
  M <- nrow(values)
  N <- ncol(values)
  out <- matrix(NA_real_, M, N)
  if (M - h - 10 < 11 || N - w - 10 < 11) return(out)
  for (i in 11:(M - h - 10)) for (j in 11:(N - w - 10)) {
    out[i + h %/% 2, j + w %/% 2] <- f(values[i:(i + h - 1), j:(j + w - 1)])
  }
  out
}

# The values of a one-layer SpatRaster as a matrix, row by row.
as_matrix <- function(r) terra::as.matrix(r, wide = TRUE)

# Equal bit for bit, NA where NA (NaN and NA alike).
expect_same_bits <- function(actual, expected) {
  actual <- as.vector(actual)
  expected <- as.vector(expected)
  expect_identical(is.na(actual), is.na(expected))
  expect_identical(actual[!is.na(actual)], expected[!is.na(expected)])
}

# The build folder holding build/raster-maps and the plug-ins, when known.
test_build <- function() {
  build <- Sys.getenv("RASTER_MAPS_TEST_BUILD")
  if (build == "" || !dir.exists(build)) testthat::skip("RASTER_MAPS_TEST_BUILD names no build folder")
  build
}

# Runs one R expression in a child R process with rastermaps loaded.
child_r <- function(code, timeout) {
  script <- tempfile(fileext = ".R")
  writeLines(c("library(rastermaps)", code), script)
  system2(file.path(R.home("bin"), "Rscript"), script, stdout = TRUE, stderr = TRUE,
          timeout = timeout)
}

# The offsets (di, dj) from the centre of a circle of radius R, or of an
# annulus R0 < distance <= R, with cells ry high and rx wide.
footprint_offsets <- function(R, ry = 1, rx = 1, R0 = NULL) {
  o <- expand.grid(di = -floor(R / ry):floor(R / ry), dj = -floor(R / rx):floor(R / rx))
  d <- (o$di * ry)^2 + (o$dj * rx)^2
  keep <- d <= R^2
  if (!is.null(R0)) keep <- keep & d > R0^2
  o[keep, ]
}

# Scores every centre cell as f(values of the footprint's cells, number of
# footprint cells): under "inside" only where the footprint lies wholly in
# the raster (NA elsewhere); under "partial" everywhere, over the cells
# inside the raster.
direct_footprint <- function(values, offsets, f, edges = "inside") {
  M <- nrow(values)
  N <- ncol(values)
  out <- matrix(NA_real_, M, N)
  for (i in seq_len(M)) for (j in seq_len(N)) {
    r <- i + offsets$di
    c <- j + offsets$dj
    inside <- r >= 1 & r <= M & c >= 1 & c <= N
    if (edges == "inside" && !all(inside)) next
    out[i, j] <- f(values[cbind(r[inside], c[inside])], nrow(offsets))
  }
  out
}
