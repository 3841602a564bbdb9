// PNG reading and writing: the DEFLATE walk against zlib, the fast decoder
// against libpng, the row filters against their definitions, and the encoder
// through both decoders. Hand-made streams that libdeflate inflates but zlib
// refuses must be refused by the walk; hand-made files reach each branch of
// the fast path, which must take the plain ones, decode them exactly as
// libpng does, and leave every other file to libpng.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <optional>

#include "check.hpp"
#include "image_utils/deflate_walk.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/png_encode.hpp"
#include "image_utils/png_fast_decode.hpp"
#include "image_utils/png_filters.hpp"
#include "image_utils/widen_rgb.hpp"

using namespace quorvane;

namespace {

// --- DEFLATE streams written bit by bit -------------------------------------

class BitWriter {
public:
    void bits(u32 value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) put((value >> i) & 1);
    }
    // Huffman codewords go most significant bit first.
    void code(u32 codeword, unsigned length) {
        for (unsigned i = length; i-- > 0;) put((codeword >> i) & 1);
    }
    Bytes bytes;

private:
    void put(u32 bit) {
        if (used_ % 8 == 0) bytes.push_back(0);
        bytes.back() = static_cast<u8>(bytes.back() | bit << (used_ % 8));
        ++used_;
    }
    u64 used_ = 0;
};

// A canonical Huffman code given by its code lengths.
struct Codes {
    std::vector<unsigned> lengths;
    std::vector<u32> codes;
    explicit Codes(std::vector<unsigned> of) : lengths(std::move(of)), codes(lengths.size(), 0) {
        std::vector<u32> count(16, 0), next(16, 0);
        for (unsigned length : lengths) ++count[length];
        count[0] = 0;
        for (unsigned length = 1, code = 0; length < 16; ++length) {
            next[length] = code = (code + count[length - 1]) << 1;
        }
        for (std::size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
        }
    }
    void write(BitWriter& out, unsigned symbol) const { out.code(codes[symbol], lengths[symbol]); }
};

std::vector<unsigned> lengths_with(unsigned count, std::vector<std::pair<unsigned, unsigned>> set) {
    std::vector<unsigned> lengths(count, 0);
    for (auto [symbol, length] : set) lengths[symbol] = length;
    return lengths;
}

// The header of a final dynamic block: the code lengths written with a
// code-length code of lengths `precode` (symbols 0 to 18), as the symbols
// `length_symbols` (a symbol, then its extra bits when it repeats).
void dynamic_header(BitWriter& out, unsigned literal_count, unsigned distance_count,
                    const std::vector<unsigned>& precode, const std::vector<std::pair<unsigned, u32>>& length_symbols) {
    constexpr unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    out.bits(1, 1);
    out.bits(2, 2);
    out.bits(literal_count - 257, 5);
    out.bits(distance_count - 1, 5);
    out.bits(19 - 4, 4);
    for (unsigned symbol : kOrder) out.bits(precode[symbol], 3);
    const Codes lengths_code(precode);
    for (const auto& [symbol, extra] : length_symbols) {
        lengths_code.write(out, symbol);
        if (symbol >= 16) out.bits(extra, symbol == 16 ? 2 : symbol == 17 ? 3 : 7);
    }
}

// A final dynamic block's header with these code lengths spelled out one
// symbol each, with a complete code-length code of every length 0 to 15 and
// the zero run; returns the literal/length code.
Codes dynamic_block(BitWriter& out, const std::vector<unsigned>& literals, const std::vector<unsigned>& distances) {
    std::vector<std::pair<unsigned, u32>> symbols;
    for (const auto* lengths : {&literals, &distances}) {
        for (unsigned length : *lengths) symbols.emplace_back(length, 0);
    }
    std::vector<unsigned> precode = lengths_with(19, {{14, 5}, {15, 5}, {18, 4}});
    for (unsigned s = 0; s < 14; ++s) precode[s] = 4;
    dynamic_header(out, unsigned(literals.size()), unsigned(distances.size()), precode, symbols);
    return Codes(literals);
}

