"""Types of the `quorvane` extension module.

Each signature follows the order of the module's own parameter declarations;
the colour defaults are written `...` as the module shows them.
"""

from collections.abc import Sequence
from typing import Literal, TypeAlias, final

__version__: str
# The memory_limit every call on a pair has unless given: 2 GiB.
DEFAULT_MEMORY_LIMIT: int

# An RGB colour: a tuple of exactly three ints from 0 to 255 (a list is refused).
_Color: TypeAlias = tuple[int, int, int]
# A PNG file in a batch: bytes, a bytearray or any other sequence of ints from 0 to 255.
_PngData: TypeAlias = Sequence[int]
# Batch input: (baseline PNG, current PNG) tuples; any sequence except a str.
_PngPairs: TypeAlias = Sequence[tuple[_PngData, _PngData]]
# Ignore regions: (x, y, width, height) rectangles of the common canvas.
_Regions: TypeAlias = Sequence[Sequence[int]]
# The colour they are painted in: three ints from 0 to 255.
_MaskColor: TypeAlias = Sequence[int]
# A thumbnail's WebP effort: libwebp's lossless preset level 0 to 9, "fast"
# for the module's own encoder, or None for libwebp's default configuration.
_Effort: TypeAlias = int | Literal["fast"] | None

# Errors. Each is a ValueError whose message is the module's text; the class
# and its fields say what happened.

class DecodeError(ValueError):
    """A PNG image that could not be decoded."""

    side: Literal["baseline", "current"] | None  # None: a lone image, as of thumbnail()

class RegionError(ValueError):
    """An ignore rectangle or mask colour that is not sound."""

    reason: str  # the message without its "argument 'name': " prefix

class EncodeError(ValueError):
    """An image that cannot be written as PNG or lossless WebP."""

class AlignmentError(ValueError):
    """An alignment that failed, or that belongs to another image pair."""

class MemoryLimitError(ValueError):
    """A call on an image pair that would take more memory than its memory_limit."""

    needed: int  # the bytes the call needs, the pair's canvas included
    limit: int  # the memory_limit it had

@final
class Comparison:
    def __new__(
        cls,
        baseline_png: bytes,
        current_png: bytes,
        *,
        ignore: _Regions = (),
        mask_color: _MaskColor = (255, 0, 255),
        memory_limit: int = 2147483648,
    ) -> Comparison: ...
    @classmethod
    def from_rgba(
        cls,
        baseline_rgba: bytes,
        baseline_width: int,
        baseline_height: int,
        current_rgba: bytes,
        current_width: int,
        current_height: int,
        *,
        ignore: _Regions = (),
        mask_color: _MaskColor = (255, 0, 255),
        memory_limit: int = 2147483648,
    ) -> Comparison: ...
    @classmethod
    def batch(
        cls,
        pairs: _PngPairs,
        *,
        ignore: _Regions = (),
        mask_color: _MaskColor = (255, 0, 255),
        memory_limit: int = 2147483648,
    ) -> list[Comparison]: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def size_mismatch(self) -> bool: ...
    @property
    def baseline_size(self) -> tuple[int, int]: ...
    @property
    def current_size(self) -> tuple[int, int]: ...
    @property
    def ignored_pixels(self) -> int: ...
    @property
    def memory_limit(self) -> int: ...

    # Counting and drawing.
    def diff_count(self, threshold: float = 0.1, include_aa: bool = False) -> int: ...
    def diff_count_capped(self, max_diffs: int, threshold: float = 0.1, include_aa: bool = False) -> int: ...
    def diff_image(
        self,
        threshold: float = 0.1,
        alpha: float = 0.1,
        include_aa: bool = False,
        diff_color: _Color = ...,
        aa_color: _Color = ...,
        diff_color_alt: _Color | None = None,
    ) -> bytes: ...
    def diff_image_and_thumbnail(
        self,
        *,
        threshold: float = 0.1,
        alpha: float = 0.1,
        include_aa: bool = False,
        diff_color: _Color = ...,
        aa_color: _Color = ...,
        diff_color_alt: _Color | None = None,
        thumbnail_width: int = 200,
        thumbnail_height: int | None = None,
        effort: _Effort = None,
    ) -> tuple[bytes, bytes]: ...

    # Structural similarity.
    def ssim(self) -> float: ...

    # Clusters of changed pixels.
    def clusters(
        self,
        threshold: float = 0.1,
        include_aa: bool = False,
        min_pixels: int = 16,
        min_side: int = 0,
        dilation: int = 4,
        max_clusters: int | None = None,
        merge_gap: int = 0,
        merge_overlap: float = 0.5,
    ) -> ClustersResult: ...

    # Row alignment and the shift-aware analyses that take it.
    def row_alignment(
        self,
        threshold: float = 0.1,
        include_aa: bool = False,
        max_edit_ratio: float = 0.25,
        max_edit_rows: int = 2048,
        *,
        row_threshold: float | None = None,
    ) -> RowAlignment: ...
    def aligned_clusters(
        self,
        alignment: RowAlignment,
        threshold: float = 0.1,
        include_aa: bool = False,
        min_pixels: int = 16,
        min_side: int = 0,
        dilation: int = 4,
        max_clusters: int | None = None,
        merge_gap: int = 0,
        merge_overlap: float = 0.5,
    ) -> ClustersResult: ...
    def aligned_diff_image(
        self,
        alignment: RowAlignment,
        threshold: float = 0.1,
        alpha: float = 0.1,
        include_aa: bool = False,
        diff_color: _Color = ...,
        aa_color: _Color = ...,
        diff_color_alt: _Color | None = None,
    ) -> bytes: ...
    def aligned_diff_image_and_thumbnail(
        self,
        alignment: RowAlignment,
        *,
        threshold: float = 0.1,
        alpha: float = 0.1,
        include_aa: bool = False,
        diff_color: _Color = ...,
        aa_color: _Color = ...,
        diff_color_alt: _Color | None = None,
        thumbnail_width: int = 200,
        thumbnail_height: int | None = None,
        effort: _Effort = None,
    ) -> tuple[bytes, bytes]: ...
    def aligned_ssim(self, alignment: RowAlignment) -> float: ...

    # Lossless WebP thumbnails.
    def current_thumbnail(
        self,
        width: int = 200,
        height: int | None = None,
        min_width: int | None = None,
        min_height: int | None = None,
        *,
        effort: _Effort = None,
    ) -> bytes: ...
    def baseline_thumbnail(
        self,
        width: int = 200,
        height: int | None = None,
        min_width: int | None = None,
        min_height: int | None = None,
        *,
        effort: _Effort = None,
        own_size: bool = False,
    ) -> bytes: ...

