// The changed-pixel rule: the colour delta, the distance limit and the grey
// level on their published values, bit for bit (no fused multiply-add, no
// reassociation); the anti-aliasing and siblings tests on hand-drawn
// neighbourhoods; count_changed_pixels, build_diff_mask and render_diff_image
// against a walk over classify_pixel, on the calling thread and on the pool,
// with and without a cap; and every vector path of the rule against the
// scalar path, on random pairs and on real screenshots.
#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <optional>
#include <span>

#include "check.hpp"
#include "core/parallel.hpp"
#include "image_utils/pad.hpp"
#include "image_utils/pair.hpp"
#include "operations/analyses.hpp"
#include "operations/memory_needs.hpp"
#include "pixel_diff/antialiased.hpp"
#include "pixel_diff/classify.hpp"
#include "pixel_diff/count.hpp"
#include "pixel_diff/gray.hpp"
#include "pixel_diff/mask.hpp"
#include "pixel_diff/pixel_words.hpp"
#include "pixel_diff/render.hpp"
#include "pixel_diff/row_rule.hpp"
#include "pixel_diff/scan.hpp"

using namespace quorvane;

TEST("colour deltas, the distance limit and the grey level have their published values") {
    struct Delta {
        u8 first[4], second[4];
        bool y_only;
        double expected;
    };
    const Delta deltas[] = {
        {{0, 0, 0, 255}, {255, 255, 255, 255}, false, 32857.13315714265},  // signed by which is brighter
        {{255, 255, 255, 255}, {0, 0, 0, 255}, false, -32857.13315714265},
        {{0, 0, 0, 255}, {255, 255, 255, 255}, true, -255.00000255},
        {{255, 255, 255, 255}, {0, 0, 0, 255}, true, 255.00000255},
        {{255, 0, 0, 255}, {0, 0, 255, 255}, false, -17620.62777490937},  // red the brighter by the luma weights
        {{255, 255, 255, 255}, {0, 0, 0, 0}, false, -21651.600133032},    // blended onto the background at 0
        {{10, 20, 30, 40}, {10, 20, 30, 40}, false, 0.0},
        {{10, 20, 30, 40}, {10, 20, 30, 40}, true, 0.0},
        {{255, 0, 0, 0}, {0, 255, 7, 0}, false, 0.0},  // fully transparent: any colour
    };
    for (const Delta& d : deltas) CHECK_EQ(color_delta(d.first, d.second, 0, 0, d.y_only), d.expected);
    // Each offset addresses its own buffer.
    const u8 first[8] = {1, 2, 3, 255, 0, 0, 0, 255}, second[8] = {255, 255, 255, 255, 9, 9, 9, 9};
    CHECK_EQ(color_delta(first, second, 4, 0, false), 32857.13315714265);

    CHECK(max_delta(0.0) == 0.0 && max_delta(0.1) == 352.15000000000003 && max_delta(1.0) == 35215.0);
    // A delta at the limit is no change: transparent pixels of two colours are 0 apart.
    const u32 word_a = 1, word_b = 2;
    CHECK(classify_pixel(deltas[8].first, deltas[8].second, &word_a, &word_b, 0, 0, 1, 1, 0.0, true).kind ==
          PixelClass::Unchanged);

    struct Gray {
        u8 r, g, b, a;
        double alpha;
        u8 expected;
    };
    const Gray grays[] = {
        {0, 0, 0, 255, 0.1, 229},  // 229.5, truncated
        {0, 0, 0, 255, 1.0, 0},   {0, 0, 0, 255, 0.0, 255},  {255, 255, 255, 255, 0.3, 255},
        {0, 0, 0, 0, 0.3, 255},   {17, 200, 3, 0, 1.0, 255}, {100, 100, 100, 255, 1.0, 100},  // brightness 100.000001
        {0, 0, 0, 128, 1.0, 127},  // half opacity halves the fade
        {0, 0, 0, 180, 0.9, 93},   // exactly 93.0 when alpha scales the brightness before the opacity does
    };
    for (const Gray& g : grays) CHECK_EQ(gray_pixel(g.r, g.g, g.b, g.a, g.alpha), g.expected);
}

namespace {

// An image of grey levels written row by row, rows parted by '/': W white,
// B black, o 128 (the pixel under test), . 150, t and u transparent pixels of
// two colours, any other character its own code; all others opaque.
struct Grid {
    Bytes pixels;
    std::vector<u32> words;
    u64 width = 0, height = 0;

