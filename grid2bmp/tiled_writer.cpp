#include "tiled_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <utility>

#include "tiled_format.h"

namespace bmp2grid {
namespace {

// Text is gathered in blocks of about this size before each write.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
// Tiles formatted between two looks at the block's size, and the most text
// each makes ("256" and a separator of at most two bytes).
constexpr std::int64_t kTilesPerStep = 4096;
constexpr std::size_t kMaxTileText = 5;
// A table entry is copied whole (4 bytes), past the digits it adds.
constexpr std::size_t kCopiedPastText = 1;

// The text of every tile value's gid, and its length.
struct GidText {
    std::array<std::array<char, 4>, 256> digits{};
    std::array<std::uint8_t, 256> length{};
};

constexpr GidText MakeGidText() {
    GidText table;
    for (std::uint32_t value = 0; value < 256; ++value) {
        std::uint32_t gid = value + tiled::kFirstGid;
        char reversed[4] = {};
        std::uint8_t n = 0;
        do {
            reversed[n++] = static_cast<char>('0' + gid % 10);
            gid /= 10;
        } while (gid > 0);
        for (std::uint8_t i = 0; i < n; ++i) table.digits[value][i] = reversed[n - 1 - i];
        table.length[value] = n;
    }
    return table;
}

constexpr GidText kGidText = MakeGidText();

// `text` as the value of an XML attribute in double quotes.
std::string XmlAttribute(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\t': out += "&#9;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            default: out += c; break;
        }
    }
    return out;
}

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Number(std::int64_t n) { return std::to_string(n); }

// The map's attributes and the tile set, in the order Tiled itself saves
// them, up to the first gid.
std::string TmxHead(std::int64_t columns, std::int64_t rows, tiled::Shape shape, std::string_view sheetName) {
    const bool bricks = shape == tiled::Shape::Bricks;
    const std::string tileWidth = Number(tiled::TileWidth(shape));
    const std::string tileHeight = Number(tiled::kTileHeight);
    std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.8\" orientation=\"";
    head += bricks ? "hexagonal" : "orthogonal";
    head += "\" renderorder=\"right-down\" width=\"" + Number(columns) + "\" height=\"" + Number(rows) +
            "\" tilewidth=\"" + tileWidth + "\" tileheight=\"" + tileHeight + "\" infinite=\"0\"";
    if (bricks) head += " hexsidelength=\"" + tileHeight + "\" staggeraxis=\"y\" staggerindex=\"odd\"";
    head += " nextlayerid=\"2\" nextobjectid=\"1\">\n";
    head += " <tileset firstgid=\"" + Number(tiled::kFirstGid) + "\" name=\"" +
            XmlAttribute(tiled::kTilesetName) + "\" tilewidth=\"" + tileWidth + "\" tileheight=\"" + tileHeight +
            "\" tilecount=\"" + Number(tiled::kTileCount) + "\" columns=\"" + Number(tiled::kSheetColumns) +
            "\">\n";
    head += "  <image source=\"" + XmlAttribute(sheetName) + "\" width=\"" +
            Number(tiled::kSheetColumns * tiled::TileWidth(shape)) + "\" height=\"" +
            Number(tiled::kSheetRows * tiled::kTileHeight) + "\"/>\n";
    head += " </tileset>\n";
    head += " <layer id=\"1\" name=\"" + XmlAttribute(tiled::kLayerName) + "\" width=\"" + Number(columns) +
            "\" height=\"" + Number(rows) + "\">\n";
    head += "  <data encoding=\"csv\">\n";
    return head;
}

constexpr std::string_view kTmxTail = "\n</data>\n </layer>\n</map>\n";

// Tiled's JSON, keys in the order Tiled itself saves them, up to the first
// gid; the layer's data comes first of its keys.
std::string TmjHead(std::int64_t rows, tiled::Shape shape) {
    std::string head = "{ \"compressionlevel\":-1,\n \"height\":" + Number(rows) + ",\n";
    if (shape == tiled::Shape::Bricks) head += " \"hexsidelength\":" + Number(tiled::kTileHeight) + ",\n";
    head += " \"infinite\":false,\n \"layers\":[\n        {\n         \"data\":[";
    return head;
}

