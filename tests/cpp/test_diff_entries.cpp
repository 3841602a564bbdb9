// count_changed_pixels, build_diff_mask and render_diff_image against a
// brute-force walk over classify_pixel, on the calling thread and on the
// pool, with and without a cap; their checks; the word views.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "core/parallel.hpp"
#include "pixel_diff/classify.hpp"
#include "pixel_diff/count.hpp"
#include "pixel_diff/gray.hpp"
#include "pixel_diff/mask.hpp"
#include "pixel_diff/pixel_words.hpp"
#include "pixel_diff/render.hpp"

using namespace quorvane;

namespace {

struct Random {
    std::mt19937_64 engine;
    u64 below(u64 n) { return engine() % n; }
};

struct Pair {
    Bytes baseline;
    Bytes current;
    u64 width;
    u64 height;
};

void fill_rect(Bytes& pixels, u64 width, u64 x0, u64 y0, u64 w, u64 h, const u8 rgba[4]) {
    for (u64 y = y0; y < y0 + h; ++y) {
        for (u64 x = x0; x < x0 + w; ++x) std::memcpy(&pixels[(y * width + x) * 4], rgba, 4);
    }
}

// A page of flat blocks with soft one-pixel edges; the current image moves,
// recolours and fades some of them, so every pixel class occurs.
Pair make_pair(u64 width, u64 height, u64 seed) {
    Random random{std::mt19937_64(seed)};
    Pair pair{Bytes(width * height * 4, 255), {}, width, height};
    auto blocks = [&](Bytes& pixels, u64 count, bool fade) {
        for (u64 n = 0; n < count; ++n) {
            const u64 w = 2 + random.below(width / 4), h = 2 + random.below(height / 4);
            const u64 x = 1 + random.below(width - w - 1), y = 1 + random.below(height - h - 1);
            u8 colour[4] = {static_cast<u8>(random.below(256)), static_cast<u8>(random.below(256)),
                            static_cast<u8>(random.below(256)),
                            static_cast<u8>(fade && random.below(3) == 0 ? random.below(256) : 255)};
            u8 edge[4];
            for (int c = 0; c < 4; ++c) edge[c] = static_cast<u8>((colour[c] + 255) / 2);
            fill_rect(pixels, width, x - 1, y - 1, w + 2, h + 2, edge);
            fill_rect(pixels, width, x, y, w, h, colour);
        }
    };
    blocks(pair.baseline, 40, false);
    pair.current = pair.baseline;
    blocks(pair.current, 12, true);
    for (u64 n = 0; n < width * height / 50; ++n) {  // scattered single-pixel noise
        pair.current[random.below(width * height) * 4 + random.below(4)] ^= static_cast<u8>(1 + random.below(255));
    }
    return pair;
}

DiffOptions options_with(double threshold, bool include_aa) {
    DiffOptions options;
    options.threshold = threshold;
    options.include_aa = include_aa;
    return options;
}

// The classes of every pixel, by classify_pixel alone, in order.
std::vector<ClassifiedPixel> classify_all(const Pair& pair, const DiffOptions& options) {
    const PixelWords baseline(pair.baseline), current(pair.current);
    std::vector<ClassifiedPixel> classes;
    for (u64 y = 0; y < pair.height; ++y) {
        for (u64 x = 0; x < pair.width; ++x) {
            classes.push_back(classify_pixel(pair.baseline.data(), pair.current.data(), baseline.data(),
                                             current.data(), x, y, pair.width, pair.height,
                                             max_delta(options.threshold), options.include_aa));
        }
    }
    return classes;
}

// The reference mask: exact mode compares words, otherwise the rule.
std::vector<u8> reference_mask(const Pair& pair, const DiffOptions& options) {
    std::vector<u8> mask;
    if (max_delta(options.threshold) == 0.0 && !options.include_aa) {
        for (u64 i = 0; i < pair.width * pair.height; ++i) {
            mask.push_back(std::memcmp(&pair.baseline[i * 4], &pair.current[i * 4], 4) != 0 ? 1 : 0);
        }
        return mask;
    }
    for (const ClassifiedPixel& pixel : classify_all(pair, options)) {
        mask.push_back(pixel.kind == PixelClass::Changed ? 1 : 0);
    }
    return mask;
}

std::vector<u64> row_counts(const std::vector<u8>& mask, u64 width) {
    std::vector<u64> rows(mask.size() / width, 0);
    for (u64 i = 0; i < mask.size(); ++i) rows[i / width] += mask[i];
    return rows;
}

u64 sum(const std::vector<u8>& mask) { return std::accumulate(mask.begin(), mask.end(), u64{0}); }

const DiffOptions kModes[] = {options_with(0.0, false), options_with(0.0, true), options_with(0.1, false),
                              options_with(0.1, true), options_with(0.5, false)};

// Under and over the pool's limit, widths that are no multiple of a scan block.
const Size kSizes[] = {{203, 97}, {611, 433}};

template <class T>
std::string text_of(const Result<T>& result) {
    return result ? std::string("ok") : result.error().text();
}

}  // namespace