// Four zero bytes and the end of the block: with a leading zero, 1 + 3k
// bytes in all.
Bytes four_zeros_and_end(BitWriter& out, const Codes& code) {
    for (int i = 0; i < 4; ++i) code.write(out, 0);
    code.write(out, 256);
    return out.bytes;
}

// The fixed code's codewords.
void fixed_literal(BitWriter& out, unsigned symbol) {
    if (symbol < 144)
        out.code(0x30 + symbol, 8);
    else if (symbol < 256)
        out.code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        out.code(symbol - 256, 7);
    else
        out.code(0xc0 + symbol - 280, 8);
}

// Streams that libdeflate inflates and zlib refuses, each one final block
// that starts with a zero byte and inflates to 1 + 3k bytes, so that it can
// stand as the image data of a one-row RGB image.
std::vector<std::pair<const char*, Bytes>> lenient_streams() {
    std::vector<std::pair<const char*, Bytes>> streams;
    for (const bool far : {false, true}) {
        BitWriter out;
        out.bits(3, 3);  // final, fixed
        fixed_literal(out, 0);
        for (int i = 0; far && i < 100; ++i) {  // 25801 bytes: far enough back for 24577
            fixed_literal(out, 285);
            out.code(0, 5);
        }
        fixed_literal(out, far ? 257 : 286);
        out.code(far ? 30 : 0, 5);
        out.bits(0, far ? 13 : 0);
        fixed_literal(out, 256);
        streams.emplace_back(far ? "a fixed block using distance symbol 30" : "a fixed block using length symbol 286",
                             out.bytes);
    }
    {
        BitWriter out;
        const Codes code = dynamic_block(out, lengths_with(287, {{0, 1}, {256, 2}, {286, 2}}), {1, 1});
        streams.emplace_back("287 literal and length code lengths", four_zeros_and_end(out, code));
    }
    {
        BitWriter out;
        const auto literals = lengths_with(257, {{0, 1}, {256, 1}});
        const Codes code = dynamic_block(out, literals, lengths_with(31, {{0, 1}, {30, 1}}));
        streams.emplace_back("31 distance code lengths", four_zeros_and_end(out, code));
    }
    {
        BitWriter out;  // code lengths 0, 1, 16 and 18 only, two bits each; the last 1 three times more
        dynamic_header(out, 257, 2, lengths_with(19, {{0, 2}, {1, 2}, {16, 2}, {18, 2}}),
                       {{1, 0}, {18, 138 - 11}, {18, 117 - 11}, {1, 0}, {1, 0}, {16, 0}});
        const Codes code(lengths_with(257, {{0, 1}, {256, 1}}));
        streams.emplace_back("a run of code lengths past their end", four_zeros_and_end(out, code));
    }
    for (const unsigned distance_length : {1u, 0u}) {
        BitWriter out;
        const Codes code = dynamic_block(out, lengths_with(258, {{0, 1}, {256, 2}, {257, 2}}), {distance_length});
        code.write(out, 0);
        code.write(out, 257);
        out.code(distance_length, 1);  // only codeword 0 of a one-symbol code is assigned
        code.write(out, 256);
        streams.emplace_back(distance_length ? "the unused codeword of a one-symbol distance code"
                                             : "a match with an empty distance code",
                             out.bytes);
    }
    return streams;
}

// zlib's deflate, raw (window_bits -15) or in a zlib stream (15).
Bytes deflated(ByteView data, int level, int strategy = Z_DEFAULT_STRATEGY, int window_bits = 15) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, window_bits, 8, strategy);
    Bytes out(deflateBound(&stream, data.size()));
    stream.next_in = const_cast<u8*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// --- PNG files written chunk by chunk ----------------------------------------

// A byte-wise filter of one row, the PNG specification's definitions.
int predict(u8 filter, int a, int b, int c) {
    switch (filter) {
        case 1:
            return a;
        case 2:
            return b;
        case 3:
            return (a + b) / 2;
        case 4: {
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        }
        default:
            return 0;
    }
}

