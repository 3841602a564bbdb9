// The fast PNG decoder against libpng, the DEFLATE walk against zlib, and
// the row filters against their definitions: hand-made files reach each
// branch of the fast path, which must take the plain ones and decode them
// exactly as libpng does, and leave every other file to libpng; hand-made
// streams that libdeflate inflates but zlib refuses must be refused by the
// walk too.
#include <libdeflate.h>
#include <zlib.h>

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "image_utils/deflate_walk.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/png_encode.hpp"
#include "image_utils/png_fast_decode.hpp"
#include "image_utils/png_filters.hpp"

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
    Bytes finish() { return bytes_; }

private:
    void put(u32 bit) {
        if (used_ % 8 == 0) bytes_.push_back(0);
        bytes_.back() = static_cast<u8>(bytes_.back() | bit << (used_ % 8));
        ++used_;
    }
    Bytes bytes_;
    u64 used_ = 0;
};

// The canonical codewords of a list of code lengths.
std::vector<u32> canonical(const std::vector<unsigned>& lengths) {
    std::vector<u32> count(16, 0), next(16, 0), codes(lengths.size(), 0);
    for (unsigned length : lengths) ++count[length];
    count[0] = 0;
    for (unsigned length = 1, code = 0; length < 16; ++length) {
        code = (code + count[length - 1]) << 1;
        next[length] = code;
    }
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
    }
    return codes;
}

struct Codes {
    std::vector<unsigned> lengths;
    std::vector<u32> codes;
    void write(BitWriter& out, unsigned symbol) const { out.code(codes[symbol], lengths[symbol]); }
};

Codes codes_of(std::vector<unsigned> lengths) {
    auto codes = canonical(lengths);
    return {std::move(lengths), std::move(codes)};
}

// The header of a final dynamic block: the code lengths written with a
// code-length code of lengths `precode` (symbols 0 to 18), as the symbols
// `length_symbols` (a symbol, then its extra bits when it repeats).
void dynamic_header(BitWriter& out, unsigned literal_count, unsigned distance_count,
                    const std::vector<unsigned>& precode,
                    const std::vector<std::pair<unsigned, u32>>& length_symbols) {
    constexpr unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    out.bits(1, 1);
    out.bits(2, 2);
    out.bits(literal_count - 257, 5);
    out.bits(distance_count - 1, 5);
    out.bits(19 - 4, 4);
    for (unsigned symbol : kOrder) out.bits(precode[symbol], 3);
    const Codes lengths_code = codes_of(precode);
    for (const auto& [symbol, extra] : length_symbols) {
        lengths_code.write(out, symbol);
        if (symbol == 16) out.bits(extra, 2);
        if (symbol == 17) out.bits(extra, 3);
        if (symbol == 18) out.bits(extra, 7);
    }
}

// Code lengths spelled out one symbol each, zeros in runs of code 18.
std::vector<std::pair<unsigned, u32>> spelled(const std::vector<unsigned>& lengths) {
    std::vector<std::pair<unsigned, u32>> symbols;
    for (std::size_t i = 0; i < lengths.size();) {
        std::size_t run = 0;
        while (i + run < lengths.size() && lengths[i + run] == 0 && run < 138) ++run;
        if (run >= 11) {
            symbols.emplace_back(18, static_cast<u32>(run - 11));
            i += run;
        } else {
            symbols.emplace_back(lengths[i], 0);
            ++i;
        }
    }
    return symbols;
}

// Every code length 0 to 15 and the zero run, in 5 bits or less: complete.
std::vector<unsigned> full_precode() {
    std::vector<unsigned> precode(19, 0);
    for (unsigned s = 0; s < 16; ++s) precode[s] = s < 15 ? 4 : 5;
    precode[14] = 5;
    precode[18] = 4;
    return precode;
}

std::vector<unsigned> lengths_with(unsigned count, std::vector<std::pair<unsigned, unsigned>> set) {
    std::vector<unsigned> lengths(count, 0);
    for (auto [symbol, length] : set) lengths[symbol] = length;
    return lengths;
}

// The fixed code's codewords.
void fixed_literal(BitWriter& out, unsigned symbol) {
    if (symbol < 144) out.code(0x30 + symbol, 8);
    else if (symbol < 256) out.code(0x190 + symbol - 144, 9);
    else if (symbol < 280) out.code(symbol - 256, 7);
    else out.code(0xc0 + symbol - 280, 8);
}

// A stream whose every block is final ends here.
struct StreamCase {
    const char* name;
    std::function<Bytes()> make;
};