    explicit Grid(const std::string& rows) {
        for (char c : rows) {
            if (c == '/') continue;
            const int level = c == 'W' ? 255 : c == 'B' ? 0 : c == 'o' ? 128 : c == '.' ? 150 : c;
            if (c == 't' || c == 'u') {
                pixels.insert(pixels.end(), {u8(c == 't' ? 10 : 200), 20, 30, 0});
            } else {
                pixels.insert(pixels.end(), {u8(level), u8(level), u8(level), 255});
            }
        }
        height = static_cast<u64>(std::count(rows.begin(), rows.end(), '/')) + 1;
        width = pixels.size() / 4 / height;
        refresh();
    }
    void refresh() {
        const PixelWords view(pixels);
        words.assign(view.data(), view.data() + view.size());
    }
    Grid with(u64 x, u64 y, int level) const {
        Grid copy = *this;
        std::fill_n(copy.pixels.begin() + static_cast<long>((y * width + x) * 4), 3, u8(level));
        copy.refresh();
        return copy;
    }
    bool siblings(u64 x, u64 y) const { return has_many_siblings(words.data(), x, y, width, height); }
    bool aa(u64 x, u64 y, const Grid& other) const {
        return antialiased(pixels.data(), x, y, width, height, words.data(), other.words.data());
    }
    // Pixel (x, y) anti-aliased against the same image with that pixel set to `level`.
    bool aa_against(u64 x, u64 y, int level) const { return aa(x, y, with(x, y, level)); }
};

}  // namespace

TEST("siblings: three equal neighbours inside, two more than the border, within degenerate images too") {
    const Grid grid("1155/1751/9185");
    CHECK(!grid.siblings(1, 1));                // interior 7: no equal neighbour
    CHECK(grid.siblings(2, 1));                 // interior 5: (2,0), (3,0), (3,2)
    CHECK(!grid.with(3, 2, 6).siblings(2, 1));  // interior with two only
    CHECK(grid.siblings(0, 0));                 // corner: border, (1,0), (0,1)
    CHECK(grid.siblings(1, 0));                 // edge: border, (0,0), (0,1)
    CHECK(!grid.siblings(0, 2));                // corner 9: border only
    CHECK(!grid.siblings(3, 1));                // edge 1: border only
    CHECK(!Grid("4").siblings(0, 0));
    const Grid column("5/5/5/6"), row("5556");
    CHECK(column.siblings(0, 1) && !column.siblings(0, 2) && !column.siblings(0, 3));
    CHECK(row.siblings(1, 0) && !row.siblings(2, 0));
}

TEST("an edge pixel is anti-aliased between flat bright and dark areas present in both images") {
    // Centre (2, 2) between its brightest neighbour, white at (1, 1), and its
    // darkest, black at (1, 2), with the flat area around the white at (1, 1).
    const Grid first_flat("WWW../.W.../.Bo../...W./.....");
    CHECK(first_flat.aa_against(2, 2, 150));
    CHECK(!first_flat.aa(2, 2, first_flat.with(2, 2, 150).with(0, 0, 150)));  // flat in one image only
    // Among equally bright neighbours the first visited is the extreme: the
    // white at (1, 1), not the flat white at (3, 3) visited after it.
    CHECK(!Grid("...../.W.../.Bo../...W./..WWW").aa_against(2, 2, 150));
    // Brighter or darker than all its neighbours.
    CHECK(!Grid("WWWW/WBWW/WWWW").aa_against(1, 1, 255));
    CHECK(!Grid("BBB/BWB/BBB").aa_against(1, 1, 0));
    // Two neighbours equal to the centre are tolerated inside the image, but
    // not on the bottom edge, where the border makes three.
    CHECK(Grid("WWW../.W.o./.Boo./.....").aa_against(2, 2, 150));
    CHECK(!Grid("WWW../.W.o./.Boo.").aa_against(2, 2, 150));
    // Nor three of equal brightness that are not all equal pixels: transparent ones of two colours.
    CHECK(!Grid("WWW../.W.t./.Btt./...u.").aa_against(2, 2, 150));
    // A corner has three neighbours and no room for an edge.
    CHECK(!Grid("oW/BW").aa_against(0, 0, 255));
    CHECK(!Grid("oo/oB").aa_against(0, 0, 0));
    // One-pixel-wide and one-pixel-high images never.
    const Grid column("B/B/o/W/W"), row("BBoWW");
    for (u64 i = 0; i < 5; ++i) CHECK(!column.aa_against(0, i, 7) && !row.aa_against(i, 0, 7));
    CHECK(!Grid("o").aa_against(0, 0, 7));
}