struct Picture {
    u32 width = 0, height = 0;
    unsigned channels = 3;
    Bytes samples;  // channels bytes a pixel
};

// Random samples with runs of repeated bytes, so that every kind of match occurs.
Picture random_picture(u32 width, u32 height, unsigned channels, unsigned seed) {
    Picture picture{width, height, channels, random_bytes(u64{width} * height * channels, seed)};
    for (u64 i = 1; i < picture.samples.size(); ++i) {
        if (picture.samples[i] % 4 == 0) picture.samples[i] = picture.samples[i - 1];
    }
    return picture;
}

// The rows, each behind its filter byte: row y gets filters[y % size].
Bytes filtered_rows(const Picture& picture, const std::vector<u8>& filters) {
    const u64 stride = u64{picture.width} * picture.channels;
    const auto sample = [&](u64 row, u64 at) -> int { return picture.samples[row * stride + at]; };
    Bytes out;
    for (u64 y = 0; y < picture.height; ++y) {
        const u8 filter = filters[y % filters.size()];
        out.push_back(filter);
        for (u64 i = 0; i < stride; ++i) {
            const int a = i >= picture.channels ? sample(y, i - picture.channels) : 0;
            const int b = y > 0 ? sample(y - 1, i) : 0;
            const int c = y > 0 && i >= picture.channels ? sample(y - 1, i - picture.channels) : 0;
            out.push_back(static_cast<u8>(sample(y, i) - predict(filter > 4 ? 0 : filter, a, b, c)));
        }
    }
    return out;
}

// A PNG file as its chunks, written out in order, and anything after them.
struct Png {
    std::vector<std::pair<std::string, Bytes>> chunks;
    Bytes trailing;

    Bytes bytes() const {
        Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        for (const auto& [type, data] : chunks) put_chunk(out, type.c_str(), data);
        out.insert(out.end(), trailing.begin(), trailing.end());
        return out;
    }
    auto find(const std::string& type) {
        return std::find_if(chunks.begin(), chunks.end(), [&](const auto& chunk) { return chunk.first == type; });
    }
    Bytes& data(const std::string& type) { return find(type)->second; }
    void insert_before(const std::string& type, std::vector<std::pair<std::string, Bytes>> more) {
        chunks.insert(find(type), more.begin(), more.end());
    }
};

// The zlib stream of the picture's rows behind these filter types (row y gets
// filters[y % size]), `extra` zero bytes longer (or shorter).
Bytes rows_stream(const Picture& picture, std::vector<u8> filters = {0, 1, 2, 3, 4}, int level = 6, long extra = 0) {
    Bytes rows = filtered_rows(picture, filters);
    rows.resize(static_cast<u64>(static_cast<long>(rows.size()) + extra), 0);
    return deflated(rows, level);
}

// A plain file of a random picture, or of the given image data.
Png png_of(const Picture& picture, std::optional<Bytes> stream = {}) {
    Bytes header;
    put_be32(header, picture.width);
    put_be32(header, picture.height);
    header.insert(header.end(), {8, static_cast<u8>(picture.channels == 3 ? 2 : 6), 0, 0, 0});
    return {{{"IHDR", header}, {"IDAT", stream ? *stream : rows_stream(picture)}, {"IEND", {}}}, {}};
}

// Both paths agree: the fast path's image is libpng's, and decode_png gives
// libpng's answer, image or error text alike. Returns whether the fast path
// took the file.
bool fast_path_takes(ByteView png) {
    const auto fast = decode_png_fast(png);
    const auto reference = decode_png_with_libpng(png);
    const auto chosen = decode_png(png);
    if (fast) {
        REQUIRE(reference.ok());
        CHECK(fast->width == reference->width && fast->height == reference->height);
        CHECK(fast->pixels == reference->pixels);
    }
    CHECK_EQ(outcome(chosen), outcome(reference));
    if (chosen && reference) CHECK(chosen->pixels == reference->pixels);
    return fast.has_value();
}

