#include "numpy_views.hpp"

namespace pyrw {

void add_tile_functions(py::module_&) {}

} // namespace pyrw
