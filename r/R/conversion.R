# The conversion layer's R half: every argument checked and read into what
# the compiled side (src/conversion.cpp) takes, and terra rasters read and
# written in strips of rows, so memory stays bounded whatever the raster's
# size. Problems of the request itself (the table's values, the window's
# size, labels) are worded by the core, in src/conversion.cpp.

# One map over x. Every public function is this call with its own options.
run_map <- function(map, x, table, window, edges = "inside", seed = NULL, probes_per_cell = 12L,
                    nodata_policy = "strict", min_valid = 0.5, exclude = NULL,
                    threads = NULL, arithmetic = "exact", layer = 1L, filename = "",
                    overwrite = FALSE, wopt = list(), strip_rows = 0) {
  window <- window_of(window)
  edges <- edges_of(edges)
  arithmetic <- arithmetic_of(arithmetic)
  nodata_policy <- policy_of(nodata_policy)
  min_valid <- fraction_of(min_valid)
  threads <- threads_of(threads)
  probes_per_cell <- probes_of(probes_per_cell)
  seed <- seed_of(seed)
  strip_rows <- whole_of(strip_rows, "strip_rows", lowest = 0)
  exclude <- exclude_of(exclude)
  overwrite <- logical_of(overwrite, "overwrite")
  if (is.matrix(x)) {
    if (!identical(filename, "")) stop("filename applies to SpatRaster input only", call. = FALSE)
    out <- map_matrix(map, x, table, window_over(window, x), edges, seed, probes_per_cell, nodata_policy, min_valid,
                      threads, arithmetic)
  } else if (inherits(x, "SpatRaster")) {
    out <- map_raster(map, x, table, window_over(window, x), edges, seed, probes_per_cell, nodata_policy, min_valid,
                      exclude, threads, arithmetic, layer, filename, overwrite, wopt, strip_rows)
  } else {
    stop("x must be a SpatRaster of class codes or an integer matrix of labels 1..K; it is ",
         describe(x), call. = FALSE)
  }
  maps <- .catalogue()
  if (maps$random[maps$name == map]) attr(out, "seed") <- seed
  out
}

describe <- function(x) {
  if (is.null(x)) return("NULL")
  what <- paste0("a ", class(x)[1])
  if (is.atomic(x) && length(x) == 1) what <- paste0(what, " (", format(x), ")")
  what
}

whole_of <- function(x, name, lowest = 1, highest = 2^63 - 1) {
  if (!is.numeric(x) || length(x) != 1 || is.na(x) || x != round(x))
    stop(name, " must be one whole number; it is ", describe(x), call. = FALSE)
  if (x < lowest || x > highest)
    stop(name, " must lie in ", format(lowest, scientific = FALSE), "..",
         format(highest, scientific = FALSE), "; it is ", format(x, scientific = FALSE),
         call. = FALSE)
  as.double(x)
}

logical_of <- function(x, name) {
  if (!is.logical(x) || length(x) != 1 || is.na(x))
    stop(name, " must be TRUE or FALSE; it is ", describe(x), call. = FALSE)
  x
}

policy_of <- function(policy) {
  if (!is.character(policy) || length(policy) != 1 || !policy %in% c("strict", "renormalise"))
    stop("nodata_policy must be \"strict\" or \"renormalise\"; it is ", describe(policy),
         call. = FALSE)
  policy
}

# The core's name of an arithmetic: "exact" (the default) or "plugin".
arithmetic_of <- function(arithmetic) {
  names <- .arithmetics()
  if (!is.character(arithmetic) || length(arithmetic) != 1 || !arithmetic %in% names)
    stop("arithmetic must be ", paste0("\"", names, "\"", collapse = " or "), "; it is ",
         describe(arithmetic), call. = FALSE)
  arithmetic
}

fraction_of <- function(x) {
  if (!is.numeric(x) || length(x) != 1 || is.na(x) || x < 0 || x > 1)
    stop("min_valid must be a fraction 0..1 of the window; it is ", describe(x), call. = FALSE)
  as.double(x)
}

threads_of <- function(threads) {
  if (is.null(threads)) return(0L)
  .thread_count(whole_of(threads, "threads"))
}

probes_of <- function(probes) as.integer(whole_of(probes, "probes_per_cell", 0, 2^31 - 1))

# NULL takes the clock second, as every front end does.
seed_of <- function(seed) {
  if (is.null(seed)) return(.clock_seed())
  whole_of(seed, "seed", 0, 2^32 - 1)
}