struct FileCase {
    const char* name;
    Png png;
    bool taken;
};

std::vector<FileCase> file_cases() {
    const Picture picture = random_picture(37, 23, 3, 1);
    const auto with = [&](auto change, const Picture& of = random_picture(37, 23, 3, 1)) {
        Png png = png_of(of);
        change(png);
        return png;
    };
    const auto with_stream = [&](Bytes stream) { return png_of(picture, stream); };
    const auto before = [&](const char* type, std::vector<std::pair<std::string, Bytes>> chunks,
                            const Picture& of = random_picture(37, 23, 3, 1)) {
        return with([&](Png& png) { png.insert_before(type, chunks); }, of);
    };
    const u8* first = picture.samples.data();
    return {
        {"RGB, every filter type", png_of(picture), true},
        {"RGBA, every filter type", png_of(random_picture(29, 17, 4, 2)), true},
        {"one pixel", png_of(random_picture(1, 1, 3, 3)), true},
        {"one column", png_of(random_picture(1, 40, 4, 4)), true},
        {"stored blocks only", with_stream(rows_stream(picture, {0, 1, 2, 3, 4}, 0)), true},
        {"IDATs split at odd places, one of them empty", with([](Png& png) {
             const Bytes stream = png.data("IDAT");
             png.chunks.erase(png.chunks.begin() + 1);
             const u64 end = stream.size();
             for (u64 from = 0; u64 cut : {u64{1}, u64{2}, u64{2}, u64{7}, end - 3, end - 1, end}) {
                 png.insert_before("IEND", {{"IDAT", Bytes(stream.begin() + from, stream.begin() + cut)}});
                 from = cut;
             }
         }),
         true},
        {"ancillary chunks before and after the image data", with([](Png& png) {
             png.insert_before("IDAT", {{"gAMA", {0, 0, 0xb1, 0x8f}}, {"tEXt", {'k', 0, 'v'}}, {"prVt", {1, 2, 3}}});
             png.insert_before("IEND", {{"tIME", {7, 0xe8, 1, 2, 3, 4, 5}}});
         }),
         true},
        {"trailing data after IEND", with([](Png& png) { png.trailing.assign(4, 'j'); }), true},
        {"a transparent colour", before("IDAT", {{"tRNS", {0, first[0], 0, first[1], 0, first[2]}}}), true},
        {"a transparent colour beyond 8 bits", before("IDAT", {{"tRNS", {1, 0, 0, 0, 0, 0}}}), false},
        {"a transparent colour in an RGBA image",
         before("IDAT", {{"tRNS", {0, 0, 0, 0, 0, 0}}}, random_picture(9, 9, 4, 5)), false},
        {"an unknown critical chunk", before("IDAT", {{"CRIt", {}}}), false},
        {"a critical chunk after the image data", before("IEND", {{"CRIt", {}}}), true},
        {"a filter type above 4", with_stream(rows_stream(picture, {0, 2, 5})), false},
        {"an image data stream one row short", with_stream(rows_stream(picture, {0, 1, 2, 3, 4}, 6, -(37 * 3 + 1))),
         false},
        {"an image data stream one byte too long", with_stream(rows_stream(picture, {0, 1, 2, 3, 4}, 6, 1)), false},
        {"bytes after the end of the stream", with([](Png& png) { png.data("IDAT").push_back(0); }), false},
        {"a wrong Adler-32", with([](Png& png) { png.data("IDAT").back() ^= 1; }), false},
        {"a window smaller than 32 KiB", with([](Png& png) {
             Bytes& stream = png.data("IDAT");
             stream[0] = 0x58;  // 8 KiB; the check bits follow
             stream[1] = static_cast<u8>(stream[1] - (0x5800 + stream[1]) % 31);
         }),
         false},
        {"no IEND", with([](Png& png) { png.chunks.pop_back(); }), false},
        {"IEND with data", with([](Png& png) { png.data("IEND") = {0}; }), false},
        {"marked interlaced", with([](Png& png) { png.data("IHDR")[12] = 1; }), false},
        {"a text chunk", before("IDAT", {{"tEXt", {'k', 0, 'v'}}}), true},
    };
}

}  // namespace

