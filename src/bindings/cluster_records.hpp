// The Python records of clusters: ClustersResult, Cluster and BoundingBox.
#pragma once

#include "bindings/module_state.hpp"
#include "bindings/python.hpp"
#include "clusters/cluster_types.hpp"

namespace quorvane::py {

// Adds ClustersResult, Cluster and BoundingBox to the module, in that order,
// and keeps them in its state.
bool register_cluster_records(PyObject* module, ModuleState& state);

// A new ClustersResult holding the list's clusters in order; nullptr with a
// Python error set (and nothing leaked) when an object cannot be made.
PyObject* clusters_to_python(const ModuleState& state, ClusterList list);

}  // namespace quorvane::py