TEST("the count and the mask follow classify_pixel in every mode, on one thread and on the pool") {
    REQUIRE(!worth_splitting(kSizes[0].width * kSizes[0].height));
    REQUIRE(worth_splitting(kSizes[1].width * kSizes[1].height));
    for (const Size size : kSizes) {
        const Pair pair = make_pair(size.width, size.height, size.width);
        for (const DiffOptions& options : kModes) {
            const std::vector<u8> expected = reference_mask(pair, options);
            auto count = count_changed_pixels(pair.baseline, pair.current, pair.width, pair.height, options, {});
            auto mask = build_diff_mask(pair.baseline, pair.current, pair.width, pair.height, options);
            REQUIRE(count && mask);
            CHECK(sum(expected) > 0);
            CHECK_EQ(*count, sum(expected));
            CHECK_EQ(mask->count, sum(expected));
            CHECK(std::equal(mask->mask.begin(), mask->mask.end(), expected.begin(), expected.end()));
            CHECK_EQ(mask->width, pair.width);
            CHECK_EQ(mask->height, pair.height);
        }
    }
}

TEST("the diff image paints each pixel by its class, on one thread and on the pool") {
    for (const Size size : kSizes) {
        const Pair pair = make_pair(size.width, size.height, size.height);
        for (DiffOptions options : kModes) {
            options.alpha = 0.35;
            options.diff_color = {1, 2, 3};
            options.aa_color = {4, 5, 6};
            options.diff_color_alt = Rgb{7, 8, 9};
            auto image = render_diff_image(pair.baseline, pair.current, pair.width, pair.height, options);
            REQUIRE(image);
            REQUIRE(image->pixels.size() == pair.baseline.size());
            u64 changed = 0, darker = 0, anti_aliased = 0;
            u64 mismatches = 0;
            const std::vector<ClassifiedPixel> classes = classify_all(pair, options);
            for (u64 i = 0; i < classes.size(); ++i) {
                const u8* base = &pair.baseline[i * 4];
                const u8 gray = gray_pixel(base[0], base[1], base[2], base[3], options.alpha);
                u8 expected[4] = {gray, gray, gray, 255};
                const Rgb* colour = nullptr;
                if (classes[i].kind == PixelClass::AntiAliased) {
                    colour = &options.aa_color;
                    ++anti_aliased;
                }
                if (classes[i].kind == PixelClass::Changed) {
                    colour = classes[i].delta < 0.0 ? &*options.diff_color_alt : &options.diff_color;
                    ++changed;
                    darker += classes[i].delta < 0.0 ? 1 : 0;
                }
                if (colour) expected[0] = colour->r, expected[1] = colour->g, expected[2] = colour->b;
                mismatches += std::memcmp(expected, &image->pixels[i * 4], 4) != 0 ? 1 : 0;
            }
            CHECK_EQ(mismatches, u64{0});
            CHECK_EQ(image->count, changed);
            CHECK(darker > 0 && darker < changed);
            CHECK_EQ(anti_aliased > 0, !options.include_aa);
        }
    }
}

TEST("a capped count: in order on one thread, within [cap, total] on the pool, zero for a cap of zero") {
    // In order, exact mode stops at the cap and the rule after the row that reached it.
    for (const Size size : kSizes) {
        const Pair pair = make_pair(size.width, size.height, 5);
        const bool pooled = worth_splitting(size.width * size.height);
        for (const DiffOptions& options : {options_with(0.0, false), options_with(0.1, false)}) {
            const std::vector<u8> expected = reference_mask(pair, options);
            const std::vector<u64> rows = row_counts(expected, pair.width);
            const u64 total = sum(expected);
            for (u64 cap : {u64{0}, u64{1}, total / 3, total - 1, total, total + 1, u64{1} << 40}) {
                auto count = count_changed_pixels(pair.baseline, pair.current, pair.width, pair.height, options, cap);
                REQUIRE(count);
                u64 wanted = std::min(cap, total);
                if (options.threshold != 0.0 && cap != 0) {
                    wanted = 0;
                    for (auto row = rows.begin(); wanted < cap && row != rows.end(); ++row) wanted += *row;
                }
                if (!pooled || cap == 0 || cap > total) {
                    CHECK_EQ(*count, wanted);
                } else {
                    CHECK(*count >= cap && *count <= total);
                }
            }
        }
    }
}