# Codes as exact decimal text, which the compiled side reads as 64-bit
# integers: R's doubles hold every code up to 2^53 exactly, and larger ones
# can be written as text.
code_text <- function(codes, what) {
  if (is.factor(codes)) codes <- as.character(codes)
  if (is.numeric(codes)) {
    bad <- is.na(codes) | !is.finite(codes) | codes != round(codes)
    if (any(bad)) stop(what, " ", format(codes[bad][1]), " is not a whole number", call. = FALSE)
    return(sprintf("%.0f", codes))
  }
  if (is.character(codes)) return(trimws(codes))
  stop(what, "s must be whole numbers; they are ", describe(codes), call. = FALSE)
}

exclude_of <- function(exclude) {
  if (is.null(exclude)) return(character(0))
  code_text(exclude, "the excluded code")
}

# A code table: a named numeric vector (names are codes) or a data frame
# with columns code and value. Classes follow the codes in increasing order.
code_table <- function(table) {
  if (is.data.frame(table)) {
    if (!all(c("code", "value") %in% names(table)))
      stop("a table data frame needs the columns code and value; it has ",
           paste(names(table), collapse = ", "), call. = FALSE)
    codes <- table$code
    values <- table$value
  } else if (is.numeric(table) && !is.null(names(table))) {
    codes <- names(table)
    values <- unname(table)
  } else {
    stop("table must be a named numeric vector (names are the raster's codes) or a data frame ",
         "with columns code and value; it is ", describe(table), call. = FALSE)
  }
  if (!is.numeric(values)) stop("the table's values must be numbers; they are ", describe(values),
                                call. = FALSE)
  list(codes = code_text(codes, "the table code"), values = as.double(values))
}

map_matrix <- function(map, x, table, window, edges, seed, probes, policy, min_valid, threads, arithmetic) {
  if (!is.integer(x))
    stop("a matrix x must hold integer labels 1..K (storage.mode integer); it is ",
         typeof(x), call. = FALSE)
  if (!is.numeric(table) || is.matrix(table) && min(dim(table)) > 1)
    stop("table must be a numeric vector, one value per label 1..K; it is ", describe(table),
         call. = FALSE)
  .map_labels(map, as.double(table), window, edges, x, probes, seed, threads, policy,
              min_valid, arithmetic)
}

map_raster <- function(map, x, table, window, edges, seed, probes, policy, min_valid, exclude, threads,
                       arithmetic, layer, filename, overwrite, wopt, strip_rows) {
  table <- code_table(table)
  x <- layer_of(x, layer)
  M <- terra::nrow(x)
  N <- terra::ncol(x)
  size <- .window_size(window)
  if (size[1] > M || size[2] > N) {
    cells <- sprintf("%.0fx%.0f", size[1], size[2])
    named <- if (window$shape == "rectangle" && !window$metres) cells
             else paste0(window$text, " (", cells, " cells)")
    stop("the window ", named, sprintf(" is larger than x (%dx%d cells)", M, N), call. = FALSE)
  }
  if (!is.list(wopt)) stop("wopt must be a list of terra's write options", call. = FALSE)
  target <- output_target(filename, overwrite, x)
  out <- terra::rast(x, nlyrs = 1)
  names(out) <- map
  terra::readStart(x)
  on.exit(terra::readStop(x), add = TRUE)
  restore_cache <- cap_gdal_cache(N)
  on.exit(restore_cache(), add = TRUE)
  # Strips are written as they finish, not in terra's blocks, so terra's
  # own progress bar would count the wrong steps; ours follows its setting.
  threshold <- if (is.null(wopt$progress)) terra_progress() else wopt$progress
  wopt$progress <- 0
  wopt <- writing_options(wopt, threads)
  finished <- FALSE
  on.exit(if (!finished) abandon(out, target), add = TRUE)
  read_rows <- function(row, nrows) {
    v <- terra::readValues(x, row, nrows, 1, N)
    progress$read(nrows)
    v
  }
  write_rows <- function(values, row, nrows) terra::writeValues(out, values, row, nrows)
  nodata <- may_hold_na(x)
  repeat {
    blocks <- terra::writeStart(out, target$path, overwrite = TRUE, n = 1, wopt = wopt)
    progress <- progress_of(threshold, blocks$n, M, map == "dravix")
    complete <- tryCatch(
      .stream_codes(map, table$codes, table$values, exclude, nodata, window, edges, M, N,
                    probes, seed, threads, policy, min_valid, arithmetic, strip_rows, read_rows,
                    write_rows),
      finally = progress$close())
    if (complete) break
    # x held NA after all: the map starts again, counting nodata this time.
    terra::writeStop(out)
    nodata <- TRUE
  }
  out <- terra::writeStop(out)
  if (target$final != "") {
    write_metadata(target$path, run_metadata(map, table, window, size, edges, seed, probes, policy,
                                             min_valid, exclude, arithmetic))
  }
  finished <- TRUE
  commit(out, target, map)
}

