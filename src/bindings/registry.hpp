// The binding files of the subsystems, each adding its callables: methods of
// Comparison to the class's table, module functions to the module's.
#pragma once

#include <vector>

#include "bindings/python.hpp"

namespace quorvane::py {

// Methods of Comparison.
void add_construction_methods(std::vector<PyMethodDef>& methods);
void add_thumbnail_methods(std::vector<PyMethodDef>& methods);
void add_ssim_methods(std::vector<PyMethodDef>& methods);
void add_pixel_diff_methods(std::vector<PyMethodDef>& methods);
void add_cluster_methods(std::vector<PyMethodDef>& methods);
void add_alignment_methods(std::vector<PyMethodDef>& methods);
void add_batch_methods(std::vector<PyMethodDef>& methods);
void add_aligned_methods(std::vector<PyMethodDef>& methods);

// Module functions, in the order the module lists them.
void add_thumbnail_functions(std::vector<PyMethodDef>& functions);
void add_batch_functions(std::vector<PyMethodDef>& functions);
void add_region_functions(std::vector<PyMethodDef>& functions);
void add_memory_functions(std::vector<PyMethodDef>& functions);

}  // namespace quorvane::py
