library(testthat)
library(rastermaps)

test_check("rastermaps")