namespace {

struct Pair {
    Bytes baseline, current;
    u64 width, height;
};

// A page of flat blocks with soft one-pixel edges; the current image moves,
// recolours and fades some of them and adds scattered noise, so that every
// pixel class occurs.
Pair make_pair(u64 width, u64 height, u64 seed) {
    std::mt19937_64 engine(seed);
    const auto below = [&](u64 n) { return engine() % n; };
    Pair pair{Bytes(width * height * 4, 255), {}, width, height};
    const auto blocks = [&](Bytes& pixels, u64 count, bool fade) {
        for (u64 n = 0; n < count; ++n) {
            const u64 w = 2 + below(width / 4), h = 2 + below(height / 4);
            const u64 x = 1 + below(width - w - 1), y = 1 + below(height - h - 1);
            const u8 colour[4] = {u8(below(256)), u8(below(256)), u8(below(256)),
                                  u8(fade && below(3) == 0 ? below(256) : 255)};
            for (u64 v = y - 1; v < y + h + 1; ++v) {
                for (u64 u = x - 1; u < x + w + 1; ++u) {
                    const bool edge = v < y || v >= y + h || u < x || u >= x + w;
                    u8* pixel = &pixels[(v * width + u) * 4];
                    for (int c = 0; c < 4; ++c) pixel[c] = static_cast<u8>(edge ? (colour[c] + 255) / 2 : colour[c]);
                }
            }
        }
    };
    blocks(pair.baseline, 40, false);
    pair.current = pair.baseline;
    blocks(pair.current, 12, true);
    for (u64 n = 0; n < width * height / 50; ++n) {
        pair.current[below(width * height) * 4 + below(4)] ^= static_cast<u8>(1 + below(255));
    }
    return pair;
}

std::vector<ClassifiedPixel> classify_all(const Pair& pair, const DiffOptions& options) {
    const PixelWords baseline(pair.baseline), current(pair.current);
    std::vector<ClassifiedPixel> classes;
    for (u64 y = 0; y < pair.height; ++y) {
        for (u64 x = 0; x < pair.width; ++x) {
            classes.push_back(classify_pixel(pair.baseline.data(), pair.current.data(), baseline.data(), current.data(),
                                             x, y, pair.width, pair.height, max_delta(options.threshold),
                                             options.include_aa));
        }
    }
    return classes;
}

DiffOptions mode(double threshold, bool include_aa) {
    DiffOptions options;
    options.threshold = threshold;
    options.include_aa = include_aa;
    return options;
}

const DiffOptions kModes[] = {mode(0.0, false), mode(0.0, true), mode(0.1, false), mode(0.1, true), mode(0.5, false)};

// Under and over the pool's limit, widths that are no multiple of a scan block.
const Size kSizes[] = {{203, 97}, {611, 433}};
static_assert(203 * 97 < kParallelPixels && 611 * 433 >= kParallelPixels);

}  // namespace

