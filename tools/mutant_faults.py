"""The faults tools/mutants.py applies: each a bug a developer could make
(a boundary, an operator, a constant, a skipped check, swapped arguments),
as the text it replaces, which must stand exactly once in its file."""

import dataclasses


@dataclasses.dataclass(frozen=True)
class Fault:
    name: str
    file: str
    original: str
    replacement: str


FAULTS = [
    # src/core
    Fault(
        "checked size skips the times-four overflow",
        "src/core/checked.hpp",
        "if (!pixels || !checked_mul(*pixels, kBytesPerPixel)) return std::nullopt;",
        "if (!pixels) return std::nullopt;",
    ),
    Fault(
        "region clipped one pixel short",
        "src/core/regions.cpp",
        "region.x + std::min(region.width, size.width - region.x)",
        "region.x + std::min(region.width, size.width - region.x - 1)",
    ),
    Fault(
        "batch keeps the last error, not the first",
        "src/core/parallel.hpp",
        "if (!error_) error_.emplace(std::move(error));",
        "error_.emplace(std::move(error));",
    ),
    # src/image_utils
    Fault(
        "Paeth ties go to c",
        "src/image_utils/png_filters.cpp",
        "const int nearest_distance = to_b < to_a ? to_b : to_a;\n    return to_c < nearest_distance",
        "const int nearest_distance = to_b < to_a ? to_b : to_a;\n    return to_c <= nearest_distance",
    ),
    Fault(
        "fast decoder ignores chunk checksums",
        "src/image_utils/png_fast_decode.cpp",
        "if (crc != read_be32(type + 4 + length)) return std::nullopt;",
        "",
    ),
    Fault(
        "thumbnail minimum width compared inclusively",
        "src/image_utils/thumbnail.cpp",
        "(min_width && *min_width > scaled.width)",
        "(min_width && *min_width >= scaled.width)",
    ),
    Fault(
        "resampled bytes truncated instead of rounded",
        "src/image_utils/lanczos.cpp",
        "(clamped - static_cast<float>(whole) >= 0.5f ? 1 : 0)",
        "(clamped - static_cast<float>(whole) > 0.5f ? 1 : 0)",
    ),
    Fault(
        "Lanczos sine not negated past half a turn",
        "src/image_utils/lanczos.cpp",
        "static_cast<long long>(turns) % 2 == 0 ? value : -value",
        "value",
    ),
    Fault(
        "Lanczos support one lobe short",
        "src/image_utils/lanczos.cpp",
        "constexpr float kLobes = 3.0f;",
        "constexpr float kLobes = 2.0f;",
    ),
    Fault(
        "padding below not painted",
        "src/image_utils/pair.cpp",
        "    paint_regions(pair.current, canvas, ignore.regions, ignore.color, pair.current_size);\n",
        "",
    ),
    # src/pixel_diff
    Fault(
        "changed-pixel rule counts the limit itself",
        "src/pixel_diff/classify.hpp",
        "if (!(std::fabs(delta) > max_delta))",
        "if (!(std::fabs(delta) >= max_delta))",
    ),
    Fault(
        "delta sign by the wrong brightness",
        "src/pixel_diff/color_delta.hpp",
        "return y > 0.0 ? -delta : delta;",
        "return y < 0.0 ? -delta : delta;",
    ),
    Fault(
        "threshold used unsquared",
        "src/pixel_diff/color_delta.hpp",
        "return threshold * (threshold * kDeltaScale);",
        "return threshold * kDeltaScale;",
    ),
    Fault(
        "anti-aliasing test allows three equal neighbours",
        "src/pixel_diff/antialiased.cpp",
        "if (zeroes > 2) return false;",
        "if (zeroes > 3) return false;",
    ),
    # src/ssim
    Fault(
        "SSIM constant C2 of 0.01 instead of 0.03",
        "src/ssim/window_formula.hpp",
        "inline constexpr double kSsimC2 = 58.5225;",
        "inline constexpr double kSsimC2 = 6.5025;",
    ),
    Fault(
        "window mirror repeats the edge",
        "src/ssim/box_mean.cpp",
        "while (i < 0 || i > last) i = i < 0 ? -i : 2 * last - i;",
        "while (i < 0 || i > last) i = i < 0 ? -i - 1 : 2 * last - i + 1;",
    ),
    Fault(
        "an 11-pixel image scored as a whole",
        "src/ssim/ssim.cpp",
        "if (width < kSsimWindow || height < kSsimWindow)",
        "if (width <= kSsimWindow || height <= kSsimWindow)",
    ),
    # src/alignment
    Fault(
        "edit budget rounded down",
        "src/alignment/align_rows.cpp",
        "const double by_ratio = std::ceil(max_edit_ratio * static_cast<double>(rows));",
        "const double by_ratio = std::floor(max_edit_ratio * static_cast<double>(rows));",
    ),
    Fault(
        "insertions and deletions swapped",
        "src/alignment/runs.cpp",
        "        case EditKind::Insertion:\n            return SegmentKind::Insert;",
        "        case EditKind::Insertion:\n            return SegmentKind::Delete;",
    ),
    Fault(
        "fingerprint cached from a failed alignment",
        "src/alignment/fingerprint.cpp",
        "if (record.aligned) pair.fingerprint.store_if_empty(record.fingerprint);",
        "pair.fingerprint.store_if_empty(record.fingerprint);",
    ),
    # src/clusters
    Fault(
        "dilation stops one column short on the right",
        "src/clusters/dilate.cpp",
        "const u64 to = width - last > radius ? last + radius + 1 : width;",
        "const u64 to = width - last > radius ? last + radius : width;",
    ),
    Fault(
        "minimum cluster size exclusive",
        "src/clusters/extract.cpp",
        "if (component.count < options.min_pixels) continue;",
        "if (component.count <= options.min_pixels) continue;",
    ),
    Fault(
        "truncated when exactly at the limit",
        "src/clusters/extract.cpp",
        "result.truncated = result.total_clusters > *options.max_clusters;",
        "result.truncated = result.total_clusters >= *options.max_clusters;",
    ),
    Fault(
        "merge gap exclusive",
        "src/clusters/merge.cpp",
        "if (columns_overlap >= overlap && gap_between(a.y, a.height, b.y, b.height) <= gap) return true;",
        "if (columns_overlap >= overlap && gap_between(a.y, a.height, b.y, b.height) < gap) return true;",
    ),
    # src/batch
    Fault(
        "batch pairs read current first",
        "src/batch/batch.cpp",
        "pairs.size(), [&](u64 i) { return decode_image_pair(pairs[i].first, pairs[i].second, ignore); });",
        "pairs.size(), [&](u64 i) { return decode_image_pair(pairs[i].second, pairs[i].first, ignore); });",
    ),
    Fault(
        "compare_batch thumbnail left unpainted",
        "src/batch/pair_work.cpp",
        "    paint_own_sizes(*images, options.ignore);\n",
        "",
    ),
    # src/bindings
    Fault(
        "colour component 256 accepted",
        "src/bindings/params.cpp",
        "if (overflow != 0 || value < 0 || value > 255) {",
        "if (overflow != 0 || value < 0 || value > 256) {",
    ),
    Fault("alpha not range-checked", "src/bindings/params.cpp", '    {"alpha", kAlphaRangeText},\n', ""),
    Fault(
        "a byte of a pair's int sequence is leaked",
        "src/bindings/params.cpp",
        '        auto byte = to_byte(item.get(), param, "byte");',
        '        Py_INCREF(item.get());\n        auto byte = to_byte(item.get(), param, "byte");',
    ),
    Fault(
        "repr counts width plus height",
        "src/bindings/comparison.cpp",
        'std::to_string(pair.width * pair.height) + " pixels";',
        'std::to_string(pair.width + pair.height) + " pixels";',
    ),
    # python/quorvane_cli
    Fault(
        "pixel limit compared inclusively",
        "python/quorvane_cli/analysis.py",
        'measured["changed_pixels"] > limits.max_changed_pixels:',
        'measured["changed_pixels"] >= limits.max_changed_pixels:',
    ),
    Fault(
        "percentage read as a fraction",
        "python/quorvane_cli/cli.py",
        'return float(text[:-1]) / 100 if text.endswith("%") else float(text)',
        'return float(text[:-1]) if text.endswith("%") else float(text)',
    ),
    Fault(
        "SSIM limit under allow_shifts read from the plain score",
        "python/quorvane_cli/analysis.py",
        'measured["ssim"] < limits.min_ssim',
        'figures["ssim"] < limits.min_ssim',
    ),
    Fault(
        "upper-case .PNG files left out",
        "python/quorvane_cli/files.py",
        'if name.lower().endswith(".png"):',
        'if name.endswith(".png"):',
    ),
    Fault(
        "an ignore-file key matches any path containing it",
        "python/quorvane_cli/regions.py",
        "return key == path or fnmatch.fnmatchcase(path, key)",
        "return key in path or fnmatch.fnmatchcase(path, key)",
    ),
    Fault(
        "chunks put back out of order",
        "python/quorvane_cli/cluster.py",
        "            index = position[future.key]\n",
        "            index = len([r for r in results if r is not None])\n",
    ),
    # python/quorvane_pytest
    Fault(
        "second unnamed screenshot numbered 1",
        "python/quorvane_pytest/naming.py",
        'return f"{stem}.png" if call == 1 else f"{stem}-{call}.png"',
        'return f"{stem}.png" if call == 1 else f"{stem}-{call - 1}.png"',
    ),
    Fault(
        "names cut one character short",
        "python/quorvane_pytest/naming.py",
        "stem = safe(test.name)[:LONGEST_NAME]",
        "stem = safe(test.name)[:LONGEST_NAME - 1]",
    ),
    Fault(
        "no limit given lets any change pass",
        "python/quorvane_pytest/options.py",
        "limits = dataclasses.replace(limits, max_changed_pixels=0)",
        "limits = dataclasses.replace(limits, max_changed_ratio=1.0)",
    ),
    Fault(
        "mask boxes not scaled to device pixels",
        "python/quorvane_pytest/capture.py",
        "right = math.ceil((x + width - origin[0]) * scale)",
        "right = math.ceil(x + width - origin[0])",
    ),
    Fault(
        "size mismatch passes without aligned rows",
        "python/quorvane_pytest/check.py",
        '(limits.allow_shifts and figures["alignment"] is not None)',
        '(limits.allow_shifts or figures["alignment"] is not None)',
    ),
]
