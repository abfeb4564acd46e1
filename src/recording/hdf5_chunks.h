// Internal to the HDF5 export: a chunk filtered as HDF5's shuffle and deflate filters would
// filter it, done here so that the chunk goes to the file whole (H5Dwrite_chunk) and the
// deflate can be run-length only, several times faster than HDF5's own on values whose bytes
// are close to random. Any HDF5 reader undoes it with the filters the dataset names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ostrel::recording::export_detail {

class ChunkPacker {
  public:
    // How the deflate looks for repeats: whole strings (times, which repeat their bytes), or
    // runs of one byte only (values, whose shuffled high bytes are the runs).
    enum class Matching { strings, runs };

    // The chunk of `elementCount` elements of `elementSize` bytes at `elements` (the full
    // chunk, the tail of a last chunk zeros): shuffled (byte k of every element together),
    // then deflated in the zlib format at level 1. Empty on a zlib failure (`error`).
    std::span<const unsigned char> pack(const void *elements, std::size_t elementCount,
                                        std::size_t elementSize, Matching matching,
                                        std::string &error);

  private:
    std::vector<unsigned char> shuffled_;
    std::vector<unsigned char> packed_;
};

}  // namespace ostrel::recording::export_detail
