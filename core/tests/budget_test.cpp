// The call's budget (budget.h): its counts and messages, and the limits as
// the pipeline keeps them: a decompression bomb stops while it inflates, a
// stream of millions of tiny operations and forms drawn again and again stop
// on time, and the stages that skip what fails to load do not hide a limit.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <string>
#include <string_view>

#include "budget.h"
#include "content.h"
#include "doc.h"
#include "filter/chain.h"
#include "support/cpu_time.h"
#include "support/pdf_builder.h"
#include "support/zlib_compress.h"

using namespace vellox_core;
using vellox_test::PdfBuilder;

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// zlib data of `n` copies of `byte`, compressed a mebibyte at a time so that
// the test never holds the expanded text.
std::string flate_repeat(char byte, std::size_t n) {
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    const std::string chunk(kMiB, byte);
    std::string out;
    char buf[1 << 16];
    for (std::size_t left = n; left > 0 || z.avail_in > 0;) {
        const std::size_t take = left < chunk.size() ? left : chunk.size();
        left -= take;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
        z.avail_in = static_cast<uInt>(take);
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int rc = Z_OK;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buf);
            z.avail_out = sizeof buf;
            rc = deflate(&z, flush);
            out.append(buf, sizeof buf - z.avail_out);
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
        if (flush == Z_FINISH) break;
    }
    deflateEnd(&z);
    return out;
}

// RunLength data of `n` (a multiple of 128) copies of `byte`: 2 bytes per 128.
std::string run_length_repeat(char byte, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n / 128; ++i) {
        out += static_cast<char>(129);
        out += byte;
    }
    return out;
}

Dictionary filter_dict(std::string_view filters) {
    Dictionary d;
    if (filters.empty()) return d;
    Array names;
    std::size_t start = 0;
    while (start < filters.size()) {
        std::size_t end = filters.find(' ', start);
        if (end == std::string_view::npos) end = filters.size();
        names.emplace_back(Name{std::string(filters.substr(start, end - start))});
        start = end + 1;
    }
    d.set("Filter", Object(std::move(names)));
    return d;
}

std::string hex_of(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        out += kDigits[static_cast<unsigned char>(c) >> 4];
        out += kDigits[static_cast<unsigned char>(c) & 15];
    }
    return out + ">";
}

// A one-page file whose content is `content` (stored as given, with
// `filter` entries), and whose resources may hold anything else.
std::string one_page(std::string_view content_dict, std::string_view content,
                     std::string_view resources = "", std::string_view extra_num = "",
                     std::string_view extra_dict = "", std::string_view extra_data = "") {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3,
          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
          "/Resources << " +
              std::string(resources) + " >> >>");
    b.stream(4, content_dict, content);
    if (!extra_num.empty()) {
        b.stream(static_cast<std::uint32_t>(std::stoul(std::string(extra_num))), extra_dict,
                 extra_data);
    }
    b.xref_table("/Root 1 0 R");
    return b.text();
}

Result<ExtractedDoc> extract_with(const std::string& pdf, double seconds, std::uint64_t bytes) {
    auto doc = Document::parse_with_password(as_bytes(pdf), {});
    if (!doc) return std::move(doc).error();
    ExtractOptions options;
    options.time_limit = seconds;
    options.max_decoded_bytes = bytes;
    return doc->extract(options);
}

}  // namespace

TEST(Budget, CountsDecodedBytesAndFailsPastTheMaximum) {
    Budget budget(0, 100);
    EXPECT_EQ(budget.room(), 100u);
    EXPECT_TRUE(budget.take(60));
    EXPECT_TRUE(budget.take(40));  // exactly the maximum is within it
    EXPECT_EQ(budget.room(), 0u);
    budget.give_back(30);
    EXPECT_EQ(budget.decoded(), 70u);
    EXPECT_FALSE(budget.take(31));
    ASSERT_TRUE(budget.exceeded());
    EXPECT_EQ(budget.error(), (Error{ErrorKind::LimitExceeded, "decoded data over 100 bytes"}));
    EXPECT_EQ(budget.error().to_string(), "LimitExceeded: decoded data over 100 bytes");
    // Once passed, every check fails with the same error, the clock's too.
    EXPECT_FALSE(budget.take(0));
    EXPECT_FALSE(budget.pace());
    EXPECT_FALSE(budget.check_time());
    EXPECT_EQ(budget.status().error().message, "decoded data over 100 bytes");
}