# The result classes are made by the module only; calling one raises TypeError.

@final
class RowSegment:
    @property
    def kind(self) -> Literal["equal", "replace", "insert", "delete"]: ...
    @property
    def baseline_start(self) -> int: ...
    @property
    def current_start(self) -> int: ...
    @property
    def len(self) -> int: ...

@final
class ShiftBand:
    @property
    def kind(self) -> Literal["inserted", "deleted"]: ...
    @property
    def y(self) -> int: ...
    @property
    def rows(self) -> int: ...

@final
class RowAlignment:
    @property
    def aligned(self) -> bool: ...
    @property
    def edit_distance(self) -> int: ...
    @property
    def inserted_rows(self) -> int: ...
    @property
    def deleted_rows(self) -> int: ...
    @property
    def changed_rows(self) -> int: ...
    @property
    def residual_count(self) -> int: ...
    @property
    def segments(self) -> list[RowSegment]: ...
    @property
    def bands(self) -> list[ShiftBand]: ...

@final
class BoundingBox:
    @property
    def x(self) -> int: ...
    @property
    def y(self) -> int: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...

@final
class Cluster:
    @property
    def bbox(self) -> BoundingBox: ...
    @property
    def centroid(self) -> tuple[float, float]: ...
    @property
    def pixel_count(self) -> int: ...
    @property
    def merged_from(self) -> int: ...
    @property
    def changed_pixels(self) -> int: ...

@final
class ClustersResult:
    @property
    def clusters(self) -> list[Cluster]: ...
    @property
    def total_clusters(self) -> int: ...
    @property
    def truncated(self) -> bool: ...

# Module functions.

def thumbnail(png_bytes: bytes, width: int = 200, height: int | None = None, *, effort: _Effort = None) -> bytes: ...
def resize_png(png_bytes: bytes, width: int, height: int) -> bytes: ...
def diff_batch(
    pairs: _PngPairs,
    threshold: float = 0.1,
    alpha: float = 0.1,
    include_aa: bool = False,
    diff_color: _Color = ...,
    aa_color: _Color = ...,
    diff_color_alt: _Color | None = None,
    *,
    ignore: _Regions = (),
    mask_color: _MaskColor = (255, 0, 255),
    memory_limit: int = 2147483648,
) -> list[tuple[bytes, int, int, int]]: ...
def diff_count_batch(
    pairs: _PngPairs,
    threshold: float = 0.1,
    include_aa: bool = False,
    *,
    ignore: _Regions = (),
    mask_color: _MaskColor = (255, 0, 255),
    memory_limit: int = 2147483648,
) -> list[tuple[int, int, int]]: ...
def ssim_batch(
    pairs: _PngPairs,
    *,
    ignore: _Regions = (),
    mask_color: _MaskColor = (255, 0, 255),
    memory_limit: int = 2147483648,
) -> list[float]: ...
def compare_batch(
    pairs: _PngPairs,
    threshold: float = 0.1,
    alpha: float = 0.1,
    include_aa: bool = False,
    diff_color: _Color = ...,
    aa_color: _Color = ...,
    diff_color_alt: _Color | None = None,
    return_diff: bool = False,
    thumbnail_width: int | None = None,
    thumbnail_height: int | None = None,
    *,
    effort: _Effort = None,
    ignore: _Regions = (),
    mask_color: _MaskColor = (255, 0, 255),
    memory_limit: int = 2147483648,
) -> list[tuple[int, float, int, int, bytes | None, bytes | None]]: ...
def check_regions(ignore: _Regions, mask_color: _MaskColor = (255, 0, 255)) -> None: ...
def memory_needed(baseline_width: int, baseline_height: int, current_width: int, current_height: int) -> int: ...
