// The batch functions diff_batch, diff_count_batch, ssim_batch and
// compare_batch, and Comparison.batch: the pairs are copied under the lock,
// the lock is released once for the whole parallel map, and the records
// become a list in input order only after every pair is done.
#include <span>
#include <vector>

#include "batch/batch.hpp"
#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/comparison.hpp"
#include "bindings/params.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/registry.hpp"

namespace quorvane::py {
namespace {

// Runs a batch with the lock released; the input copies are freed there too,
// before any Python object is made.
template <class Run>
auto run_batch(std::vector<PngFiles>& pairs, Run&& run) {
    return without_gil([&] {
        auto results = run(std::span<const PngFiles>(pairs));
        std::vector<PngFiles>().swap(pairs);
        return results;
    });
}

// A new list holding convert(record) for each record, in order.
template <class T, class Convert>
PyObject* list_of(std::vector<T>& records, Convert&& convert) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(records.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < records.size(); ++i) {
        PyObject* item = convert(records[i]);
        if (item == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

// A new tuple of the items the makers return, made left to right; the first
// that fails ends it.
template <class... Makers>
PyObject* tuple_of(Makers&&... makers) {
    PyRef tuple = PyRef::steal(PyTuple_New(sizeof...(Makers)));
    if (!tuple) return nullptr;
    Py_ssize_t index = 0;
    auto put = [&](PyObject* item) {
        if (item == nullptr) return false;
        PyTuple_SetItem(tuple.get(), index++, item);
        return true;
    };
    const bool complete = (put(makers()) && ...);
    return complete ? tuple.release() : nullptr;
}

// A bytes object of an encoded image, whose buffer is freed once copied.
PyObject* bytes_taken(Bytes& encoded) {
    PyObject* object = to_python_bytes(encoded);
    Bytes().swap(encoded);
    return object;
}

PyObject* optional_bytes_taken(std::optional<Bytes>& encoded) {
    if (!encoded) return Py_NewRef(Py_None);
    PyObject* object = bytes_taken(*encoded);
    encoded.reset();
    return object;
}

constexpr Param kDiffBatchParams[] = {kPairs,   kThreshold,    kAlpha,  kIncludeAa, kDiffColor,
                                      kAaColor, kDiffColorAlt, kIgnore, kMaskColor, kMemoryLimit};

PyObject* diff_element(DiffBatchItem& record) {
    return tuple_of([&] { return bytes_taken(record.png); }, [&] { return to_python(record.count); },
                    [&] { return to_python(record.width); }, [&] { return to_python(record.height); });
}

PyObject* diff_batch(Args& args) {
    std::vector<PngFiles> pairs = args.take_pairs("pairs");
    const DiffOptions options = args.diff_options();
    const IgnoreRegions ignore = args.ignore_regions();
    const MemoryBudget budget = args.memory_budget();
    auto results = run_batch(
        pairs, [&](std::span<const PngFiles> all) { return quorvane::diff_batch(all, options, ignore, budget); });
    return deliver(args.state(), std::move(results),
                   [](std::vector<DiffBatchItem> records) { return list_of(records, diff_element); });
}

constexpr Function kDiffBatch{"diff_batch", "Diff multiple image pairs in parallel.", kDiffBatchParams, diff_batch};

constexpr Param kDiffCountBatchParams[] = {kPairs, kThreshold, kIncludeAa, kIgnore, kMaskColor, kMemoryLimit};

PyObject* count_element(CountBatchItem& record) {
    return tuple_of([&] { return to_python(record.count); }, [&] { return to_python(record.width); },
                    [&] { return to_python(record.height); });
}

PyObject* diff_count_batch(Args& args) {
    std::vector<PngFiles> pairs = args.take_pairs("pairs");
    const DiffOptions options = args.diff_options();
    const IgnoreRegions ignore = args.ignore_regions();
    const MemoryBudget budget = args.memory_budget();
    auto results = run_batch(
        pairs, [&](std::span<const PngFiles> all) { return quorvane::diff_count_batch(all, options, ignore, budget); });
    return deliver(args.state(), std::move(results),
                   [](std::vector<CountBatchItem> records) { return list_of(records, count_element); });
}

constexpr Function kDiffCountBatch{"diff_count_batch", "Count mismatched pixels for multiple image pairs in parallel.",
                                   kDiffCountBatchParams, diff_count_batch};

constexpr Param kPairsAndRegions[] = {kPairs, kIgnore, kMaskColor, kMemoryLimit};

PyObject* ssim_batch(Args& args) {
    std::vector<PngFiles> pairs = args.take_pairs("pairs");
    const IgnoreRegions ignore = args.ignore_regions();
    const MemoryBudget budget = args.memory_budget();
    auto results =
        run_batch(pairs, [&](std::span<const PngFiles> all) { return quorvane::ssim_batch(all, ignore, budget); });
    return deliver(args.state(), std::move(results), [](std::vector<double> scores) {
        return list_of(scores, [](double score) { return to_python(score); });
    });
}

constexpr Function kSsimBatch{"ssim_batch", "Compute SSIM for multiple image pairs in parallel.", kPairsAndRegions,
                              ssim_batch};

constexpr Param kCompareBatchParams[] = {
    kPairs,
    kThreshold,
    kAlpha,
    kIncludeAa,
    kDiffColor,
    kAaColor,
    kDiffColorAlt,
    flag_param("return_diff", CompareOptions{}.return_diff),
    optional_count_param("thumbnail_width"),
    optional_count_param("thumbnail_height"),
    kEffort,
    kIgnore,
    kMaskColor,
    kMemoryLimit,
};

PyObject* compare_element(CompareBatchItem& record) {
    return tuple_of([&] { return to_python(record.count); }, [&] { return to_python(record.ssim); },
                    [&] { return to_python(record.width); }, [&] { return to_python(record.height); },
                    [&] { return optional_bytes_taken(record.diff_png); },
                    [&] { return optional_bytes_taken(record.thumbnail); });
}

PyObject* compare_batch(Args& args) {
    std::vector<PngFiles> pairs = args.take_pairs("pairs");
    CompareOptions options;
    options.diff = args.diff_options();
    options.return_diff = args.flag("return_diff");
    options.thumbnail_width = args.optional_count("thumbnail_width");
    options.thumbnail_height = args.optional_count("thumbnail_height");
    options.thumbnail_effort = args.effort("effort");
    options.ignore = args.ignore_regions();
    const MemoryBudget budget = args.memory_budget();
    auto results =
        run_batch(pairs, [&](std::span<const PngFiles> all) { return quorvane::compare_batch(all, options, budget); });
    return deliver(args.state(), std::move(results),
                   [](std::vector<CompareBatchItem> records) { return list_of(records, compare_element); });
}

constexpr Function kCompareBatch{"compare_batch",
                                 "Compare multiple image pairs in parallel (diff count + SSIM per pair).\n\n"
                                 "Batch version of `compare()`. Set `thumbnail_width` to generate a\n"
                                 "thumbnail per pair; `effort` as in `thumbnail()`.",
                                 kCompareBatchParams, compare_batch};

PyObject* comparison_batch(Args& args) {
    std::vector<PngFiles> pairs = args.take_pairs("pairs");
    const IgnoreRegions ignore = args.ignore_regions();
    const MemoryBudget budget = args.memory_budget();
    auto results =
        run_batch(pairs, [&](std::span<const PngFiles> all) { return quorvane::decode_batch(all, ignore, budget); });
    return deliver(args.state(), std::move(results), [&](std::vector<ImagePair> records) {
        return list_of(records, [&](ImagePair& record) { return new_comparison(args.state(), std::move(record)); });
    });
}

constexpr Function kComparisonBatch{"batch", "Decode multiple PNG pairs in parallel.", kPairsAndRegions,
                                    comparison_batch};

}  // namespace

void add_batch_methods(std::vector<PyMethodDef>& methods) { methods.push_back(describe<kComparisonBatch>(METH_CLASS)); }

void add_batch_functions(std::vector<PyMethodDef>& functions) {
    functions.push_back(describe<kDiffBatch>());
    functions.push_back(describe<kDiffCountBatch>());
    functions.push_back(describe<kSsimBatch>());
    functions.push_back(describe<kCompareBatch>());
}

}  // namespace quorvane::py