# Whether x may read as NA: unless it is one band of one file, of an integer
# type, with no nodata value and no NA flag of terra's, it may. This only
# spares the work of counting nodata per window; a run that meets NA without
# it starts again with it.
may_hold_na <- function(x) {
  files <- terra::sources(x, bands = TRUE)
  if (nrow(files) != 1 || files$source[1] == "" || !is.nan(terra::NAflag(x)) ||
      !startsWith(terra::datatype(x), "INT"))
    return(TRUE)
  info <- tryCatch(terra::describe(files$source[1]), error = function(e) character(0))
  bands <- grep("^Band [0-9]+ ", info)
  first <- grep(paste0("^Band ", files$bands[1], " "), info)
  if (length(first) != 1) return(TRUE)
  last <- min(c(bands[bands > first], length(info) + 1)) - 1
  any(grepl("NoData Value=", info[first:last], fixed = TRUE))
}

# GDAL's block cache defaults to a share of the machine's memory and would
# hold much of the output before writing it; a few rows of output tiles is
# all a strip needs. Gives the function that puts the user's setting back;
# a setting below the cap stays as it is.
cap_gdal_cache <- function(N) {
  before <- terra::gdalCache()
  cap <- max(256, ceiling(2 * N * 512 * 8 / 2^20))
  if (!is.numeric(before) || length(before) != 1 || is.na(before) || before <= cap)
    return(function() invisible(NULL))
  terra::gdalCache(cap)
  function() terra::gdalCache(before)
}

# What the file's metadata records, so that every run can be repeated: the
# same items as the command line writes.
run_metadata <- function(map, table, window, size, edges, seed, probes, policy, min_valid, exclude,
                         arithmetic) {
  maps <- .catalogue()
  items <- c(RASTER_MAPS_MAP = map,
             RASTER_MAPS_WINDOW = sprintf("%.0fx%.0f", size[1], size[2]),
             RASTER_MAPS_FOOTPRINT = window$text,
             RASTER_MAPS_FOOTPRINT_CELLS = sprintf("%.0f", size[3]),
             RASTER_MAPS_EDGES = edges,
             RASTER_MAPS_TABLE = .table_text(table$codes, table$values, exclude),
             RASTER_MAPS_NODATA_CODES = paste(c("NA", exclude), collapse = " "),
             RASTER_MAPS_NODATA_POLICY = policy)
  if (policy == "renormalise") items["RASTER_MAPS_MIN_VALID"] <- format(min_valid, digits = 17)
  if (maps$random[maps$name == map]) items["RASTER_MAPS_SEED"] <- sprintf("%.0f", seed)
  if (maps$takes_probes[maps$name == map]) items["RASTER_MAPS_PROBES_PER_CELL"] <- probes
  items["RASTER_MAPS_ARITHMETIC"] <- arithmetic
  items["RASTER_MAPS_BORDER"] <- "nodata"
  items
}

# Metadata items in GDAL's sidecar file (<file>.aux.xml), which GDAL merges
# with the file's own metadata for every driver; terra has no way to write
# a file's metadata itself.
write_metadata <- function(path, items) {
  escape <- function(s) {
    s <- gsub("&", "&amp;", s, fixed = TRUE)
    s <- gsub("<", "&lt;", s, fixed = TRUE)
    gsub(">", "&gt;", s, fixed = TRUE)
  }
  block <- c("  <Metadata>", sprintf("    <MDI key=\"%s\">%s</MDI>", names(items), escape(items)),
             "  </Metadata>")
  aux <- paste0(path, ".aux.xml")
  lines <- if (file.exists(aux)) readLines(aux) else c("<PAMDataset>", "</PAMDataset>")
  at <- grep("<PAMDataset>", lines, fixed = TRUE)[1]
  writeLines(append(lines, block, after = at), aux)
}