TEST(Budget, WithoutLimitsOnlyCounts) {
    Budget budget;
    EXPECT_TRUE(budget.take(std::size_t{1} << 40));
    for (std::size_t i = 0; i < 3 * Budget::kClockStride; ++i) ASSERT_TRUE(budget.pace());
    EXPECT_TRUE(budget.check_time());
    EXPECT_TRUE(budget.status().ok());
    EXPECT_EQ(budget.decoded(), std::uint64_t{1} << 40);
    // Values that are no positive number of seconds set no deadline.
    for (const double seconds : {0.0, -1.0, std::nan(""), 1e300}) {
        Budget odd(seconds, 0);
        EXPECT_TRUE(odd.check_time()) << seconds;
    }
}

TEST(Budget, TimeLimitIsSeenByTheClockEveryStride) {
    Budget budget(1e-9, 0);
    // The clock is only read once a stride of work has gone by.
    for (std::size_t i = 0; i + 1 < Budget::kClockStride; ++i) ASSERT_TRUE(budget.pace());
    EXPECT_FALSE(budget.pace());
    ASSERT_TRUE(budget.exceeded());
    EXPECT_EQ(budget.error().to_string(), "LimitExceeded: time limit of 1e-09 s");
    EXPECT_FALSE(budget.take(1));  // the first limit passed stays the error
    EXPECT_EQ(budget.error().message, "time limit of 1e-09 s");
}

TEST(Budget, SecondsAreWrittenAsPythonWritesThem) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0.05, "0.05"},
        {2, "2"},
        {1.5, "1.5"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1e-05, "1e-05"},
        {0.0001, "0.0001"},
        {123.25, "123.25"},
        {1e16, "1e+16"},
        {2.5e16, "2.5e+16"},
        {3600, "3600"},
        {1e15 + 0.5, "1000000000000000.5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(seconds_text(c.seconds), c.text);
    }
}

TEST(Budget, BombsStopWhileTheyDecode) {
    const struct {
        const char* filters;
        std::string data;
    } cases[] = {
        {"FlateDecode", flate_repeat(' ', 64 * kMiB)},
        {"RunLengthDecode", run_length_repeat('a', 64 * kMiB)},
        {"ASCIIHexDecode FlateDecode", hex_of(flate_repeat(' ', 64 * kMiB))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filters);
        Budget budget(0, kMiB);
        const double start = vellox_test::cpu_seconds();
        auto decoded =
            decode_stream(filter_dict(c.filters), as_bytes(c.data), Reading::Lenient, &budget);
        ASSERT_FALSE(decoded.ok());
        EXPECT_EQ(decoded.error(),
                  (Error{ErrorKind::LimitExceeded, "decoded data over 1048576 bytes"}));
        // Stopped near the maximum, not after decoding it all: what was
        // counted is within one growth step of it.
        EXPECT_LT(budget.decoded(), 2 * kMiB + c.data.size());
        EXPECT_LT(vellox_test::cpu_seconds() - start, 0.5);
    }
}

