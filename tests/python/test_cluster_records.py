"""ClustersResult, Cluster and BoundingBox as Python objects, and the
argument handling of Comparison.clusters."""

import gc
import inspect
import math

import numpy as np
import pytest

import quorvane
from imaging import screen
from test_clusters import clusters_of_mask, pixels


@pytest.fixture(scope="module")
def page_result():
    comparison = quorvane.Comparison(screen("page_baseline.png"), screen("page_edited_paragraph.png"))
    return comparison.clusters()


@pytest.mark.parametrize("name", ["ClustersResult", "Cluster", "BoundingBox"])
def test_classes_cannot_be_constructed_or_changed(name, page_result):
    assert getattr(quorvane, name).__module__ == "quorvane"
    with pytest.raises(TypeError, match=f"^No constructor defined for {name}$"):
        getattr(quorvane, name)()
    cluster = page_result.clusters[0]
    instance = {"ClustersResult": page_result, "Cluster": cluster, "BoundingBox": cluster.bbox}[name]
    attributes = [a for a in dir(instance) if not a.startswith("_")]
    assert attributes
    for attribute in attributes:
        with pytest.raises(AttributeError):
            setattr(instance, attribute, getattr(instance, attribute))


def test_published_reprs_of_records_that_outlive_their_result():
    result = clusters_of_mask(pixels((10, 10)))
    assert repr(result) == "ClustersResult(1)"
    cluster = result.clusters[0]
    del result
    gc.collect()
    assert repr(cluster) == "Cluster(pixel_count=81, centroid=(10.0, 10.0), merged_from=1)"
    assert repr(cluster.bbox) == "BoundingBox(x=6, y=6, width=9, height=9)"


def test_centroid_halves_round_to_even():
    # Mean column 9 / 4 = 2.25, mean row 31 / 4 = 7.75.
    (cluster,) = clusters_of_mask(pixels((1, 8), (2, 8), (3, 8), (3, 7)), dilation=0, min_pixels=1).clusters
    assert cluster.centroid == (2.25, 7.75)
    assert repr(cluster) == "Cluster(pixel_count=4, centroid=(2.2, 7.8), merged_from=1)"


def test_lists_are_new_and_items_are_the_same_objects(page_result):
    assert page_result.clusters is not page_result.clusters
    assert page_result.clusters == page_result.clusters
    assert all(a is b for a, b in zip(page_result.clusters, page_result.clusters))
    cluster = page_result.clusters[0]
    assert cluster.bbox is cluster.bbox
    page_result.clusters.clear()  # a caller's list is its own
    assert page_result.clusters


def test_signature_and_docstring():
    method = quorvane.Comparison.clusters
    assert str(inspect.signature(method)) == ("(self, /, threshold=0.1, include_aa=False, min_pixels=16, min_side=0, "
                                              "dilation=4, max_clusters=None, merge_gap=0, merge_overlap=0.5)")
    assert method.__doc__ == "Compute connected-component clusters of differing pixels."


@pytest.fixture(scope="module")
def small():
    return quorvane.Comparison.from_rgba(bytes(64), 4, 4, bytes([255]) * 64, 4, 4)


@pytest.mark.parametrize("arguments, error, message", [
    ({"threshold": 1.5}, ValueError, r"^threshold must be in the range \[0\.0, 1\.0\]$"),
    ({"threshold": math.nan}, ValueError, r"^threshold must be in the range"),
    ({"threshold": 2.0, "max_clusters": -1}, OverflowError, None),  # conversions come before the range check
    ({"include_aa": 1}, TypeError, "include_aa"),
    ({"min_pixels": -1}, OverflowError, None),
    ({"dilation": 2**64}, OverflowError, None),
    ({"merge_gap": 1.0}, TypeError, "merge_gap"),
    ({"max_clusters": "3"}, TypeError, "max_clusters"),
    ({"merge_overlap": "0.5"}, TypeError, "merge_overlap"),
    ({"merge_distance": 3}, TypeError, "merge_distance"),
])
def test_argument_errors(small, arguments, error, message):
    with pytest.raises(error, match=message):
        small.clusters(**arguments)


@pytest.mark.parametrize("overlap", [-2.0, 0, 3, math.nan, math.inf, np.float32(0.25)])
def test_merge_overlap_takes_any_number(small, overlap):
    result = small.clusters(merge_gap=2, merge_overlap=overlap)
    assert len(result.clusters) == 1 and result.clusters[0].pixel_count == 16
