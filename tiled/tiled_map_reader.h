// What the TMX and TMJ readers share: the map's facts as they are read,
// the choice of the tile layer, the checks at the document's end, and the
// rows handed out as the parse moves on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "layer_data.h"
#include "map_input.h"
#include "picture.h"
#include "tile_layer.h"

namespace bmp2grid::tiled {

// A map's facts gathered by a parse.
struct MapFacts {
    MapShapeFacts shape;
    bool infinite = false;
    std::vector<std::uint64_t> firstGids;  // every tileset's, in document order
    // The first kListedLayers tile layers' names, in document order; how
    // many there are; whether one of them is the one --layer asks for.
    std::vector<std::string> tileLayers;
    std::uint64_t tileLayerCount = 0;
    bool askedLayerSeen = false;
};

// How many tile layers' names a refusal lists: a map of millions of layers
// is refused in bounded memory.
constexpr std::size_t kListedLayers = 10;

class MapReader {
public:
    explicit MapReader(MapInput input, const LoadOptions& options);
    virtual ~MapReader() = default;
    MapReader(const MapReader&) = delete;
    MapReader& operator=(const MapReader&) = delete;

    // Picture row `y`, parsing on as far as it needs (to the document's end
    // for the last row); nullptr on a refusal (Failure()).
    const std::uint8_t* Row(std::int64_t y);
    LoadFailure Failure() const;

protected:
    // Parses on a little; false at the document's end or on a refusal.
    virtual bool Step() = 0;
    // Whether the tile layer named `name` (the `index`th, 0-based) is read.
    bool Picks(const std::string& name) const;
    // Checks the map's facts once they are all known (the shape, the
    // tilesets), for the layer about to be read of `width` x `height`
    // tiles named `name`; starts its rows. False with the refusal.
    bool StartLayer(const std::string& name, std::int64_t width, std::int64_t height);
    // Checks the map's shape as soon as it is known; false with the refusal.
    bool CheckShape();
    // Counts a tile layer, keeping its name if it is among the first few.
    void NoteTileLayer(const std::string& name);
    // Checks the layer list at the document's end.
    bool CheckLayers();
    bool Refuse(LoadFailure failure);
    // The picture of the layer started.
    LoadResult MakePicture(std::shared_ptr<const PixelStore> pixels) const;
    bool Failed() const { return !failure_.ok() || rows_.Failed(); }
    bool InputRefused();

    MapInput input_;
    const LoadOptions options_;
    MapFacts facts_;
    Shape shape_ = Shape::Squares;
    TileRows rows_;
    LayerData data_{rows_};
    bool layerStarted_ = false;
    bool ended_ = false;  // the document was parsed to its end
    LoadFailure failure_;
    std::int64_t columns_ = 0;
    std::int64_t rowCount_ = 0;
};

// A map's rows, decoded as they are read: they can be read once.
class MapRows final : public PixelStore {
public:
    explicit MapRows(std::shared_ptr<MapReader> reader) : reader_(std::move(reader)) {}
    Kept Where() const override { return Kept::AsDecoded; }
    std::unique_ptr<RowReader> ReadRows(std::int64_t) const override;

private:
    std::shared_ptr<MapReader> reader_;
};

// A non-negative decimal number of at most `max`, as an attribute holds
// it; nullopt for anything else.
std::optional<std::int64_t> ParseCount(std::string_view text, std::int64_t max);

}  // namespace bmp2grid::tiled