TEST("identical buffers, empty ones included, give nothing changed and a grey image in every mode") {
    const Pair pairs[] = {make_pair(203, 97, 8), {{}, {}, 0, 0}, {{}, {}, 0, 9}, {{}, {}, 9, 0}};
    for (const Pair& pair : pairs) {
        for (DiffOptions options : kModes) {
            options.alpha = 0.6;
            auto count = count_changed_pixels(pair.baseline, pair.baseline, pair.width, pair.height, options, {});
            auto mask = build_diff_mask(pair.baseline, pair.baseline, pair.width, pair.height, options);
            auto image = render_diff_image(pair.baseline, pair.baseline, pair.width, pair.height, options);
            REQUIRE(count && mask && image);
            CHECK_EQ(*count, u64{0});
            CHECK_EQ(mask->count, u64{0});
            CHECK(mask->mask == decltype(mask->mask)(pair.width * pair.height, 0));
            CHECK_EQ(image->count, u64{0});
            REQUIRE(image->pixels.size() == pair.baseline.size());
            bool all_gray = true;
            for (u64 k = 0; k < pair.baseline.size(); k += 4) {
                const u8* base = &pair.baseline[k];
                const u8 gray = gray_pixel(base[0], base[1], base[2], base[3], options.alpha);
                const u8 expected[4] = {gray, gray, gray, 255};
                all_gray &= std::memcmp(expected, &image->pixels[k], 4) == 0;
            }
            CHECK(all_gray);
        }
    }
}

TEST("every entry checks threshold, alpha, size and lengths in that order") {
    using Entry = std::function<std::string(ByteView, ByteView, u64, u64, const DiffOptions&)>;
    using O = const DiffOptions&;
    const Entry entries[] = {
        [](ByteView b, ByteView c, u64 w, u64 h, O o) { return text_of(count_changed_pixels(b, c, w, h, o, {})); },
        [](ByteView b, ByteView c, u64 w, u64 h, O o) { return text_of(build_diff_mask(b, c, w, h, o)); },
        [](ByteView b, ByteView c, u64 w, u64 h, O o) { return text_of(render_diff_image(b, c, w, h, o)); },
    };
    const Bytes four(16, 0), fifteen(15, 0), twenty(20, 0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string threshold_text = "threshold must be in the range [0.0, 1.0]";
    const std::string alpha_text = "alpha must be in the range [0.0, 1.0]";
    auto options = [](double threshold, double alpha) {
        DiffOptions o;
        o.threshold = threshold;
        o.alpha = alpha;
        return o;
    };
    for (const Entry& entry : entries) {
        for (double bad : {1.5, -0.1, nan}) {
            CHECK_EQ(entry(four, four, 2, 2, options(bad, 0.1)), threshold_text);
            CHECK_EQ(entry(four, four, 2, 2, options(0.1, bad)), alpha_text);
        }
        CHECK_EQ(entry(fifteen, twenty, 1u << 31, 1u << 31, options(2.0, -1.0)), threshold_text);
        CHECK_EQ(entry(fifteen, twenty, u64{1} << 32, u64{1} << 32, options(0.1, -1.0)), alpha_text);
        CHECK_EQ(entry(fifteen, twenty, u64{1} << 32, u64{1} << 32, options(0.1, 0.1)),
                 std::string("image dimensions overflowed"));
        CHECK_EQ(entry(fifteen, twenty, u64{1} << 31, u64{1} << 31, options(0.1, 0.1)),
                 std::string("image dimensions overflowed"));
        CHECK_EQ(entry(fifteen, twenty, 2, 2, options(0.1, 0.1)),
                 std::string("invalid RGBA buffer length: expected 16 bytes for 2x2, got 15"));
        CHECK_EQ(entry(twenty, four, 5, 1, options(0.1, 0.1)),
                 std::string("invalid RGBA buffer length: expected 20 bytes for 5x1, got 16"));
        CHECK_EQ(entry(four, four, 2, 2, options(1.0, 0.0)), std::string("ok"));
    }
}

TEST("word views borrow aligned buffers and copy unaligned ones; both compare alike") {
    const Pair pair = make_pair(611, 433, 10);
    Bytes shifted_storage(pair.current.size() + 3);
    std::memcpy(shifted_storage.data() + 3, pair.current.data(), pair.current.size());
    const ByteView shifted(shifted_storage.data() + 3, pair.current.size());
    const PixelWords aligned(pair.current), copied(shifted);
    CHECK(aligned.borrowed() && !copied.borrowed());
    CHECK(reinterpret_cast<const u8*>(aligned.data()) == pair.current.data());
    REQUIRE(copied.size() == pair.width * pair.height && aligned.size() == copied.size());
    CHECK(std::memcmp(aligned.data(), copied.data(), aligned.size() * 4) == 0);
    for (const DiffOptions& options : kModes) {
        auto from_aligned = build_diff_mask(pair.baseline, pair.current, pair.width, pair.height, options);
        auto from_unaligned = build_diff_mask(pair.baseline, shifted, pair.width, pair.height, options);
        REQUIRE(from_aligned && from_unaligned);
        CHECK(from_aligned->mask == from_unaligned->mask);
        CHECK_EQ(from_aligned->count, from_unaligned->count);
    }
}