TEST(Budget, StreamsCountTheirDecodedSizeExactly) {
    const std::string text(10000, 'x');
    const struct {
        const char* filters;
        std::string data;
    } cases[] = {
        {"", text},
        {"FlateDecode", vellox_test::zlib_compress(text)},
        {"ASCIIHexDecode", hex_of(text)},
        // The intermediate Flate data no longer counts once decoded.
        {"ASCIIHexDecode FlateDecode", hex_of(vellox_test::zlib_compress(text))},
        {"RunLengthDecode", run_length_repeat('x', 9984) + "\x0Fxxxxxxxxxxxxxxxx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filters);
        Budget exact(0, 10000);
        auto decoded =
            decode_stream(filter_dict(c.filters), as_bytes(c.data), Reading::Strict, &exact);
        ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
        EXPECT_EQ(decoded->size(), 10000u);
        EXPECT_EQ(exact.decoded(), 10000u);
        Budget short_by_one(0, 9999);
        auto over =
            decode_stream(filter_dict(c.filters), as_bytes(c.data), Reading::Strict, &short_by_one);
        ASSERT_FALSE(over.ok());
        EXPECT_EQ(over.error().message, "decoded data over 9999 bytes");
    }
}

TEST(Budget, AStreamsStartCountsTheSameUnderAnyBudget) {
    // A caller that wants only the start of a stream (a font program's)
    // gets, and is charged, exactly that many bytes, whatever room the
    // budget leaves. The decoding runs on to the end of its buffer, whose
    // size follows the budget's room; were the bytes past the start
    // counted, a maximum one byte below what an unlimited call counted
    // could let the call through (the pipeline fuzz harness found such a
    // file, a Type 1 program read from its clear text).
    std::string text;
    for (int i = 0; text.size() < 60000; ++i) text += "dup " + std::to_string(i) + " /g put\n";
    for (const std::string& data : {vellox_test::zlib_compress(text), flate_repeat('x', 60000)}) {
        for (const std::size_t wanted : {std::size_t{1}, std::size_t{1000}, std::size_t{5000}}) {
            SCOPED_TRACE(wanted);
            const Dictionary dict = filter_dict("FlateDecode");
            Budget unlimited;
            auto whole = decode_stream(dict, as_bytes(data), Reading::Strict, &unlimited, wanted);
            ASSERT_TRUE(whole.ok());
            EXPECT_EQ(whole->size(), wanted);
            EXPECT_EQ(unlimited.decoded(), wanted);
            for (std::uint64_t room = wanted; room < wanted + 600; room += 7) {
                Budget limited(0, room);
                auto start = decode_stream(dict, as_bytes(data), Reading::Strict, &limited, wanted);
                ASSERT_TRUE(start.ok()) << room;
                EXPECT_EQ(*start, *whole) << room;
                EXPECT_EQ(limited.decoded(), wanted) << room;
            }
            if (wanted < 2) continue;  // a maximum of 0 is none
            Budget below(0, wanted - 1);
            EXPECT_FALSE(decode_stream(dict, as_bytes(data), Reading::Strict, &below, wanted).ok());
        }
    }
}

TEST(Budget, TheFlateBombFailsTheCallWithItsMaximum) {
    const std::string pdf = one_page("/Filter /FlateDecode", flate_repeat(' ', 64 * kMiB));
    const double start = vellox_test::cpu_seconds();
    auto result = extract_with(pdf, 0, 4 * kMiB);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().to_string(), "LimitExceeded: decoded data over 4194304 bytes");
    EXPECT_LT(vellox_test::cpu_seconds() - start, 0.5);
}

TEST(Budget, MillionsOfTinyOperationsStopOnTime) {
    // 2,000,000 operations on each of 20 pages: some seconds of work.
    std::string ops;
    for (int i = 0; i < 2'000'000; ++i) ops += "0 0 m ";
    const std::string content = vellox_test::zlib_compress(ops);
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < 20; ++i) kids += std::to_string(10 + i) + " 0 R ";
    b.obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count 20 >>");
    b.stream(3, "/Filter /FlateDecode", content);
    for (int i = 0; i < 20; ++i) {
        b.obj(10 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 3 0 R >>");
    }
    b.xref_table("/Root 1 0 R");
    const double start = vellox_test::cpu_seconds();
    auto result = extract_with(b.text(), 0.05, 0);
    const double used = vellox_test::cpu_seconds() - start;
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().to_string(), "LimitExceeded: time limit of 0.05 s");
    // The process's CPU time is at most the wall time the call took, which
    // the limit bounds; generous, since the machine is shared.
    EXPECT_LT(used, 0.3);
}

