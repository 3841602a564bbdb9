import zlib

import numpy as np
import pytest

import quorvane
from imaging import png_bytes, png_claiming, screen

Comparison = quorvane.Comparison


def rgba(width, height, value=0):
    return bytes([value]) * (width * height * 4)


class TestConstruction:
    def test_png_pair_reports_own_and_common_sizes(self):
        comparison = Comparison(screen("page_baseline.png"), screen("page_taller.png"))
        assert (comparison.width, comparison.height, comparison.size_mismatch) == (1366, 3200, True)
        assert (comparison.baseline_size, comparison.current_size) == ((1366, 3000), (1366, 3200))
        assert repr(comparison) == "Comparison(1366x3200, 4371200 pixels)"

    @pytest.mark.parametrize("baseline, current, canvas, mismatch", [
        ((5, 3), (5, 3), (5, 3), False),
        ((2, 1), (1, 2), (2, 2), True),  # transposed sizes meet on the larger canvas
        ((0, 0), (0, 0), (0, 0), False),
    ])
    def test_rgba_pair_sizes(self, baseline, current, canvas, mismatch):
        comparison = Comparison.from_rgba(rgba(*baseline), *baseline, rgba(*current), *current)
        assert (comparison.baseline_size, comparison.current_size) == (baseline, current)
        assert (comparison.width, comparison.height, comparison.size_mismatch) == (*canvas, mismatch)

    @pytest.mark.parametrize("baseline, current", [((40, 30), (40, 50)), ((40, 50), (40, 30)), ((30, 50), (40, 30)),
                                                   ((40, 30), (30, 50))])
    def test_png_pairs_are_padded_as_the_same_pixels_given_as_rgba(self, baseline, current):
        # A PNG image as wide as the canvas is padded below in its own buffer;
        # RGBA buffers are copied onto a canvas. Both must give one pair.
        rng = np.random.default_rng(sum(baseline + current))
        first, second = (rng.integers(0, 256, (height, width, 4), dtype=np.uint8) for width, height in (baseline,
                                                                                                        current))
        from_png = Comparison(png_bytes(first), png_bytes(second))
        from_rgba = Comparison.from_rgba(first.tobytes(), *baseline, second.tobytes(), *current)
        for method in ("diff_image", "baseline_thumbnail", "current_thumbnail"):
            assert getattr(from_png, method)() == getattr(from_rgba, method)(), method
        assert from_png.baseline_thumbnail(own_size=True) == from_rgba.baseline_thumbnail(own_size=True)

    def test_keyword_arguments_and_index_objects(self):
        comparison = Comparison.from_rgba(current_height=np.int64(1), current_width=1, current_rgba=rgba(1, 1),
                                          baseline_rgba=rgba(1, 1), baseline_width=True, baseline_height=1)
        assert comparison.baseline_size == (1, 1)

    def test_properties_are_read_only(self):
        comparison = Comparison.from_rgba(rgba(1, 1), 1, 1, rgba(1, 1), 1, 1)
        with pytest.raises(AttributeError):
            comparison.width = 3
        assert isinstance(comparison.baseline_size, tuple)
        assert comparison.baseline_size is not comparison.baseline_size


class TestErrors:
    def test_buffer_length_names_expected_and_actual_baseline_first(self):
        with pytest.raises(ValueError, match=r"^invalid RGBA buffer length: expected 16 bytes for 2x2, got 15$"):
            Comparison.from_rgba(b"\0" * 15, 2, 2, rgba(1, 1), 1, 1)
        with pytest.raises(ValueError, match="expected 16 bytes for 2x2, got 15"):
            Comparison.from_rgba(b"\0" * 15, 2, 2, b"\0" * 3, 1, 1)

    @pytest.mark.parametrize("bad", [bytearray(4), memoryview(b"\0" * 4), "abcd", None, [0, 0, 0, 0]])
    def test_rgba_buffers_must_be_bytes(self, bad):
        with pytest.raises(TypeError, match="argument 'baseline_rgba': "):
            Comparison.from_rgba(bad, 1, 1, rgba(1, 1), 1, 1)

    @pytest.mark.parametrize("bad, error", [(-1, OverflowError), (2**64, OverflowError), (1.0, TypeError),
                                            ("1", TypeError)])
    def test_sizes_must_be_unsigned_64_bit_ints(self, bad, error):
        with pytest.raises(error, match="argument 'current_width': "):
            Comparison.from_rgba(rgba(1, 1), 1, 1, rgba(1, 1), bad, 1)

    def test_binding_errors_name_the_callable(self):
        with pytest.raises(TypeError, match="missing required argument 'current_height'"):
            Comparison.from_rgba(b"", 0, 0, b"", 0)
        with pytest.raises(TypeError, match="unexpected keyword argument 'depth'"):
            Comparison.from_rgba(b"", 0, 0, b"", 0, 0, depth=8)
        with pytest.raises(TypeError, match="takes at most 6 positional arguments"):
            Comparison.from_rgba(b"", 0, 0, b"", 0, 0, 0)
        with pytest.raises(TypeError, match="multiple values for argument 'baseline_rgba'"):
            Comparison.from_rgba(b"", 0, 0, b"", 0, 0, baseline_rgba=b"")

    def test_png_arguments_must_be_bytes(self):
        good = png_bytes(np.zeros((1, 1, 4), np.uint8))
        with pytest.raises(TypeError, match="argument 'baseline_png': "):
            Comparison(bytearray(good), good)
        with pytest.raises(TypeError, match="argument 'current_png': "):
            Comparison(good, bytearray(good))

    def test_undecodable_png_and_baseline_precedence(self):
        good = png_bytes(np.zeros((2, 2, 4), np.uint8))
        truncated = good[:40]
        with pytest.raises(ValueError, match="^failed to decode PNG: ") as only_current:
            Comparison(good, b"this is not a png file")
        with pytest.raises(ValueError, match="^failed to decode PNG: ") as only_baseline:
            Comparison(truncated, good)
        with pytest.raises(ValueError) as both:
            Comparison(truncated, b"this is not a png file")
        assert str(both.value) == str(only_baseline.value) != str(only_current.value)

    def test_size_within_budget_with_missing_rows_fails_cleanly(self):
        data = png_claiming(8000, 8000, zlib.compress(b"\0" * 1000))  # 256 MB claimed, rows missing
        with pytest.raises(ValueError, match="^failed to decode PNG: "):
            Comparison(data, data)