// Streams that libdeflate inflates and zlib refuses. Each starts with a zero
// byte and inflates to 1 + 3k bytes, so it can stand as the image data of a
// one-row RGB image.
const StreamCase kLenientStreams[] = {
    {"a fixed block using length symbol 286",
     [] {
         BitWriter out;
         out.bits(1, 1);
         out.bits(1, 2);
         fixed_literal(out, 0);
         fixed_literal(out, 286);
         out.code(0, 5);
         fixed_literal(out, 256);
         return out.finish();
     }},
    {"a fixed block using distance symbol 30",
     [] {
         BitWriter out;
         out.bits(1, 1);
         out.bits(1, 2);
         fixed_literal(out, 0);
         for (int i = 0; i < 100; ++i) {  // 25801 bytes: far enough back for 24577
             fixed_literal(out, 285);
             out.code(0, 5);
         }
         fixed_literal(out, 257);
         out.code(30, 5);
         out.bits(0, 13);
         fixed_literal(out, 256);
         return out.finish();
     }},
    {"287 literal and length code lengths",
     [] {
         BitWriter out;
         const auto literals = lengths_with(287, {{0, 1}, {256, 2}, {286, 2}});
         const std::vector<unsigned> distances{1, 1};
         auto all = literals;
         all.insert(all.end(), distances.begin(), distances.end());
         dynamic_header(out, 287, 2, full_precode(), spelled(all));
         const Codes code = codes_of(literals);
         for (int i = 0; i < 4; ++i) code.write(out, 0);
         code.write(out, 256);
         return out.finish();
     }},
    {"31 distance code lengths",
     [] {
         BitWriter out;
         const auto literals = lengths_with(257, {{0, 1}, {256, 1}});
         auto all = literals;
         const auto distances = lengths_with(31, {{0, 1}, {30, 1}});
         all.insert(all.end(), distances.begin(), distances.end());
         dynamic_header(out, 257, 31, full_precode(), spelled(all));
         const Codes code = codes_of(literals);
         for (int i = 0; i < 4; ++i) code.write(out, 0);
         code.write(out, 256);
         return out.finish();
     }},
    {"a run of code lengths past their end",
     [] {
         BitWriter out;
         // Code lengths 0, 1, 16 and 18 only, two bits each.
         const auto precode = lengths_with(19, {{0, 2}, {1, 2}, {16, 2}, {18, 2}});
         std::vector<std::pair<unsigned, u32>> symbols{{1, 0}, {18, 138 - 11}, {18, 117 - 11}, {1, 0}, {1, 0}};
         symbols.emplace_back(16, 0);  // the last 1 three times more: two past the end
         dynamic_header(out, 257, 2, precode, symbols);
         const Codes code = codes_of(lengths_with(257, {{0, 1}, {256, 1}}));
         for (int i = 0; i < 4; ++i) code.write(out, 0);
         code.write(out, 256);
         return out.finish();
     }},
    {"the unused codeword of a one-symbol distance code",
     [] {
         BitWriter out;
         const auto literals = lengths_with(258, {{0, 1}, {256, 2}, {257, 2}});
         auto all = literals;
         all.push_back(1);
         dynamic_header(out, 258, 1, full_precode(), spelled(all));
         const Codes code = codes_of(literals);
         code.write(out, 0);
         code.write(out, 257);
         out.code(1, 1);  // only codeword 0 is assigned
         code.write(out, 256);
         return out.finish();
     }},
    {"a match with an empty distance code",
     [] {
         BitWriter out;
         const auto literals = lengths_with(258, {{0, 1}, {256, 2}, {257, 2}});
         auto all = literals;
         all.push_back(0);
         dynamic_header(out, 258, 1, full_precode(), spelled(all));
         const Codes code = codes_of(literals);
         code.write(out, 0);
         code.write(out, 257);
         out.code(0, 1);
         code.write(out, 256);
         return out.finish();
     }},
};

// zlib's answer on raw DEFLATE data: the inflated bytes, or nullopt.
std::optional<Bytes> zlib_inflate(ByteView raw) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) return std::nullopt;
    Bytes out(1 << 20);
    stream.next_in = const_cast<u8*>(raw.data());
    stream.avail_in = static_cast<uInt>(raw.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    if (status != Z_STREAM_END) return std::nullopt;
    return out;
}

bool libdeflate_inflates(ByteView raw) {
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    Bytes out(1 << 20);
    std::size_t produced = 0;
    const auto result =
        libdeflate_deflate_decompress(decompressor, raw.data(), raw.size(), out.data(), out.size(), &produced);
    libdeflate_free_decompressor(decompressor);
    return result == LIBDEFLATE_SUCCESS;
}