TEST("the walk follows every stream zlib writes to its end, and no further than its limit") {
    std::mt19937 generator(5);
    Bytes data(70000);  // more than one stored block holds
    for (u8& byte : data) byte = static_cast<u8>(generator() % 7 == 0 ? generator() : 'x');
    for (int level : {0, 1, 6}) {
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
            const Bytes raw = deflated(data, level, strategy, -15);
            const auto layout = walk_deflate(raw, data.size());
            CHECK(layout && layout->output_length == data.size() && (layout->end_bit + 7) / 8 == raw.size());
            CHECK(!walk_deflate(raw, data.size() - 1));  // the limit holds
            CHECK(!walk_deflate(ByteView(raw).first(raw.size() - 1), data.size()));
        }
    }
}

TEST("streams that libdeflate inflates and zlib refuses are refused by the walk and left to libpng") {
    std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> decompressor(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    for (const auto& [name, raw] : lenient_streams()) {
        Bytes rows(1 << 20);
        std::size_t produced = 0;
        const bool inflated = libdeflate_deflate_decompress(decompressor.get(), raw.data(), raw.size(), rows.data(),
                                                            rows.size(), &produced) == LIBDEFLATE_SUCCESS;
        Bytes stream{0x78, 0x9c};  // one row of RGB pixels behind filter type 0, in a zlib stream
        stream.insert(stream.end(), raw.begin(), raw.end());
        put_be32(stream, static_cast<u32>(adler32(1, rows.data(), static_cast<uInt>(produced))));
        const Bytes png = png_of(Picture{static_cast<u32>(produced / 3), 1, 3, {}}, stream).bytes();
        const bool refused = !walk_deflate(raw, 1 << 20) && !fast_path_takes(png);
        if (!inflated || decode_png_with_libpng(png) || !refused) check::record_failure(__FILE__, __LINE__, name);
    }
}

TEST("the fast path takes plain files and leaves the rest to libpng, which agrees") {
    for (const FileCase& file : file_cases()) {
        const Bytes png = file.png.bytes();
        if (fast_path_takes(png) != file.taken) {
            check::record_failure(__FILE__, __LINE__, std::string(file.name) + (file.taken ? ": left" : ": taken"));
        }
        if (std::string(file.name) != "a text chunk") continue;
        // A wrong CRC in any chunk leaves the file to libpng.
        for (const char* type : {"IHDR", "tEXt", "IDAT", "IEND"}) {
            Bytes broken = png;
            const u64 at = std::string(png.begin(), png.end()).find(type);
            broken[at + 4 + (u64{png[at - 2]} << 8 | png[at - 1])] ^= 0x40;
            CHECK(!fast_path_takes(broken));
        }
    }
}

TEST("each build applies each row filter as the PNG specification defines it, chooses as libpng does, and undoes it") {
    // Random rows, and rows of the values where the predictors turn, drawn
    // at random so that each byte meets most combinations of them to its
    // left, above and above left.
    std::mt19937 generator(3);
    const u8 values[] = {0, 1, 126, 127, 128, 129, 254, 255};  // 126, 129, 128: a Paeth tie of a and c
    for (unsigned channels : {3u, 4u}) {
        for (u32 width : {1u, 5u, 6u, 700u}) {
            Picture picture = random_picture(width, 60, channels, width + channels);
            if (width == 700) {
                for (u8& sample : picture.samples) sample = values[generator() % 8];
            }
            const u64 stride = u64{width} * channels;
            std::vector<Bytes> expected;
            for (u8 filter = 0; filter <= 4; ++filter) expected.push_back(filtered_rows(picture, {filter}));
            for (const PngFilterPath& path : png_filter_paths()) {
                Bytes previous(stride, 0), filtered(stride), undone(stride), chosen(stride + 1);
                for (u64 y = 0; y < picture.height; ++y) {
                    const u8* row = picture.samples.data() + y * stride;
                    u64 least = ~u64{0};
                    u8 best = 0;
                    for (u8 filter = 0; filter <= 4; ++filter) {
                        const auto reference =
                            expected[filter].begin() + static_cast<std::ptrdiff_t>(y * (stride + 1) + 1);
                        apply_filter_with(path, filter, row, previous.data(), stride, channels, filtered.data());
                        CHECK(std::equal(filtered.begin(), filtered.end(), reference));
                        unfilter_row(filter, filtered.data(), undone.data(), previous.data(), stride, channels);
                        CHECK(std::equal(undone.begin(), undone.end(), row));
                        // The filter libpng's heuristic picks: the least sum of the bytes taken as signed.
                        u64 sum = 0;
                        for (const u8 value : filtered) sum += value < 128 ? value : 256u - value;
                        if (sum < least) least = sum, best = filter;
                    }
                    filter_row_with(path, row, previous.data(), stride, channels, chosen.data());
                    CHECK_EQ(u64{chosen[0]}, u64{best});
                    CHECK(std::equal(chosen.begin() + 1, chosen.end(),
                                     expected[best].begin() + static_cast<std::ptrdiff_t>(y * (stride + 1) + 1)));
                    previous.assign(row, row + stride);
                }
            }
        }
    }
}

TEST("Paeth is undone for every left, above and upper-left neighbour") {
    // Each pair of pixels sets one triple in each channel: the first pixel
    // holds a in this row and c in the row above, the second b above; the
    // second pixel is then predicted from exactly (a, b, c).
    constexpr u64 kTriples = u64{1} << 24, kPart = u64{1} << 20;
    for (const unsigned channels : {3u, 4u}) {
        for (u64 first = 0; first < kTriples; first += kPart) {
            const u64 pairs = (kPart + channels - 1) / channels, length = 2 * pairs * channels;
            Bytes above(length), row(length), filtered(length), undone(length);
            for (u64 t = first; t < first + pairs * channels; ++t) {
                const u64 pair = (t - first) / channels, channel = (t - first) % channels,
                          at = 2 * pair * channels + channel;
                row[at] = static_cast<u8>(t);
                above[at] = static_cast<u8>(t >> 16);
                above[at + channels] = static_cast<u8>(t >> 8);
                row[at + channels] = static_cast<u8>(t * 7 + 3);
            }
            for (u64 i = 0; i < length; ++i) {
                const int a = i >= channels ? row[i - channels] : 0, c = i >= channels ? above[i - channels] : 0;
                filtered[i] = static_cast<u8>(row[i] - predict(4, a, above[i], c));
            }
            unfilter_row(4, filtered.data(), undone.data(), above.data(), length, channels);
            if (undone != row) {
                const u64 at =
                    static_cast<u64>(std::mismatch(undone.begin(), undone.end(), row.begin()).first - undone.begin());
                check::record_failure(__FILE__, __LINE__,
                                      std::to_string(channels) + " channels, byte " + std::to_string(at));
                return;
            }
        }
    }
}

TEST("undoing a filter, widening and narrowing read and write nothing past their rows") {
    for (const unsigned channels : {3u, 4u}) {
        for (u64 width = 1; width <= 24; ++width) {
            const u64 length = width * channels;
            const Bytes values = random_bytes(2 * length, static_cast<unsigned>(length));
            GuardedBytes filtered(length), previous(length), row(length), rgba(4 * width), rgb(length + 1),
                narrowed(3 * width);
            std::copy_n(values.begin(), length, filtered.data());
            std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(length), length, previous.data());
            for (u8 filter = 0; filter <= kLastPngFilter; ++filter) {
                unfilter_row(filter, filtered.data(), row.data(), previous.data(), length, channels);
            }
            if (channels == 3) widen_rgb_row(rgb.data(), rgba.data(), width, std::nullopt);
            if (channels == 4) narrow_rgba_row(row.data(), narrowed.data(), width);
        }
    }
}