TEST("count, mask and diff image follow classify_pixel in every mode, on one thread and on the pool, capped or not") {
    std::vector<Pair> pairs;
    for (const Size size : kSizes) pairs.push_back(make_pair(size.width, size.height, size.width));
    pairs.push_back({pairs[0].baseline, pairs[0].baseline, pairs[0].width, pairs[0].height});  // identical
    for (const Size empty : {Size{0, 0}, Size{0, 9}, Size{9, 0}}) pairs.push_back({{}, {}, empty.width, empty.height});
    for (const Pair& pair : pairs) {
        const bool changed = pair.baseline != pair.current;
        for (DiffOptions options : kModes) {
            options.alpha = 0.35;
            options.diff_color = {1, 2, 3};
            options.aa_color = {4, 5, 6};
            options.diff_color_alt = Rgb{7, 8, 9};
            // Exact mode compares the pixels' bytes; otherwise the rule decides.
            const std::vector<ClassifiedPixel> classes = classify_all(pair, options);
            const bool exact = max_delta(options.threshold) == 0.0 && !options.include_aa;
            std::vector<u8> expected;
            for (u64 i = 0; i < classes.size(); ++i) {
                expected.push_back(exact ? std::memcmp(&pair.baseline[i * 4], &pair.current[i * 4], 4) != 0
                                         : classes[i].kind == PixelClass::Changed);
            }
            const u64 total = std::accumulate(expected.begin(), expected.end(), u64{0});
            auto count = count_changed_pixels(pair.baseline, pair.current, pair.width, pair.height, options, {});
            REQUIRE(count);
            CHECK_EQ(total > 0, changed);
            CHECK(*count == total);
            // The rows classified once, kept whole, kept only up to a limit
            // they pass, or made by another rule: the mask and the image read
            // the blocks only when the rule is theirs.
            const u64 kept_limit = changed ? sizeof(ClassifiedBlock) : 0;
            auto whole = count_and_classify(pair.baseline, pair.current, pair.width, pair.height, options, ~u64{0});
            auto limited =
                count_and_classify(pair.baseline, pair.current, pair.width, pair.height, options, kept_limit);
            DiffOptions other_limit = options, other_test = options;
            other_limit.threshold = options.threshold == 0.5 ? 0.05 : 0.5;
            other_test.include_aa = !options.include_aa;
            auto by_limit =
                count_and_classify(pair.baseline, pair.current, pair.width, pair.height, other_limit, ~u64{0});
            auto by_test =
                count_and_classify(pair.baseline, pair.current, pair.width, pair.height, other_test, ~u64{0});
            REQUIRE(whole && limited && by_limit && by_test);
            CHECK(whole->changed == total && limited->changed == total);
            CHECK_EQ(whole->blocks != nullptr, !exact && pair.baseline.data() != pair.current.data());
            CHECK(limited->blocks == nullptr || !changed || whole->blocks->blocks.size() <= 1);
            for (const ChangeBlocks* known : {static_cast<const ChangeBlocks*>(nullptr), whole->blocks.get(),
                                              by_limit->blocks.get(), by_test->blocks.get()}) {
                auto mask = build_diff_mask(pair.baseline, pair.current, pair.width, pair.height, options, known);
                auto image = render_diff_image(pair.baseline, pair.current, pair.width, pair.height, options, known);
                REQUIRE(mask && image && image->pixels.size() == pair.baseline.size());
                CHECK(mask->count == total);
                CHECK(std::equal(mask->mask.begin(), mask->mask.end(), expected.begin(), expected.end()));
                CHECK(mask->width == pair.width && mask->height == pair.height);

                u64 drawn = 0, darker = 0, anti_aliased = 0, mismatches = 0;
                for (u64 i = 0; i < classes.size(); ++i) {
                    const u8* base = &pair.baseline[i * 4];
                    const u8 gray = gray_pixel(base[0], base[1], base[2], base[3], options.alpha);
                    const ClassifiedPixel& pixel = classes[i];
                    const bool is_changed = pixel.kind == PixelClass::Changed;
                    const Rgb colour = pixel.kind == PixelClass::AntiAliased ? options.aa_color
                                       : !is_changed                         ? Rgb{gray, gray, gray}
                                       : pixel.delta < 0.0                   ? *options.diff_color_alt
                                                                             : options.diff_color;
                    drawn += is_changed;
                    darker += is_changed && pixel.delta < 0.0;
                    anti_aliased += pixel.kind == PixelClass::AntiAliased;
                    const u8 rgba[4] = {colour.r, colour.g, colour.b, 255};
                    mismatches += std::memcmp(rgba, &image->pixels[i * 4], 4) != 0;
                }
                CHECK_EQ(mismatches, u64{0});
                CHECK_EQ(image->count, drawn);
                if (changed) CHECK(darker > 0 && darker < drawn && (anti_aliased > 0) == !options.include_aa);
            }
            if (!changed) continue;

            // Capped: exact mode stops at the cap, the rule after the row that reached it; on the
            // pool anywhere in [cap, total]; a cap of zero answers zero.
            if (options.include_aa || options.threshold > 0.1) continue;
            for (u64 cap : {u64{0}, u64{1}, total / 3, total - 1, total, total + 1, u64{1} << 40}) {
                auto capped = count_changed_pixels(pair.baseline, pair.current, pair.width, pair.height, options, cap);
                REQUIRE(capped);
                u64 wanted = std::min(cap, total);
                if (options.threshold != 0.0 && cap != 0) {  // whole rows until the cap is reached
                    wanted = 0;
                    for (u64 at = 0; wanted < cap && at < expected.size(); at += pair.width) {
                        wanted += std::accumulate(expected.begin() + at, expected.begin() + at + pair.width, u64{0});
                    }
                }
                if (!worth_splitting(pair.width * pair.height) || cap == 0 || cap > total) {
                    CHECK_EQ(*capped, wanted);
                } else {
                    CHECK(*capped >= cap && *capped <= total);
                }
            }
        }
    }
}