Bytes deflated(ByteView data, int level, int strategy) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy);
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
        case 1: return a;
        case 2: return b;
        case 3: return (a + b) / 2;
        case 4: {
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        }
        default: return 0;
    }
}

struct Picture {
    u32 width = 0;
    u32 height = 0;
    unsigned channels = 3;
    Bytes samples;  // channels bytes a pixel
};

Picture random_picture(u32 width, u32 height, unsigned channels, unsigned seed) {
    std::mt19937 generator(seed);
    Picture picture{width, height, channels, Bytes(u64{width} * height * channels)};
    // Runs of repeated bytes so that every kind of match occurs.
    for (u64 i = 0; i < picture.samples.size(); ++i) {
        picture.samples[i] = (generator() % 4 == 0 && i > 0) ? picture.samples[i - 1] : static_cast<u8>(generator());
    }
    return picture;
}

// The rows, each behind its filter byte: row y gets filters[y % size].
Bytes filtered_rows(const Picture& picture, const std::vector<u8>& filters) {
    const u64 stride = u64{picture.width} * picture.channels;
    Bytes out;
    for (u64 y = 0; y < picture.height; ++y) {
        const u8 filter = filters[y % filters.size()];
        out.push_back(filter);
        for (u64 i = 0; i < stride; ++i) {
            const auto sample = [&](u64 row, u64 at) -> int { return picture.samples[row * stride + at]; };
            const int a = i >= picture.channels ? sample(y, i - picture.channels) : 0;
            const int b = y > 0 ? sample(y - 1, i) : 0;
            const int c = y > 0 && i >= picture.channels ? sample(y - 1, i - picture.channels) : 0;
            out.push_back(static_cast<u8>(sample(y, i) - predict(filter > 4 ? 0 : filter, a, b, c)));
        }
    }
    return out;
}

Bytes zlib_stream(ByteView data, int level = 6) {
    uLongf length = compressBound(data.size());
    Bytes out(length);
    compress2(out.data(), &length, data.data(), data.size(), level);
    out.resize(length);
    return out;
}

struct PngParts {
    Picture picture;
    std::vector<u8> filters{0, 1, 2, 3, 4};
    Bytes stream;                         // the zlib stream; made from the rows when empty
    std::vector<u64> idat_splits;         // offsets in the stream where a new IDAT starts
    Bytes before_data;                    // whole chunks between IHDR and the first IDAT
    Bytes after_data;                     // whole chunks between the last IDAT and IEND
    bool iend = true;
    Bytes trailing;
    u8 interlace = 0;
};

Bytes png_of(PngParts parts) {
    if (parts.stream.empty()) parts.stream = zlib_stream(filtered_rows(parts.picture, parts.filters));
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes header;
    put_be32(header, parts.picture.width);
    put_be32(header, parts.picture.height);
    header.insert(header.end(), {8, static_cast<u8>(parts.picture.channels == 3 ? 2 : 6), 0, 0, parts.interlace});
    put_chunk(out, "IHDR", header);
    out.insert(out.end(), parts.before_data.begin(), parts.before_data.end());
    std::vector<u64> cuts = parts.idat_splits;
    cuts.push_back(parts.stream.size());
    u64 from = 0;
    for (u64 cut : cuts) {
        put_chunk(out, "IDAT", ByteView(parts.stream).subspan(from, cut - from));
        from = cut;
    }
    out.insert(out.end(), parts.after_data.begin(), parts.after_data.end());
    if (parts.iend) put_chunk(out, "IEND", {});
    out.insert(out.end(), parts.trailing.begin(), parts.trailing.end());
    return out;
}

Bytes chunk(const char* type, Bytes data) {
    Bytes out;
    put_chunk(out, type, data);
    return out;
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
        CHECK_EQ(fast->width, reference->width);
        CHECK_EQ(fast->height, reference->height);
        CHECK(fast->pixels == reference->pixels);
    }
    CHECK_EQ(chosen.ok(), reference.ok());
    if (chosen && reference) CHECK(chosen->pixels == reference->pixels);
    if (!chosen && !reference) CHECK_EQ(chosen.error().text(), reference.error().text());
    return fast.has_value();
}

struct FileCase {
    const char* name;
    std::function<PngParts()> parts;
    bool taken;
};

PngParts plain(u32 width = 37, u32 height = 23, unsigned channels = 3) {
    PngParts parts;
    parts.picture = random_picture(width, height, channels, width * 31 + height);
    return parts;
}

template <class Change>
std::function<PngParts()> changed(Change change, PngParts parts = plain()) {
    return [=] {
        PngParts copy = parts;
        change(copy);
        return copy;
    };
}