TEST(
    "every widening path gives each RGB pixel its colour and alpha (0 on the transparent colour, else 255), and "
    "narrowing takes it back") {
    // Colours from a palette of three, so that the transparent one falls on
    // every lane of a block; rows of every width up to a few blocks.
    const Bytes palette = random_bytes(9, 11);
    const Bytes choices = random_bytes(3 * 1003 + 1, 12);
    for (const TransparentKey key :
         {TransparentKey(), TransparentKey(u32{palette[3]} | u32{palette[4]} << 8 | u32{palette[5]} << 16)}) {
        for (u64 width = 0; width <= 1003; width += width < 40 ? 1 : 963) {
            Bytes rgb(3 * width + 1, 0);  // one byte of slack
            for (u64 x = 0; x < width; ++x) std::copy_n(&palette[3 * (choices[x] % 3)], 3, &rgb[3 * x]);
            Bytes expected(4 * width);
            for (u64 x = 0; x < width; ++x) {
                std::copy_n(&rgb[3 * x], 3, &expected[4 * x]);
                expected[4 * x + 3] = key && choices[x] % 3 == 1 ? 0 : 255;
            }
            for (const WidenRgbPath& path : widen_rgb_paths()) {
                Bytes rgba(4 * width, 7);
                const u64 done = path.widen(rgb.data(), rgba.data(), width, key);
                CHECK(done <= width);
                widen_rgb_scalar(rgb.data() + 3 * done, rgba.data() + 4 * done, width - done, key);
                // Narrowed back, the colours are the row's again.
                Bytes narrowed(3 * width + 1, 0);
                const u64 narrowed_done = path.narrow(rgba.data(), narrowed.data(), width);
                CHECK(narrowed_done <= width);
                narrow_rgba_scalar(rgba.data() + 4 * narrowed_done, narrowed.data() + 3 * narrowed_done,
                                   width - narrowed_done);
                if (rgba != expected || narrowed != rgb)
                    check::record_failure(__FILE__, __LINE__,
                                          std::string(path.name) + " at width " + std::to_string(width));
            }
        }
    }
}

