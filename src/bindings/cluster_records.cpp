// The three cluster classes: each holds plain values, a Cluster its own
// BoundingBox and a ClustersResult a tuple of Clusters, so repeated reads
// hand out the same objects.
#include "bindings/cluster_records.hpp"

#include <charconv>
#include <string>

#include "bindings/boundary.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/record_type.hpp"

namespace quorvane::py {
namespace {

struct BoxValue {
    u64 x;
    u64 y;
    u64 width;
    u64 height;
};

struct ClusterValue {
    PyRef bbox;
    u64 pixel_count;
    double centroid_x;
    double centroid_y;
    u64 merged_from;
};

struct ClustersValue {
    PyRef clusters;  // a tuple of Cluster objects
    u64 total_clusters;
    bool truncated;
};

// Fixed-point with one decimal, correctly rounded from the binary value
// (halfway cases to even), independent of the C locale.
std::string one_decimal(double value) {
    char digits[400];
    const auto written = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 1);
    return std::string(digits, written.ptr);
}

PyObject* box_repr(PyObject* self) {
    const BoxValue& box = record_value<BoxValue>(self);
    return to_python_text("BoundingBox(x=" + std::to_string(box.x) + ", y=" + std::to_string(box.y) +
                          ", width=" + std::to_string(box.width) + ", height=" + std::to_string(box.height) + ")");
}

PyGetSetDef box_attributes[] = {
    {"x", record_field<BoxValue, &BoxValue::x>, nullptr, "Left column, in pixels from the left edge.", nullptr},
    {"y", record_field<BoxValue, &BoxValue::y>, nullptr, "Top row, in pixels from the top edge.", nullptr},
    {"width", record_field<BoxValue, &BoxValue::width>, nullptr, "Width in pixels.", nullptr},
    {"height", record_field<BoxValue, &BoxValue::height>, nullptr, "Height in pixels.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* cluster_bbox(PyObject* self, void*) {
    PyObject* box = record_value<ClusterValue>(self).bbox.get();
    Py_INCREF(box);
    return box;
}
PyObject* cluster_centroid(PyObject* self, void*) {
    const ClusterValue& cluster = record_value<ClusterValue>(self);
    return Py_BuildValue("(dd)", cluster.centroid_x, cluster.centroid_y);
}

PyObject* cluster_repr(PyObject* self) {
    const ClusterValue& cluster = record_value<ClusterValue>(self);
    return to_python_text("Cluster(pixel_count=" + std::to_string(cluster.pixel_count) + ", centroid=(" +
                          one_decimal(cluster.centroid_x) + ", " + one_decimal(cluster.centroid_y) +
                          "), merged_from=" + std::to_string(cluster.merged_from) + ")");
}

PyGetSetDef cluster_attributes[] = {
    {"bbox", cluster_bbox, nullptr, "The cluster's bounding box.", nullptr},
    {"centroid", cluster_centroid, nullptr, "(x, y): the mean column and the mean row of its pixels.", nullptr},
    {"pixel_count", record_field<ClusterValue, &ClusterValue::pixel_count>, nullptr,
     "Pixels of the cluster, counted after dilation.", nullptr},
    {"merged_from", record_field<ClusterValue, &ClusterValue::merged_from>, nullptr,
     "Components merged into it; 1 when unmerged.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* result_clusters(PyObject* self, void*) {
    return PySequence_List(record_value<ClustersValue>(self).clusters.get());
}
PyObject* result_truncated(PyObject* self, void*) {
    return PyBool_FromLong(record_value<ClustersValue>(self).truncated);
}

PyObject* result_repr(PyObject* self) {
    const ClustersValue& result = record_value<ClustersValue>(self);
    const Py_ssize_t listed = PyTuple_Size(result.clusters.get());
    if (listed < 0) return nullptr;
    const std::string count = std::to_string(listed);
    if (!result.truncated) return to_python_text("ClustersResult(" + count + ")");
    return to_python_text("ClustersResult(" + count + " of " + std::to_string(result.total_clusters) + ", truncated)");
}

PyGetSetDef result_attributes[] = {
    {"clusters", result_clusters, nullptr, "The clusters, largest first (a new list on each read).", nullptr},
    {"total_clusters", record_field<ClustersValue, &ClustersValue::total_clusters>, nullptr,
     "Components that passed the size filters, before truncation and merging.", nullptr},
    {"truncated", result_truncated, nullptr, "Whether max_clusters cut the list short.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyRef new_cluster(const ModuleState& state, const ClusterRecord& record) {
    PyRef box = PyRef::steal(new_record(state.bounding_box, BoxValue{record.x, record.y, record.width, record.height}));
    if (!box) return {};
    return PyRef::steal(new_record(state.cluster, ClusterValue{std::move(box), record.pixel_count, record.centroid_x,
                                                               record.centroid_y, record.merged_from}));
}

}  // namespace

bool register_cluster_records(PyObject* module, ModuleState& state) {
    state.clusters_result =
        create_record_type<ClustersValue>(module, "quorvane.ClustersResult", result_attributes, result_repr);
    if (state.clusters_result == nullptr) return false;
    state.cluster = create_record_type<ClusterValue>(module, "quorvane.Cluster", cluster_attributes, cluster_repr);
    if (state.cluster == nullptr) return false;
    state.bounding_box = create_record_type<BoxValue>(module, "quorvane.BoundingBox", box_attributes, box_repr);
    return state.bounding_box != nullptr;
}

PyObject* clusters_to_python(const ModuleState& state, ClusterList list) {
    PyRef clusters = PyRef::steal(PyTuple_New(std::ssize(list.clusters)));
    if (!clusters) return nullptr;
    for (std::size_t i = 0; i < list.clusters.size(); ++i) {
        PyRef cluster = new_cluster(state, list.clusters[i]);
        if (!cluster) return nullptr;
        PyTuple_SetItem(clusters.get(), static_cast<Py_ssize_t>(i), cluster.release());  // steals the reference
    }
    return new_record(state.clusters_result, ClustersValue{std::move(clusters), list.total_clusters, list.truncated});
}

}  // namespace quorvane::py