// The blocks a whole count keeps are what the pair's mask and diff image
// read next (their values are held to the rule above); a capped count and a
// count wanted alone leave them, a count by the exact rule or past the budget
// drops them.
TEST("a whole count keeps the pair's classified rows within its budget for the calls after it") {
    const Pair made = make_pair(203, 97, 5);
    auto built =
        build_image_pair(Image{made.baseline, made.width, made.height}, Image{made.current, made.width, made.height});
    REQUIRE(built);
    ImagePair& pair = *built;
    const DiffOptions rule = mode(0.1, false);
    const u64 total = *pair_diff_count(pair, rule, std::nullopt);
    const std::shared_ptr<const ChangeBlocks> kept = pair.change_blocks.load();
    REQUIRE(kept != nullptr);
    CHECK(kept->changed == total && kept->made_by(ScanContext(pair.baseline, pair.current, 203, 97, rule).pixels));
    CHECK(*pair_diff_count(pair, rule, u64{1}) >= 1 && pair.change_blocks.load() == kept);
    CHECK(*pair_diff_count(pair, rule, std::nullopt, LaterCalls::None) == total && pair.change_blocks.load() == kept);
    CHECK(*pair_diff_count(pair, mode(0.0, false), std::nullopt) >= total && pair.change_blocks.load() == nullptr);

    // The least limit that admits the count itself keeps no blocks.
    u64 low = 0, high = ~u64{0};
    while (low < high) {
        const u64 limit = low + (high - low) / 2;
        pair.budget = MemoryBudget(limit);
        if (refusal(pair, 0)) {
            low = limit + 1;
        } else {
            high = limit;
        }
    }
    pair.budget = MemoryBudget(low);
    CHECK(*pair_diff_count(pair, rule, std::nullopt) == total && pair.change_blocks.load() == nullptr);
    pair.budget = MemoryBudget(low + change_blocks_bytes({203, 97}));
    CHECK(*pair_diff_count(pair, rule, std::nullopt) == total && pair.change_blocks.load() != nullptr);
}

TEST("every entry checks threshold, alpha, size and lengths in that order") {
    struct Case {
        u64 baseline_length, current_length, width, height;
        double threshold, alpha;
        std::string expected;
    };
    const Case cases[] = {
        {15, 20, 1u << 31, 1u << 31, std::numeric_limits<double>::quiet_NaN(), -1.0, std::string(kThresholdRangeText)},
        {15, 20, 1u << 31, 1u << 31, 0.1, 1.5, std::string(kAlphaRangeText)},
        {15, 20, 1u << 31, 1u << 31, 0.1, 0.1, "image dimensions overflowed"},
        {15, 20, 2, 2, 0.1, 0.1, "invalid RGBA buffer length: expected 16 bytes for 2x2, got 15"},
        {20, 16, 5, 1, 0.1, 0.1, "invalid RGBA buffer length: expected 20 bytes for 5x1, got 16"},
    };
    for (const Case& c : cases) {
        DiffOptions o;
        o.threshold = c.threshold;
        o.alpha = c.alpha;
        const Bytes b(c.baseline_length, 0), k(c.current_length, 0);
        CHECK_EQ(outcome(count_changed_pixels(b, k, c.width, c.height, o, {})), c.expected);
        CHECK_EQ(outcome(build_diff_mask(b, k, c.width, c.height, o)), c.expected);
        CHECK_EQ(outcome(render_diff_image(b, k, c.width, c.height, o)), c.expected);
    }
}