const FileCase kFiles[] = {
    {"RGB, every filter type", changed([](PngParts&) {}), true},
    {"RGBA, every filter type", changed([](PngParts&) {}, plain(29, 17, 4)), true},
    {"one pixel", changed([](PngParts&) {}, plain(1, 1)), true},
    {"a width of 1 and of 333", changed([](PngParts&) {}, plain(333, 5)), true},
    {"one column", changed([](PngParts&) {}, plain(1, 40, 4)), true},
    {"stored blocks only", changed([](PngParts& p) { p.stream = zlib_stream(filtered_rows(p.picture, p.filters), 0); }),
     true},
    {"IDATs split at odd places, one of them empty",
     changed([](PngParts& p) {
         p.stream = zlib_stream(filtered_rows(p.picture, p.filters));
         p.idat_splits = {1, 2, 2, 7, p.stream.size() - 3, p.stream.size() - 1};
     }),
     true},
    {"ancillary chunks before and after the image data",
     changed([](PngParts& p) {
         p.before_data = chunk("gAMA", {0, 0, 0xb1, 0x8f});
         const Bytes text = chunk("tEXt", {'k', 0, 'v'});
         p.before_data.insert(p.before_data.end(), text.begin(), text.end());
         const Bytes private_chunk = chunk("prVt", {1, 2, 3});
         p.before_data.insert(p.before_data.end(), private_chunk.begin(), private_chunk.end());
         p.after_data = chunk("tIME", {7, 0xe8, 1, 2, 3, 4, 5});
     }),
     true},
    {"trailing data after IEND", changed([](PngParts& p) { p.trailing = {'j', 'u', 'n', 'k'}; }), true},
    {"a transparent colour",
     changed([](PngParts& p) {
         const u8* first = p.picture.samples.data();
         p.before_data = chunk("tRNS", {0, first[0], 0, first[1], 0, first[2]});
     }),
     true},
    {"a transparent colour beyond 8 bits",
     changed([](PngParts& p) { p.before_data = chunk("tRNS", {1, 0, 0, 0, 0, 0}); }), false},
    {"a transparent colour in an RGBA image",
     changed([](PngParts& p) { p.before_data = chunk("tRNS", {0, 0, 0, 0, 0, 0}); }, plain(9, 9, 4)), false},
    {"a suggested palette", changed([](PngParts& p) { p.before_data = chunk("PLTE", {1, 2, 3}); }), false},
    {"an unknown critical chunk", changed([](PngParts& p) { p.before_data = chunk("CRIt", {}); }), false},
    {"a critical chunk after the image data", changed([](PngParts& p) { p.after_data = chunk("CRIt", {}); }), true},
    {"a filter type above 4", changed([](PngParts& p) { p.filters = {0, 2, 5}; }), false},
    {"an image data stream one row short",
     changed([](PngParts& p) {
         Bytes rows = filtered_rows(p.picture, p.filters);
         rows.resize(rows.size() - p.picture.width * 3 - 1);
         p.stream = zlib_stream(rows);
     }),
     false},
    {"an image data stream one byte too long",
     changed([](PngParts& p) {
         Bytes rows = filtered_rows(p.picture, p.filters);
         rows.push_back(0);
         p.stream = zlib_stream(rows);
     }),
     false},
    {"bytes after the end of the stream",
     changed([](PngParts& p) {
         p.stream = zlib_stream(filtered_rows(p.picture, p.filters));
         p.stream.push_back(0);
     }),
     false},
    {"a wrong Adler-32",
     changed([](PngParts& p) {
         p.stream = zlib_stream(filtered_rows(p.picture, p.filters));
         p.stream.back() ^= 1;
     }),
     false},
    {"a window smaller than 32 KiB",
     changed([](PngParts& p) {
         p.stream = zlib_stream(filtered_rows(p.picture, p.filters));
         p.stream[0] = 0x58;  // 8 KiB; the check bits follow
         p.stream[1] = static_cast<u8>(p.stream[1] - (0x5800 + p.stream[1]) % 31);
     }),
     false},
    {"no IEND", changed([](PngParts& p) { p.iend = false; }), false},
    {"IEND with data", changed([](PngParts& p) { p.after_data = chunk("IEND", {0}); }), false},
    {"marked interlaced", changed([](PngParts& p) { p.interlace = 1; }), false},
};

Bytes with_crc_broken(Bytes png, const char* type) {
    const std::string file(png.begin(), png.end());
    const u64 at = file.find(type);
    const u64 length = u64{png[at - 4]} << 24 | u64{png[at - 3]} << 16 | u64{png[at - 2]} << 8 | png[at - 1];
    png[at + 4 + length] ^= 0x40;
    return png;
}

}  // namespace