layer_of <- function(x, layer) {
  if (is.character(layer) && length(layer) == 1) {
    if (!layer %in% names(x))
      stop("x has no layer named '", layer, "'; its layers are ", paste(names(x), collapse = ", "),
           call. = FALSE)
    return(x[[layer]])
  }
  layer <- whole_of(layer, "layer", 1, terra::nlyr(x))
  x[[layer]]
}

# terra's write options, with GeoTIFF defaults as the command line's: doubles,
# tiled, DEFLATE level 1 with the floating-point predictor, BigTIFF when
# needed, compressed on the map's threads. The caller's options win.
writing_options <- function(wopt, threads) {
  if (is.null(wopt$datatype)) wopt$datatype <- "FLT8S"
  if (is.null(wopt$gdal)) {
    wopt$gdal <- c("TILED=YES", "COMPRESS=DEFLATE", "ZLEVEL=1", "PREDICTOR=3", "BIGTIFF=IF_SAFER",
                   paste0("NUM_THREADS=", if (threads > 0) threads else "ALL_CPUS"))
  }
  wopt
}

# Where the map is written: filename itself once complete. The file is
# written in a hidden folder beside it under its own name (so a driver's
# sidecar files are named as beside the output) and moved into place when
# complete; an interrupted or failed run removes the folder.
output_target <- function(filename, overwrite, x) {
  if (!is.character(filename) || length(filename) != 1 || is.na(filename))
    stop("filename must be one file name, or \"\"; it is ", describe(filename), call. = FALSE)
  if (filename == "") return(list(path = "", final = ""))
  final <- normalizePath(path.expand(filename), mustWork = FALSE)
  if (dir.exists(final)) stop("filename ", filename, " is a folder", call. = FALSE)
  if (!dir.exists(dirname(final)))
    stop("the folder of filename ", filename, " does not exist", call. = FALSE)
  if (file.exists(final)) {
    if (!overwrite) stop("the file ", filename, " exists; use overwrite=TRUE", call. = FALSE)
    sources <- normalizePath(terra::sources(x), mustWork = FALSE)
    if (final %in% sources) stop("filename ", filename, " is the file of x", call. = FALSE)
  }
  work <- file.path(dirname(final), paste0(".", basename(final), ".incomplete-", Sys.getpid()))
  unlink(work, recursive = TRUE)
  if (!dir.create(work, showWarnings = FALSE))
    stop("cannot create a folder beside ", filename, " to write in", call. = FALSE)
  list(path = file.path(work, basename(final)), final = final, work = work)
}

abandon <- function(out, target) {
  try(terra::writeStop(out), silent = TRUE)
  if (!is.null(target$work)) unlink(target$work, recursive = TRUE)
}

commit <- function(out, target, map) {
  if (target$final == "") return(out)
  files <- list.files(target$work, all.files = TRUE, no.. = TRUE)
  main <- basename(target$final)
  for (f in c(setdiff(files, main), main)) {
    if (!file.rename(file.path(target$work, f), file.path(dirname(target$final), f)))
      stop("cannot move the finished map to ", target$final, call. = FALSE)
  }
  unlink(target$work, recursive = TRUE)
  out <- terra::rast(target$final)
  names(out) <- map
  out
}

# A text progress bar on standard error, shown as terra shows its own: when
# terra would write the output in at least `threshold` blocks (terra's
# progress option, or wopt$progress; 0 for never). It counts the rows read,
# twice over for a map that reads the raster twice.
progress_of <- function(threshold, blocks, M, two_passes) {
  passes <- if (two_passes) 2 else 1
  none <- list(read = function(n) invisible(NULL), close = function() invisible(NULL))
  if (!is.numeric(threshold) || length(threshold) != 1 || is.na(threshold) || threshold <= 0 ||
      blocks < threshold)
    return(none)
  bar <- utils::txtProgressBar(min = 0, max = passes * M, style = 3, file = stderr())
  done <- 0
  list(read = function(n) {
    done <<- done + n
    utils::setTxtProgressBar(bar, done)
  }, close = function() close(bar))
}

terra_progress <- function() {
  opt <- tryCatch(terra::terraOptions(print = FALSE), error = function(e) NULL)
  if (is.null(opt$progress)) 3 else opt$progress
}
