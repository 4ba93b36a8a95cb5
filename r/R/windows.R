# Windows as users draw them: rectangles, circles and annuli, with sizes in
# cells or in metres. A window is a small list the compiled side reads
# (src/conversion.cpp, set_window); sizes in metres stay in metres until the
# raster's pixel size is known, and the core turns them into cells.

new_window <- function(shape, height = NA_real_, width = NA_real_, inner = 0, outer = 0,
                       metres = FALSE, text) {
  structure(list(shape = shape, height = height, width = width, inner = inner, outer = outer,
                 metres = metres, text = text, cell_height = 1, cell_width = 1),
            class = "rastermaps_window")
}

# One size: a number (cells) or text ending in m ("300m"). Value problems
# (negative radii, an empty annulus) are the core's to word.
size_of <- function(x, what) {
  if (is.numeric(x) && length(x) == 1 && !is.na(x))
    return(list(value = as.double(x), metres = FALSE, text = format(x, digits = 15)))
  if (is.character(x) && length(x) == 1 && !is.na(x) &&
      grepl("^([0-9]+[.]?[0-9]*|[.][0-9]+)m$", x))
    return(list(value = as.double(sub("m$", "", x)), metres = TRUE, text = x))
  stop(what, " must be one number of cells or one size in metres (\"300m\"); it is ", describe(x),
       call. = FALSE)
}

circle <- function(radius) {
  r <- size_of(radius, "a circle's radius")
  new_window("circle", outer = r$value, metres = r$metres, text = paste0("circle:", r$text))
}

annulus <- function(inner, outer) {
  r0 <- size_of(inner, "an annulus's inner radius")
  r1 <- size_of(outer, "an annulus's outer radius")
  if (r0$metres != r1$metres)
    stop("an annulus's radii take the same unit (annulus(5, 10), annulus(\"150m\", \"300m\"))",
         call. = FALSE)
  new_window("annulus", inner = r0$value, outer = r1$value, metres = r0$metres,
             text = paste0("annulus:", r0$text, ",", r1$text))
}

print.rastermaps_window <- function(x, ...) {
  unit <- if (x$metres) " m" else " cells"
  what <- switch(x$shape,
    rectangle = sprintf("rectangle of %s x %s%s (rows x columns)", format(x$height, digits = 15),
                        format(x$width, digits = 15), unit),
    circle = sprintf("circle of radius %s%s", format(x$outer, digits = 15), unit),
    annulus = sprintf("annulus from %s to %s%s from its centre", format(x$inner, digits = 15),
                      format(x$outer, digits = 15), unit))
  cat("rastermaps window: ", what, "\n", sep = "")
  invisible(x)
}

# Any window a map takes: a circle() or annulus(); one or two whole numbers
# of cells (rows, columns); one or two sizes in metres; or a matrix, as
# terra::focal's w, of which only the size counts.
window_of <- function(window) {
  if (inherits(window, "rastermaps_window")) return(window)
  if (is.matrix(window)) {
    d <- as.double(dim(window))
    return(new_window("rectangle", d[1], d[2], text = sprintf("%.0fx%.0f", d[1], d[2])))
  }
  if (is.character(window) && length(window) %in% 1:2 && !anyNA(window) &&
      all(grepl("^([0-9]+[.]?[0-9]*|[.][0-9]+)m$", window))) {
    sides <- rep_len(as.double(sub("m$", "", window)), 2)
    if (any(sides <= 0)) stop("window sides in metres must be more than 0; they are ",
                              paste(window, collapse = ", "), call. = FALSE)
    text <- if (length(window) == 1) window else paste0(sub("m$", "", window[1]), "x", window[2])
    return(new_window("rectangle", sides[1], sides[2], metres = TRUE, text = text))
  }
  if (!is.numeric(window) || !length(window) %in% 1:2 || anyNA(window) ||
      any(window != round(window)))
    stop("window must be one or two whole numbers (rows, columns), one or two sizes in metres ",
         "(\"630m\", c(\"630m\", \"450m\")), circle(), annulus() or a matrix; it is ",
         describe(window), call. = FALSE)
  if (any(window < 1))
    stop("window is empty; it needs at least one row and one column", call. = FALSE)
  if (any(window > 2^63 - 1)) stop("window sides may have at most 2^63 - 1 cells", call. = FALSE)
  sides <- rep_len(as.double(window), 2)
  new_window("rectangle", sides[1], sides[2],
             text = paste(sprintf("%.0f", window), collapse = "x"))
}

# The window with the cell's height and width in metres, for a window in
# metres over x: terra's resolution times the CRS's linear unit. x must be
# a SpatRaster in a projected CRS.
window_over <- function(window, x) {
  if (!window$metres) return(window)
  instead <- "; give the window in cells (window = 21, circle(10))"
  if (is.matrix(x))
    stop("the window ", window$text, " is in metres, but a matrix x has no pixel size", instead,
         call. = FALSE)
  lonlat <- terra::is.lonlat(x)
  if (terra::crs(x) == "" || is.na(lonlat))
    stop("the window ", window$text, " is in metres, but x has no CRS", instead,
         " or give x a projected CRS (terra::crs)", call. = FALSE)
  if (lonlat)
    stop("the window ", window$text, " is in metres, but x is in longitude/latitude (degrees)",
         instead, " or project x first (terra::project)", call. = FALSE)
  metres <- terra::linearUnits(x)
  if (!is.finite(metres) || metres <= 0)
    stop("the window ", window$text, " is in metres, but the CRS of x has no linear unit", instead,
         " or project x first (terra::project)", call. = FALSE)
  size <- terra::res(x) * metres
  window$cell_width <- size[1]
  window$cell_height <- size[2]
  window
}

edges_of <- function(edges) {
  names <- .edge_names()
  if (!is.character(edges) || length(edges) != 1 || !edges %in% names)
    stop("edges must be ", paste0("\"", names, "\"", collapse = ", "), "; it is ", describe(edges),
         call. = FALSE)
  edges
}