TEST("encode_png writes RGB that both decoders read back, alpha dropped unblended, in one strip, two or many") {
    const u64 sizes[][2] = {
        {1, 1}, {3000, 1}, {1, 3000}, {61, 43}, {3000, png_strip_rows(3000) + 1}, {3000, 2 * png_strip_rows(3000)}};
    unsigned seed = 0;
    for (const auto& [width, height] : sizes) {
        for (const bool smooth : {false, true}) {
            if (smooth && width * height > 10000) continue;
            // Noise with runs and any alpha; for small images ramps too, so that other filters are chosen.
            Bytes rgba = random_picture(static_cast<u32>(width), static_cast<u32>(height), 4, ++seed).samples;
            for (u64 i = 0; smooth && i < rgba.size(); ++i) {
                rgba[i] = static_cast<u8>(i % 4 * (i / 4 % width) + i / 4 / width);
            }
            auto png = encode_png(rgba, width, height);
            REQUIRE(png.ok());
            for (u64 i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
            const auto fast = decode_png_fast(*png);
            const auto reference = decode_png_with_libpng(*png);
            REQUIRE(fast && reference.ok());
            CHECK(reference->width == width && reference->height == height);
            CHECK(fast->pixels == rgba && reference->pixels == rgba);
        }
    }
    CHECK(outcome(encode_png({}, 0, 3)).rfind("failed to encode PNG: ", 0) == 0);
    CHECK(encode_png(Bytes(15), 2, 2).error().kind() == CompareError::Kind::InvalidBufferLength);
    CHECK_EQ(outcome(encode_png({}, u64{1} << 32, 0)), std::string("image width is too large"));
}
