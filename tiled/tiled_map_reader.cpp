#include "tiled_map_reader.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace bmp2grid::tiled {

MapReader::MapReader(MapInput input, const LoadOptions& options) : input_(std::move(input)), options_(options) {}

LoadFailure MapReader::Failure() const { return !failure_.ok() ? failure_ : rows_.Failure(); }

bool MapReader::Refuse(LoadFailure failure) {
    failure_ = std::move(failure);
    return false;
}

bool MapReader::InputRefused() {
    return Refuse(bmp2grid::Failure(input_.Failed() ? LoadError::ReadFailed : LoadError::NoMemory));
}

bool MapReader::Picks(const std::string& name) const {
    if (layerStarted_) return false;
    return !options_.tileLayer.has_value() || *options_.tileLayer == name;
}

bool MapReader::CheckShape() {
    LoadFailure refused;
    if (!ShapeOf(facts_.shape, shape_, refused)) return Refuse(std::move(refused));
    if (facts_.infinite) return Refuse(bmp2grid::Failure(LoadError::TiledInfinite));
    return true;
}

bool MapReader::StartLayer(const std::string& name, std::int64_t width, std::int64_t height) {
    if (!CheckShape()) return false;
    if (facts_.firstGids.empty()) return Refuse(bmp2grid::Failure(LoadError::TiledNoTileset));
    const MapShapeFacts& map = facts_.shape;
    if (width != map.width || height != map.height) {
        LoadFailure refused = bmp2grid::Failure(LoadError::TiledLayerSize);
        refused.names.push_back(name);
        refused.column = width;
        refused.row = height;
        refused.shape = map;
        return Refuse(std::move(refused));
    }
    // The first tileset is the one of the lowest first gid; the next one's
    // first gid ends its tiles.
    std::vector<std::uint64_t> gids = facts_.firstGids;
    std::sort(gids.begin(), gids.end());
    const std::uint64_t first = gids[0];
    const auto other = std::upper_bound(gids.begin(), gids.end(), first);
    rows_.Start(shape_, width, height, first, other == gids.end() ? std::uint64_t{1} << 32 : *other);
    columns_ = width;
    rowCount_ = height;
    layerStarted_ = true;
    return true;
}

void MapReader::NoteTileLayer(const std::string& name) {
    ++facts_.tileLayerCount;
    if (options_.tileLayer.has_value() && *options_.tileLayer == name) facts_.askedLayerSeen = true;
    if (facts_.tileLayers.size() < kListedLayers) facts_.tileLayers.push_back(name);
}

bool MapReader::CheckLayers() {
    if (facts_.tileLayerCount == 0) return Refuse(bmp2grid::Failure(LoadError::TiledNoTileLayer));
    LoadFailure refused;
    if (options_.tileLayer.has_value()) {
        if (facts_.askedLayerSeen) return true;
        refused = bmp2grid::Failure(LoadError::TiledNoSuchLayer);
        refused.reason = *options_.tileLayer;
    } else {
        if (facts_.tileLayerCount == 1) return true;
        refused = bmp2grid::Failure(LoadError::TiledSeveralLayers);
    }
    refused.names = facts_.tileLayers;
    refused.value = facts_.tileLayerCount;
    return Refuse(std::move(refused));
}

LoadResult MapReader::MakePicture(std::shared_ptr<const PixelStore> pixels) const {
    LoadResult result;
    Picture& picture = result.picture;
    picture.width = PictureWidth(shape_, columns_);
    picture.rows = rowCount_;
    picture.colourCount = 0;
    picture.storedBytes = columns_ * rowCount_ * 4;
    picture.pixels = std::move(pixels);
    return result;
}

const std::uint8_t* MapReader::Row(std::int64_t y) {
    while (!rows_.RowReady()) {
        if (Failed()) return nullptr;
        if (!Step()) {
            if (Failed()) return nullptr;
            // The document ended before the layer's data did.
            if (!rows_.CheckComplete()) return nullptr;
        }
    }
    if (y == rowCount_ - 1) {
        while (!ended_ && Step()) {
        }
        if (Failed() || !CheckLayers()) return nullptr;
        input_.Release();
    }
    return rows_.TakeRow();
}

std::unique_ptr<RowReader> MapRows::ReadRows(std::int64_t) const {
    class Reader final : public RowReader {
    public:
        explicit Reader(MapReader& map) : map_(map) {}
        bool Decodes() const override { return true; }
        const std::uint8_t* Row(std::int64_t y) override { return map_.Row(y); }
        LoadFailure Failure() const override { return map_.Failure(); }

    private:
        MapReader& map_;
    };
    return std::unique_ptr<RowReader>(new (std::nothrow) Reader(*reader_));
}

std::optional<std::int64_t> ParseCount(std::string_view text, std::int64_t max) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > max) return std::nullopt;
    return value;
}

}  // namespace bmp2grid::tiled