std::string TmjTail(std::int64_t columns, std::int64_t rows, tiled::Shape shape, std::string_view sheetName) {
    const bool bricks = shape == tiled::Shape::Bricks;
    const std::string tileWidth = Number(tiled::TileWidth(shape));
    const std::string tileHeight = Number(tiled::kTileHeight);
    std::string tail = "],\n";
    tail += "         \"height\":" + Number(rows) + ",\n";
    tail += "         \"id\":1,\n";
    tail += "         \"name\":" + JsonString(tiled::kLayerName) + ",\n";
    tail += "         \"opacity\":1,\n";
    tail += "         \"type\":\"tilelayer\",\n";
    tail += "         \"visible\":true,\n";
    tail += "         \"width\":" + Number(columns) + ",\n";
    tail += "         \"x\":0,\n";
    tail += "         \"y\":0\n";
    tail += "        }],\n";
    tail += " \"nextlayerid\":2,\n";
    tail += " \"nextobjectid\":1,\n";
    tail += std::string(" \"orientation\":\"") + (bricks ? "hexagonal" : "orthogonal") + "\",\n";
    tail += " \"renderorder\":\"right-down\",\n";
    if (bricks) tail += " \"staggeraxis\":\"y\",\n \"staggerindex\":\"odd\",\n";
    tail += " \"tileheight\":" + tileHeight + ",\n";
    tail += " \"tilesets\":[\n        {\n";
    tail += "         \"columns\":" + Number(tiled::kSheetColumns) + ",\n";
    tail += "         \"firstgid\":" + Number(tiled::kFirstGid) + ",\n";
    tail += "         \"image\":" + JsonString(sheetName) + ",\n";
    tail += "         \"imageheight\":" + Number(tiled::kSheetRows * tiled::kTileHeight) + ",\n";
    tail += "         \"imagewidth\":" + Number(tiled::kSheetColumns * tiled::TileWidth(shape)) + ",\n";
    tail += "         \"margin\":0,\n";
    tail += "         \"name\":" + JsonString(tiled::kTilesetName) + ",\n";
    tail += "         \"spacing\":0,\n";
    tail += "         \"tilecount\":" + Number(tiled::kTileCount) + ",\n";
    tail += "         \"tileheight\":" + tileHeight + ",\n";
    tail += "         \"tilewidth\":" + tileWidth + "\n";
    tail += "        }],\n";
    tail += " \"tilewidth\":" + tileWidth + ",\n";
    tail += " \"type\":\"map\",\n";
    tail += " \"version\":\"1.8\",\n";
    tail += " \"width\":" + Number(columns) + "\n}";
    return tail;
}

}  // namespace

TiledRowWriter::TiledRowWriter(OutputSink& output, TiledFormat format, SampleMode mode, std::string sheetName)
    : output_(output), format_(format), mode_(mode), sheetName_(std::move(sheetName)) {}

void TiledRowWriter::Begin(std::int64_t width, std::int64_t rows) {
    width_ = width;
    rows_ = rows;
    const tiled::Shape shape = tiled::ShapeFor(mode_);
    columns_ = shape == tiled::Shape::Bricks ? width / 2 : width;
    const std::string head = format_ == TiledFormat::Tmx ? TmxHead(columns_, rows_, shape, sheetName_)
                                                         : TmjHead(rows_, shape);
    ok_ = output_.Write(head.data(), head.size());
}

std::uint8_t* TiledRowWriter::Row(std::int64_t y) {
    (void)y;
    // Asked for with the first row, once its text has been read: memory
    // follows the text, however wide the header says the picture is.
    if (row_.empty()) {
        try {
            row_.resize(static_cast<std::size_t>(width_), 0);
            text_.resize(kBlockBytes + kTilesPerStep * kMaxTileText + kCopiedPastText);
        } catch (const std::exception&) {
            ok_ = false;
            return nullptr;
        }
    }
    return row_.data();
}

void TiledRowWriter::Put(std::string_view text) {
    if (!ok_) return;
    if (used_ + text.size() > text_.size() && !Flush()) return;
    if (text.size() > text_.size()) {
        ok_ = output_.Write(text.data(), text.size());
        return;
    }
    std::memcpy(text_.data() + used_, text.data(), text.size());
    used_ += text.size();
}

bool TiledRowWriter::Flush() {
    if (ok_ && used_ > 0) ok_ = output_.Write(text_.data(), used_);
    used_ = 0;
    return ok_;
}

void TiledRowWriter::RowDone(std::int64_t y) {
    if (!ok_) return;
    const bool tmx = format_ == TiledFormat::Tmx;
    const bool bricks = tiled::ShapeFor(mode_) == tiled::Shape::Bricks;
    // Gids are separated by "," in TMX's CSV, whose rows but the last end
    // in "," and a line break, and by ", " in Tiled's JSON, one flat array.
    const std::string_view separator = tmx ? std::string_view(",") : std::string_view(", ");
    if (!tmx && y > 0) Put(separator);
    const std::uint8_t* row = row_.data();
    for (std::int64_t first = 0; first < columns_; first += kTilesPerStep) {
        // Room for a step's tiles, and the bytes past the last one that
        // copying whole table entries touches.
        if (used_ >= kBlockBytes && !Flush()) return;
        const std::int64_t end = std::min(columns_, first + kTilesPerStep);
        char* out = text_.data() + used_;
        for (std::int64_t k = first; k < end; ++k) {
            if (k > 0) {
                std::memcpy(out, separator.data(), separator.size());
                out += separator.size();
            }
            const std::uint8_t value = row[bricks ? tiled::FirstPixelOfBrick(k, y) : k];
            std::memcpy(out, kGidText.digits[value].data(), 4);
            out += kGidText.length[value];
        }
        used_ = static_cast<std::size_t>(out - text_.data());
    }
    if (y < rows_ - 1) {
        if (tmx) Put(",\n");
        return;
    }
    Put(tmx ? kTmxTail : std::string_view(TmjTail(columns_, rows_, tiled::ShapeFor(mode_), sheetName_)));
    Flush();
}

bool WriteTiledMap(OutputSink& output, const IndexedPicture& picture, TiledFormat format, SampleMode mode,
                   std::string_view sheetName) {
    TiledRowWriter writer(output, format, mode, std::string(sheetName));
    writer.Begin(picture.width, picture.rows);
    for (std::int64_t y = 0; y < picture.rows && writer.ok(); ++y) {
        std::uint8_t* row = writer.Row(y);
        if (row == nullptr) return false;
        std::copy(picture.Row(y), picture.Row(y) + picture.width, row);
        writer.RowDone(y);
    }
    return writer.ok();
}

}  // namespace bmp2grid