namespace {

// Each pixel's class by one path of the row rule, the rows taken in spans of
// `span` pixels: 1 anti-aliased, 2 changed, 3 changed and darker; a pixel
// reported twice adds up.
std::vector<u8> classes_by(RowRule rule, const Pair& pair, const DiffOptions& options, u64 span) {
    const PixelWords baseline(pair.baseline), current(pair.current);
    const PairPixels pixels{
        pair.baseline.data(), pair.current.data(),          baseline.data(),   current.data(), pair.width,
        pair.height,          max_delta(options.threshold), options.include_aa};
    std::vector<u8> classes(pair.width * pair.height, 0);
    std::vector<ClassifiedBlock> blocks(span / kBlockPixels + 1);
    for (u64 y = 0; y < pair.height; ++y) {
        for (u64 begin = 0; begin < pair.width; begin += span) {
            const u64 count = rule(pixels, y, begin, std::min(begin + span, pair.width), blocks.data());
            for (const ClassifiedBlock& block : std::span(blocks).first(count)) {
                for (u64 j = 0; j < kBlockPixels; ++j) {
                    const u32 code =
                        (block.anti_aliased >> j & 1) + 2 * (block.changed >> j & 1) + (block.darker >> j & 1);
                    if (code != 0) classes[y * pair.width + block.x + j] += static_cast<u8>(code);
                }
            }
        }
    }
    return classes;
}

// The pair of two example screenshots at their common size, the smaller one
// padded with transparent black.
std::optional<Pair> example_pair(const char* baseline_name, const char* current_name) {
    auto baseline = example_screen(baseline_name), current = example_screen(current_name);
    if (!baseline || !current) return std::nullopt;
    const u64 width = std::max(baseline->width, current->width), height = std::max(baseline->height, current->height);
    return Pair{pad_to(baseline->pixels, baseline->width, baseline->height, width, height).take(),
                pad_to(current->pixels, current->width, current->height, width, height).take(), width, height};
}

}  // namespace

TEST("every vector path of the row rule gives every pixel the scalar path's class") {
    const auto paths = row_rule_paths();
    REQUIRE(std::string(paths.front().name) == "scalar");
    std::vector<std::pair<Pair, std::vector<DiffOptions>>> cases;
    // Narrower than a block, a block and one more, a span and an odd tail.
    for (const Size size : {Size{9, 20}, Size{17, 40}, Size{203, 97}, Size{1100, 24}}) {
        cases.push_back(
            {make_pair(size.width, size.height, size.width + 1), std::vector(std::begin(kModes), std::end(kModes))});
    }
    // A third of the baseline's pixels transparent, each of its own colour:
    // neighbours of equal brightness that are not equal pixels.
    Pair speckled = make_pair(300, 60, 5);
    const Bytes colours = random_bytes(speckled.baseline.size(), 5);
    for (u64 i = 0; i < speckled.baseline.size(); i += 4) {
        if (colours[i + 3] % 3 != 0) continue;
        std::copy_n(&colours[i], 3, &speckled.baseline[i]);
        speckled.baseline[i + 3] = 0;
    }
    cases.push_back({std::move(speckled), {mode(0.1, false), mode(0.05, false)}});
    // Real screenshots; the taller page padded, so translucent pixels meet opaque ones.
    for (const auto& [baseline, current] : {std::pair{"page_baseline.png", "page_edited_paragraph.png"},
                                            {"page_baseline.png", "page_taller.png"},
                                            {"table_1080p.png", "table_1080p_padded.png"}}) {
        if (auto pair = example_pair(baseline, current)) cases.push_back({std::move(*pair), {mode(0.1, false)}});
    }
    CHECK(cases.size() == 8);  // the examples were found
    u64 anti_aliased = 0, darker = 0;
    for (const auto& [pair, modes] : cases) {
        for (const DiffOptions& options : modes) {
            const std::vector<u8> expected = classes_by(paths.front().classify, pair, options, kSpanPixels);
            anti_aliased += static_cast<u64>(std::count(expected.begin(), expected.end(), 1));
            darker += static_cast<u64>(std::count(expected.begin(), expected.end(), 3));
            for (const RowRulePath& path : paths.subspan(1)) {
                for (const u64 span : {kSpanPixels, u64{37}}) {
                    const std::vector<u8> classes = classes_by(path.classify, pair, options, span);
                    const auto mismatch = std::mismatch(classes.begin(), classes.end(), expected.begin()).first;
                    CHECK_EQ(std::string(path.name) + " at " + std::to_string(mismatch - classes.begin()),
                             std::string(path.name) + " at " + std::to_string(classes.size()));
                }
            }
        }
    }
    CHECK(anti_aliased > 0 && darker > 0);
    // The grey of unchanged pixels, of every opacity, for a run no multiple of a vector.
    const Bytes source = random_bytes(4 * 1001, 7);
    for (const double alpha : {0.0, 0.1, 0.73, 1.0}) {
        Bytes expected(source.size()), drawn(source.size());
        draw_gray_pixels_scalar(source.data(), expected.data(), 3, 1001, alpha);
        for (const RowRulePath& path : paths) {
            path.draw_gray(source.data(), drawn.data(), 3, 1001, alpha);
            CHECK(std::equal(drawn.begin() + 12, drawn.end(), expected.begin() + 12));
        }
    }
}