TEST(Budget, FormsDrawnAgainAndAgainStopOnTime) {
    // Each form draws the next one 64 times: 64^4 draws of the innermost
    // form's 64 operations, far more than any limit lets through.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    std::string draw;
    for (int i = 0; i < 64; ++i) draw += "/X Do ";
    b.obj(3,
          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
          "/Resources << /XObject << /X 10 0 R >> >> >>");
    b.stream(4, "", draw);
    for (int level = 0; level < 4; ++level) {
        b.stream(10 + level,
                 "/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /X " +
                     std::to_string(11 + level) + " 0 R >> >>",
                 draw);
    }
    std::string tiny;
    for (int i = 0; i < 64; ++i) tiny += "0 0 m ";
    b.stream(14, "/Type /XObject /Subtype /Form /BBox [0 0 1 1]", tiny);
    b.xref_table("/Root 1 0 R");
    const double start = vellox_test::cpu_seconds();
    auto result = extract_with(b.text(), 0.05, 0);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().to_string(), "LimitExceeded: time limit of 0.05 s");
    EXPECT_LT(vellox_test::cpu_seconds() - start, 0.3);
}

TEST(Budget, StagesThatSkipWhatFailsDoNotHideALimit) {
    // Each file shows "Hi" and holds one 64 MiB bomb where a failure is
    // normally skipped: a font's ToUnicode map, an image, a form.
    const std::string bomb = flate_repeat('\0', 64 * kMiB);
    const std::string text = "BT /F1 12 Tf 72 700 Td (Hi) Tj ET";
    const struct {
        const char* where;
        std::string resources;
        std::string content;
        std::string bomb_dict;
    } cases[] = {
        {"font",
         "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
         "/ToUnicode 9 0 R >> >>",
         text, "/Filter /FlateDecode"},
        {"image",
         "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> "
         "/XObject << /Im 9 0 R >>",
         text,
         "/Subtype /Image /Width 8192 /Height 8192 /BitsPerComponent 8 "
         "/ColorSpace /DeviceGray /Filter /FlateDecode"},
        {"form",
         "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> "
         "/XObject << /Fm 9 0 R >>",
         text + " /Fm Do", "/Subtype /Form /BBox [0 0 1 1] /Filter /FlateDecode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        const std::string pdf = one_page("", c.content, c.resources, "9", c.bomb_dict, bomb);
        auto unlimited = extract_with(pdf, 0, 0);
        ASSERT_TRUE(unlimited.ok()) << unlimited.error().to_string();
        ASSERT_EQ(unlimited->pages.size(), 1u);
        auto limited = extract_with(pdf, 0, kMiB);
        ASSERT_FALSE(limited.ok());
        EXPECT_EQ(limited.error().to_string(), "LimitExceeded: decoded data over 1048576 bytes");
    }
}

TEST(Budget, LimitsNotReachedChangeNothing) {
    std::string content = "BT /F1 12 Tf 72 700 Td (Hello) Tj ET 100 500 200 100 re S";
    const std::string pdf =
        one_page("/Filter /FlateDecode", vellox_test::zlib_compress(content),
                 "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >>");
    auto plain = extract_with(pdf, 0, 0);
    auto limited = extract_with(pdf, 60, 1 << 20);
    ASSERT_TRUE(plain.ok());
    ASSERT_TRUE(limited.ok());
    EXPECT_EQ(plain->to_json(), limited->to_json());
    EXPECT_NE(plain->to_json().find("Hello"), std::string::npos);
}

TEST(Budget, OpeningCountsAgainstTheCallersBudget) {
    // The cross-reference data and the catalog sit in streams: a budget of
    // a few bytes cannot even open the file, and says so.
    PdfBuilder b;
    b.objstm(5, {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                 {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
                 {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"}});
    b.xref_stream(6, "/Root 1 0 R");
    Budget tight(0, 16);
    auto doc = Document::parse_with_password(b.bytes(), {}, &tight);
    ASSERT_FALSE(doc.ok());
    EXPECT_EQ(doc.error().to_string(), "LimitExceeded: decoded data over 16 bytes");

    Budget ample(0, 1 << 20);
    auto opened = Document::parse_with_password(b.bytes(), {}, &ample);
    ASSERT_TRUE(opened.ok()) << opened.error().to_string();
    const std::uint64_t at_open = ample.decoded();
    EXPECT_GT(at_open, 0u);
    auto extracted = opened->extract();
    ASSERT_TRUE(extracted.ok());
    EXPECT_EQ(extracted->pages.size(), 1u);
}
