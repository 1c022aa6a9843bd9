// Loading a Tiled map (TMX, or Tiled's JSON, TMJ) as a picture: each tile
// of its tile layer is a pixel (square tiles) or two (bricks; see
// tiled_format.h), the tile's value its palette index. The picture has no
// colour table; its rows are decoded as they are read (kept AsDecoded), so
// neither the file nor the layer is held. The size report's pixel block is
// the layer's tiles x 4 bytes (32-bit gids, as base64 data stores them).
//
// Nothing the map names is ever opened: external tilesets count only by
// their first gid, images not at all. The TMX reader loads no DTD and no
// external entity, and refuses any entity declaration or undeclared
// entity. Refusals of the layer list (several tile layers and no
// LoadOptions::tileLayer) come when the document ends, as the last row is
// read.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "byte_buffer.h"
#include "picture.h"
#include "platform.h"

namespace bmp2grid {

// Whether a file starting with `first` is a TMX map: after an optional
// UTF-8 byte-order mark and white space, "<?xml" or "<map".
bool IsTmxStart(std::span<const std::uint8_t> first);
// Whether it is JSON that may be a TMJ map: after white space, "{", white
// space and '"'.
bool IsTmjStart(std::span<const std::uint8_t> first);
// How many first bytes the two tell a format from.
constexpr std::size_t kTiledSniffBytes = 64;

// Whether XML that IsTmxStart() took has "map" as its root element, where
// `first` (its first bytes, kTmxRootSniffBytes or fewer) reaches that far:
// a Tiled tile set (<tileset>) or a template is XML too, but no map.
// Declarations, comments and processing instructions before the root are
// passed over.
bool IsTmxMapRoot(std::span<const std::uint8_t> first);
constexpr std::size_t kTmxRootSniffBytes = 4096;

// Loads a TMX map from an input already opened; `taken` holds the bytes
// already read from a stream's start (empty for a regular file, read at
// offsets).
LoadResult LoadTmx(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                   const LoadOptions& options);
LoadResult DecodeTmx(ByteBuffer file, const LoadOptions& options);

// The same for a TMJ map. Its layers' data come before the keys that give
// the map's shape and tilesets, so it is read twice: a regular file at
// offsets, a stream held in memory first. In a build without RapidJSON,
// refused with TmjNotBuilt.
LoadResult LoadTmj(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                   const LoadOptions& options);
LoadResult DecodeTmj(ByteBuffer file, const LoadOptions& options);

}  // namespace bmp2grid
