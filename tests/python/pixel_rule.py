"""A brute-force reference of the changed-pixel rule and the diff image, in
plain Python floats (IEEE doubles), written from the published formulas:
YIQ colour delta with the background blend, the anti-aliasing test over both
images, the grey fade. Slow, and meant only for small images."""

import math

GOLDEN = 1.618033988749895
GOLDEN_SQUARED = 2.618033988749895


def max_delta(threshold):
    return threshold * (threshold * 35215.0)


def color_delta(first, second, k, m, y_only=False):
    r1, g1, b1, a1 = (float(v) for v in first[k : k + 4])
    r2, g2, b2, a2 = (float(v) for v in second[m : m + 4])
    dr, dg, db, da = r1 - r2, g1 - g2, b1 - b2, a1 - a2
    if dr == 0 and dg == 0 and db == 0 and da == 0:
        return 0.0
    if a1 < 255 or a2 < 255:
        rb = 207.0 if k % 2 else 48.0
        gb = 207.0 if math.floor(k / GOLDEN) % 2 else 48.0
        bb = 207.0 if math.floor(k / GOLDEN_SQUARED) % 2 else 48.0
        dr = ((r1 * a1 - r2 * a2) - rb * da) / 255.0
        dg = ((g1 * a1 - g2 * a2) - gb * da) / 255.0
        db = ((b1 * a1 - b2 * a2) - bb * da) / 255.0
    y = (dr * 0.29889531 + dg * 0.58662247) + db * 0.11448223
    if y_only:
        return y
    i = (dr * 0.59597799 - dg * 0.2741761) - db * 0.32180189
    q = (dr * 0.21147017 - dg * 0.52261711) + db * 0.31114694
    delta = (0.5053 * y * y + 0.299 * i * i) + 0.1957 * q * q
    return -delta if y > 0 else delta


class Image:
    """Flat RGBA bytes with a size; pixels compared as 4-byte tuples."""

    def __init__(self, data, width, height):
        self.data, self.width, self.height = bytes(data), width, height

    def pixel(self, x, y):
        k = 4 * (y * self.width + x)
        return self.data[k : k + 4]

    def neighbours(self, x, y):
        """Neighbour coordinates column by column, and the zero the image's
        border counts for."""
        x0, x2 = max(x - 1, 0), min(x + 1, self.width - 1)
        y0, y2 = max(y - 1, 0), min(y + 1, self.height - 1)
        cells = [(nx, ny) for nx in range(x0, x2 + 1) for ny in range(y0, y2 + 1) if (nx, ny) != (x, y)]
        return cells, 1 if x in (x0, x2) or y in (y0, y2) else 0


def has_many_siblings(image, x, y):
    cells, zeroes = image.neighbours(x, y)
    return zeroes + sum(image.pixel(nx, ny) == image.pixel(x, y) for nx, ny in cells) > 2


def antialiased(image, other, x, y):
    cells, zeroes = image.neighbours(x, y)
    k = 4 * (y * image.width + x)
    low = high = 0.0
    low_at = high_at = (0, 0)
    for nx, ny in cells:
        d = color_delta(image.data, image.data, k, 4 * (ny * image.width + nx), y_only=True)
        if d == 0:
            zeroes += 1
            if zeroes > 2:
                return False
        elif d < low:
            low, low_at = d, (nx, ny)
        elif d > high:
            high, high_at = d, (nx, ny)
    if low == 0 or high == 0:
        return False
    return any(has_many_siblings(image, *at) and has_many_siblings(other, *at) for at in (low_at, high_at))


def classify(baseline, current, x, y, threshold, include_aa):
    """('unchanged' | 'aa' | 'changed', delta)."""
    if baseline.pixel(x, y) == current.pixel(x, y):
        return "unchanged", 0.0
    k = 4 * (y * baseline.width + x)
    delta = color_delta(baseline.data, current.data, k, k)
    if not abs(delta) > max_delta(threshold):
        return "unchanged", delta
    if not include_aa and (antialiased(baseline, current, x, y) or antialiased(current, baseline, x, y)):
        return "aa", delta
    return "changed", delta


def count(baseline, current, threshold, include_aa):
    cells = [(x, y) for y in range(baseline.height) for x in range(baseline.width)]
    if max_delta(threshold) == 0.0 and not include_aa:  # exact mode: the stored words
        return sum(baseline.pixel(x, y) != current.pixel(x, y) for x, y in cells)
    return sum(classify(baseline, current, x, y, threshold, include_aa)[0] == "changed" for x, y in cells)


def diff_image(baseline, current, threshold, alpha, include_aa, diff_color, aa_color, diff_color_alt):
    """The diff image as rows of RGB tuples."""
    rows = []
    for y in range(baseline.height):
        row = []
        for x in range(baseline.width):
            kind, delta = classify(baseline, current, x, y, threshold, include_aa)
            if kind == "aa":
                row.append(tuple(aa_color))
            elif kind == "changed":
                row.append(tuple(diff_color_alt if diff_color_alt is not None and delta < 0 else diff_color))
            else:
                r, g, b, a = baseline.pixel(x, y)
                level = 255.0 + (a / 255.0) * (alpha * ((r * 0.29889531 + g * 0.58662247) + b * 0.11448223 - 255.0))
                row.append((int(min(max(level, 0.0), 255.0)),) * 3)
        rows.append(row)
    return rows
