#include "recording/hdf5_chunks.h"

#include <zlib.h>

namespace ostrel::recording::export_detail {
namespace {

constexpr int kLevel = 1;
constexpr int kWindowBits = 15;  // the zlib format HDF5's deflate filter reads
constexpr int kMemoryLevel = 8;

}  // namespace

std::span<const unsigned char> ChunkPacker::pack(const void *elements, std::size_t elementCount,
                                                 std::size_t elementSize, Matching matching,
                                                 std::string &error) {
    const std::size_t bytes = elementCount * elementSize;
    shuffled_.resize(bytes);
    const auto *in = static_cast<const unsigned char *>(elements);
    for (std::size_t b = 0; b < elementSize; ++b) {
        unsigned char *plane = shuffled_.data() + b * elementCount;
        for (std::size_t i = 0; i < elementCount; ++i) plane[i] = in[i * elementSize + b];
    }
    z_stream stream{};
    const int strategy = matching == Matching::runs ? Z_RLE : Z_DEFAULT_STRATEGY;
    if (deflateInit2(&stream, kLevel, Z_DEFLATED, kWindowBits, kMemoryLevel, strategy) != Z_OK) {
        error = "cannot compress: zlib failed";
        return {};
    }
    packed_.resize(deflateBound(&stream, uLong(bytes)));
    stream.next_in = shuffled_.data();
    stream.avail_in = uInt(bytes);
    stream.next_out = packed_.data();
    stream.avail_out = uInt(packed_.size());
    const int status = deflate(&stream, Z_FINISH);
    const std::size_t size = packed_.size() - stream.avail_out;
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        error = "cannot compress: zlib failed";
        return {};
    }
    return {packed_.data(), size};
}

}  // namespace ostrel::recording::export_detail
