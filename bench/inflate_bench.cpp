// Inflate throughput of the library's decoder against zlib on the same data:
// many small streams (a few KB, like page contents and fonts' ToUnicode
// maps) and a few large ones (MBs, like images). PDF files given on the
// command line add their /FlateDecode streams as a third set.
//
//   inflate_bench [file.pdf ...]
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "filter/inflate.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes raw_deflate(const Bytes& in, int level) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&zs, in.size()));
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// zlib's raw inflate into a buffer of known size; false on any failure.
bool zlib_inflate(const Bytes& in, Bytes& out) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) return false;
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&zs, Z_FINISH);
    inflateEnd(&zs);
    return rc == Z_STREAM_END;
}

// Text resembling page content: operators, numbers, short strings.
Bytes content_like(std::mt19937& rng, std::size_t size) {
    static const char* const ops[] = {" Tf\n", " Td\n",  " Tj\n", " re f\n",
                                      " m ",   " l S\n", " cm\n", " TJ\n"};
    std::string s;
    while (s.size() < size) {
        s += std::to_string(rng() % 1000) + "." + std::to_string(rng() % 100) + " ";
        s += std::to_string(rng() % 800);
        if (rng() % 3 == 0)
            s += " (" + std::string(1 + rng() % 12, static_cast<char>('a' + rng() % 26)) + ")";
        s += ops[rng() % 8];
    }
    s.resize(size);
    return Bytes(s.begin(), s.end());
}

// Image-like data: smooth gradients with noise.
Bytes image_like(std::mt19937& rng, std::size_t size) {
    Bytes out(size);
    std::uint8_t v = 128;
    for (auto& b : out) {
        v = static_cast<std::uint8_t>(v + static_cast<int>(rng() % 5) - 2);
        b = rng() % 16 == 0 ? static_cast<std::uint8_t>(rng()) : v;
    }
    return out;
}

struct Stream {
    Bytes packed;
    std::size_t size;  // decoded size
};

// The /FlateDecode streams of a PDF file, found by a plain scan: a "stream"
// keyword whose dictionary (since the last "obj") names FlateDecode, up to
// the next "endstream". Good enough for benchmark input; streams zlib
// cannot inflate are dropped.
std::vector<Stream> pdf_streams(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<Stream> out;
    std::size_t pos = 0;
    while ((pos = data.find("stream", pos)) != std::string::npos) {
        std::size_t obj = data.rfind(" obj", pos);
        std::string_view head(data.data() + (obj == std::string::npos ? 0 : obj),
                              pos - (obj == std::string::npos ? 0 : obj));
        std::size_t start = pos + 6;
        if (start < data.size() && data[start] == '\r') ++start;
        if (start < data.size() && data[start] == '\n') ++start;
        std::size_t end = data.find("endstream", start);
        if (end == std::string::npos) break;
        pos = end + 9;
        if (head.find("FlateDecode") == std::string_view::npos ||
            head.find("endstream") != std::string_view::npos)
            continue;
        Bytes packed(data.begin() + static_cast<std::ptrdiff_t>(start),
                     data.begin() + static_cast<std::ptrdiff_t>(end));
        if (packed.size() >= 2 && (packed[0] & 0x0F) == 8 &&
            ((packed[0] << 8) | packed[1]) % 31 == 0) {
            packed.erase(packed.begin(), packed.begin() + 2);
        }
        auto ours = vellox_core::inflate(packed);
        if (!ours.ok()) continue;
        Bytes check(ours->size());
        if (!zlib_inflate(packed, check) || check != *ours) continue;
        out.push_back({std::move(packed), ours->size()});
    }
    return out;
}

template <class F>
double seconds_for(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* name, const std::vector<Stream>& streams, int repeats) {
    std::size_t total = 0;
    for (const auto& s : streams) total += s.size;
    if (total == 0) {
        std::printf("%-28s no data\n", name);
        return;
    }
    bool ok = true;
    double ours = seconds_for([&] {
        for (int r = 0; r < repeats; ++r) {
            for (const auto& s : streams) ok &= vellox_core::inflate(s.packed).ok();
        }
    });
    double zlib = seconds_for([&] {
        for (int r = 0; r < repeats; ++r) {
            for (const auto& s : streams) {
                Bytes out(s.size);
                ok &= zlib_inflate(s.packed, out);
            }
        }
    });
    double mb = static_cast<double>(total) * repeats / 1e6;
    std::printf("%-28s %6zu streams %9.1f MB  vellox %8.1f MB/s  zlib %8.1f MB/s  ratio %5.2f%s\n",
                name, streams.size(), static_cast<double>(total) / 1e6, mb / ours, mb / zlib,
                zlib / ours, ok ? "" : "  (FAILURES)");
}

}  // namespace

int main(int argc, char** argv) {
    std::mt19937 rng(2024);
    std::vector<Stream> small, large_text, large_image;
    for (int i = 0; i < 2000; ++i) {
        Bytes raw = content_like(rng, 1000 + rng() % 7000);
        small.push_back({raw_deflate(raw, 6), raw.size()});
    }
    for (int i = 0; i < 3; ++i) {
        Bytes text = content_like(rng, 8 << 20);
        large_text.push_back({raw_deflate(text, 6), text.size()});
        Bytes image = image_like(rng, 8 << 20);
        large_image.push_back({raw_deflate(image, 6), image.size()});
    }
    report("small content (1-8 KB)", small, 3);
    report("large content (8 MB)", large_text, 1);
    report("large image-like (8 MB)", large_image, 1);

    std::vector<Stream> from_files;
    for (int i = 1; i < argc; ++i) {
        auto s = pdf_streams(argv[i]);
        from_files.insert(from_files.end(), std::make_move_iterator(s.begin()),
                          std::make_move_iterator(s.end()));
    }
    if (argc > 1) report("PDF FlateDecode streams", from_files, 1);
    return 0;
}
