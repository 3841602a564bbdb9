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
        "default alpha of 0.2",
        "src/core/options.hpp",
        "    double alpha = 0.1;",
        "    double alpha = 0.2;",
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
        "Lanczos support one lobe short",
        "src/image_utils/lanczos.cpp",
        "constexpr float kLobes = 3.0f;",
        "constexpr float kLobes = 2.0f;",
    ),
    Fault(
        "a pair's undecodable baseline named as its current image",
        "src/image_utils/pair.cpp",
        "return std::move(*baseline).error().undecodable(InputImage::Baseline);",
        "return std::move(*baseline).error().undecodable(InputImage::Current);",
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
        "[&](u64 i) { return decode_image_pair(pairs[i].baseline, pairs[i].current, ignore); });",
        "[&](u64 i) { return decode_image_pair(pairs[i].current, pairs[i].baseline, ignore); });",
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
        "encoding failures raised as plain ValueError",
        "src/bindings/boundary.cpp",
        "            return classes.encode;",
        "            return PyExc_ValueError;",
    ),
    Fault(
        "module state not traversed, so an unused module is never freed",
        "src/bindings/module.cpp",
        "    module_slots,\n    traverse_module,\n",
        "    module_slots,\n    nullptr,\n",
    ),
    Fault(
        "an absent image of compare_batch borrows None",
        "src/bindings/batch_functions.cpp",
        "if (!encoded) return Py_NewRef(Py_None);",
        "if (!encoded) return Py_None;",
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
        "changed_pixels > limits.max_changed_pixels:",
        "changed_pixels >= limits.max_changed_pixels:",
    ),
    Fault(
        "percentage read as a fraction",
        "python/quorvane_cli/settings.py",
        'return float(text[:-1]) / 100 if text.endswith("%") else float(text)',
        'return float(text[:-1]) if text.endswith("%") else float(text)',
    ),
    Fault(
        "SSIM limit under allow_shifts read from the plain score",
        "python/quorvane_cli/analysis.py",
        "aligned.changed_pixels, aligned.changed_ratio, aligned.ssim,",
        "aligned.changed_pixels, aligned.changed_ratio, figures.ssim,",
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
        "            index = sum(1 for chunk in results if chunk)\n",
    ),
    Fault(
        "rows at the bottom edge exempt beyond the shift above them",
        "python/quorvane_cli/analysis.py",
        "exempt[-1] = max(0, min(last.rows, pushed_down))",
        "exempt[-1] = last.rows",
    ),
    Fault(
        "inserted rows not counted under allow_shifts",
        "python/quorvane_cli/analysis.py",
        "changed = in_place + inserted + deleted",
        "changed = in_place + deleted",
    ),
    Fault(
        "close bands never joined in the reading",
        "python/quorvane_cli/reading.py",
        "band.y - end_row(groups[-1][-1]) < JOIN_GAP",
        "band.y - end_row(groups[-1][-1]) < 0",
    ),
    Fault(
        "a device read as an input",
        "python/quorvane_cli/safe_files.py",
        "if not stat.S_ISREG(info.st_mode):",
        "if stat.S_ISDIR(info.st_mode):",
    ),
    Fault(
        "an output folder's unknown files overlooked",
        "python/quorvane_cli/safe_files.py",
        "unknown = [name for name in present if name not in {*(listed or ()), *leftovers, self.MARKER}]",
        "unknown = []",
    ),
    Fault(
        "control characters of names shown raw",
        "python/quorvane_cli/safe_files.py",
        'elif character.isprintable() or character == " ":',
        "elif True:",
    ),
    Fault(
        "out-of-range numbers of the options accepted",
        "python/quorvane_cli/settings.py",
        "if self.highest is not None and value > self.highest:",
        "if self.highest is not None and value > self.highest + 1:",
    ),
    Fault(
        "manifest paths may climb out of their folder",
        "python/quorvane_cli/manifest.py",
        'any(part in ("", ".", "..") for part in parts)',
        'any(part in ("", ".") for part in parts)',
    ),
    Fault(
        "manifest takes true for a number",
        "python/quorvane_cli/manifest.py",
        "(isinstance(value, bool) and kind is not bool)",
        "(isinstance(value, bool) and kind is float)",
    ),
    Fault(
        "manifest of another version read",
        "python/quorvane_cli/manifest.py",
        "if version != VERSION:",
        "if version is None:",
    ),
    Fault(
        "accepted image written without its digest checked",
        "python/quorvane_cli/approve.py",
        'if data is None or manifest.sha256(data) != pair["accepted_sha256"]:',
        "if data is None:",
    ),
    Fault(
        "baseline changed since the run written over",
        "python/quorvane_cli/approve.py",
        'if now != pair["baseline_sha256"] and not force:',
        'if now != pair["baseline_sha256"] and force:',
    ),
    Fault(
        "missing pair's baseline deleted unasked",
        "python/quorvane_cli/approve.py",
        "    if not delete_missing:\n",
        "    if delete_missing is None:\n",
    ),
    Fault(
        "a name matching nothing passes",
        "python/quorvane_cli/approve.py",
        "    if unmatched:\n        return USAGE\n",
        "",
    ),
    Fault(
        "review server answers any Host",
        "python/quorvane_cli/review.py",
        'if self.headers.get("Host") in self.server.hosts and secrets.compare_digest(',
        "if secrets.compare_digest(",
    ),
    Fault(
        "review server takes writes from any site",
        "python/quorvane_cli/review.py",
        "if origin is not None and origin not in self.server.origins:",
        'if origin is not None and not origin.startswith("http://"):',
    ),
    Fault(
        "Undo deletes the baseline it should restore",
        "python/quorvane_cli/review.py",
        "approve.restore(path, None if kept is None else kept.read_bytes(), self.folder.root)",
        "approve.restore(path, None, self.folder.root)",
    ),
    Fault(
        "preview overflows its box",
        "python/quorvane_cli/page.py",
        'scale = min(PREVIEW_WIDTH / size["width"], PREVIEW_HEIGHT / size["height"])',
        'scale = max(PREVIEW_WIDTH / size["width"], PREVIEW_HEIGHT / size["height"])',
    ),
    Fault(
        "deleted rows drawn at their current-image row on the baseline",
        "python/quorvane_cli/page.py",
        'offset += band["rows"] if band["kind"] == "deleted" else -band["rows"]',
        "offset += 0",
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
        "python/quorvane_cli/settings.py",
        "return dataclasses.replace(self, max_changed_pixels=0)",
        "return dataclasses.replace(self, max_changed_ratio=1.0)",
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
        "(limits.allow_shifts and figures.alignment is not None)",
        "(limits.allow_shifts or figures.alignment is not None)",
    ),
]