TEST("the walk refuses the streams libdeflate inflates and zlib refuses") {
    for (const StreamCase& stream : kLenientStreams) {
        const Bytes raw = stream.make();
        CHECK(libdeflate_inflates(raw));
        if (zlib_inflate(raw)) check::record_failure(__FILE__, __LINE__, std::string("zlib inflates ") + stream.name);
        if (walk_deflate(raw, 1 << 20)) check::record_failure(__FILE__, __LINE__, std::string("walked ") + stream.name);
    }
}

TEST("the walk follows every stream zlib writes to its end") {
    std::mt19937 generator(5);
    Bytes data(100000);
    for (u8& byte : data) byte = static_cast<u8>(generator() % 7 == 0 ? generator() : 'x');
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    for (int level = 0; level <= 9; ++level) {
        for (int strategy : strategies) {
            const Bytes raw = deflated(data, level, strategy);
            const auto layout = walk_deflate(raw, data.size());
            REQUIRE(layout.has_value());
            CHECK_EQ(layout->output_length, data.size());
            CHECK_EQ((layout->end_bit + 7) / 8, raw.size());
            CHECK(!walk_deflate(raw, data.size() - 1));  // the limit holds
            CHECK(!walk_deflate(ByteView(raw).first(raw.size() - 1), data.size()));
        }
    }
}

TEST("the fast path takes plain files and leaves the rest to libpng, which agrees") {
    for (const FileCase& file : kFiles) {
        const Bytes png = png_of(file.parts());
        if (fast_path_takes(png) != file.taken) {
            check::record_failure(__FILE__, __LINE__, std::string(file.name) + (file.taken ? ": left" : ": taken"));
        }
    }
}

TEST("a wrong CRC in any chunk leaves the file to libpng") {
    PngParts parts = plain();
    parts.before_data = chunk("tEXt", {'k', 0, 'v'});
    const Bytes png = png_of(parts);
    CHECK(fast_path_takes(png));
    for (const char* type : {"IHDR", "tEXt", "IDAT", "IEND"}) CHECK(!fast_path_takes(with_crc_broken(png, type)));
}

TEST("image data that libdeflate inflates and zlib refuses is left to libpng") {
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    for (const StreamCase& stream : kLenientStreams) {
        const Bytes raw = stream.make();
        Bytes rows(1 << 20);
        std::size_t produced = 0;
        libdeflate_deflate_decompress(decompressor, raw.data(), raw.size(), rows.data(), rows.size(), &produced);
        PngParts parts;  // one row of RGB pixels behind filter type 0
        parts.picture = Picture{static_cast<u32>(produced / 3), 1, 3, {}};
        parts.stream = {0x78, 0x9c};
        parts.stream.insert(parts.stream.end(), raw.begin(), raw.end());
        put_be32(parts.stream, static_cast<u32>(adler32(1, rows.data(), static_cast<uInt>(produced))));
        if (fast_path_takes(png_of(parts))) check::record_failure(__FILE__, __LINE__, stream.name);
    }
    libdeflate_free_decompressor(decompressor);
}

TEST("each row filter is applied and undone as the PNG specification defines it") {
    // Random rows, and rows of the values where the predictors turn, drawn
    // at random so that each byte meets most combinations of them to its
    // left, above and above left.
    std::mt19937 generator(3);
    const u8 values[] = {0, 1, 127, 128, 129, 254, 255};
    for (unsigned channels : {3u, 4u}) {
        for (u32 width : {1u, 5u, 6u, 700u}) {
            Picture picture = random_picture(width, 60, channels, width + channels);
            if (width == 700) {
                for (u8& sample : picture.samples) sample = values[generator() % 7];
            }
            const u64 stride = u64{width} * channels;
            const Bytes zeros(stride, 0);
            for (u8 filter = 0; filter <= 4; ++filter) {
                const Bytes expected = filtered_rows(picture, {filter});
                Bytes previous = zeros;
                for (u64 y = 0; y < picture.height; ++y) {
                    const u8* row = picture.samples.data() + y * stride;
                    Bytes filtered(stride);
                    apply_filter(filter, row, previous.data(), stride, channels, filtered.data());
                    CHECK(std::equal(filtered.begin(), filtered.end(), expected.begin() + y * (stride + 1) + 1));
                    Bytes undone(stride);
                    unfilter_row(filter, filtered.data(), undone.data(), previous.data(), stride, channels);
                    CHECK(std::equal(undone.begin(), undone.end(), row));
                    previous.assign(row, row + stride);
                }
            }
        }
    }
}
