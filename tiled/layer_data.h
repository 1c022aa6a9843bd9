// A tile layer's data as Tiled writes it, decoded into gids as it arrives:
// CSV, or base64 of little-endian 32-bit gids, uncompressed or compressed
// with zlib or gzip (through zlib). The XML form (one <tile gid=...>
// element a tile) is the TMX reader's; zstd is refused by name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "picture.h"
#include "tile_layer.h"

namespace bmp2grid::tiled {

enum class DataEncoding { Csv, Base64, Zlib, Gzip };

// The encoding named by Tiled's `encoding` and `compression` (empty when
// absent); false, with `failure` (TiledEncoding, TiledCompression), for
// one not read. An absent encoding is not one of these (TMX: <tile>
// elements; TMJ: an array of numbers).
bool EncodingOf(std::string_view encoding, std::string_view compression, DataEncoding& result,
                LoadFailure& failure);

class LayerData {
public:
    explicit LayerData(TileRows& rows);
    ~LayerData();
    LayerData(const LayerData&) = delete;
    LayerData& operator=(const LayerData&) = delete;

    // Starts the data; false when memory ran out (the rows' Failure()).
    bool Begin(DataEncoding encoding);
    // The data's next characters; false when they are refused (the rows'
    // Failure() says why).
    bool Feed(std::string_view text);
    // The data's end; false when it is incomplete.
    bool End();

private:
    bool Bytes(const std::uint8_t* data, std::size_t size);
    bool Gid(std::uint32_t gid) { return rows_.Add(gid); }
    bool Bad(const char* what, const char* words = nullptr);

    TileRows& rows_;
    DataEncoding encoding_ = DataEncoding::Csv;
    // CSV: the number being read.
    std::uint64_t number_ = 0;
    bool inNumber_ = false;
    bool afterNumber_ = false;  // white space after a number, before its comma
    // base64: the bits not yet a byte, and the gid being assembled.
    std::uint32_t bits_ = 0;
    int bitCount_ = 0;
    int padding_ = 0;
    std::uint32_t gid_ = 0;
    int gidBytes_ = 0;
    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
    bool streamEnded_ = false;
};

}  // namespace bmp2grid::tiled
