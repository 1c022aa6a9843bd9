// TMJ maps, read twice: once whole through RapidJSON, for the map's facts
// (Tiled writes a layer's data before its type and the map's shape) and
// where each layer's data begins; then the data of the layer read alone,
// from there, a block at a time as rows are asked for.
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tiled_map_reader.h"
#include "tiled_loader.h"

#ifdef BMP2GRID_TMJ_INPUT
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>
#endif

namespace bmp2grid {

bool IsTmjStart(std::span<const std::uint8_t> first) {
    std::size_t i = 0;
    const auto space = [&] {
        while (i < first.size() && (first[i] == ' ' || first[i] == '\t' || first[i] == '\r' || first[i] == '\n')) ++i;
    };
    space();
    if (i >= first.size() || first[i] != '{') return false;
    ++i;
    space();
    return i < first.size() && first[i] == '"';
}

#ifndef BMP2GRID_TMJ_INPUT

LoadResult LoadTmj(std::shared_ptr<platform::InputFile>, std::span<const std::uint8_t>, const LoadOptions&) {
    return Refused(LoadError::TmjNotBuilt);
}
LoadResult DecodeTmj(ByteBuffer, const LoadOptions&) { return Refused(LoadError::TmjNotBuilt); }

#else

namespace {

using namespace tiled;

// The map's bytes as RapidJSON reads them, a block at a time.
class JsonStream {
public:
    using Ch = char;
    explicit JsonStream(MapInput& input) : input_(input) {}
    Ch Peek() {
        if (next_ == end_ && !Fill()) return '\0';
        return *next_;
    }
    Ch Take() {
        if (next_ == end_ && !Fill()) return '\0';
        ++count_;
        return *next_++;
    }
    std::size_t Tell() const { return count_; }
    // Never written to: the parse is not in place.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

private:
    bool Fill() {
        const std::span<const std::uint8_t> block = input_.Next();
        next_ = reinterpret_cast<const char*>(block.data());
        end_ = next_ + block.size();
        return !block.empty();
    }
    MapInput& input_;
    const char* next_ = nullptr;
    const char* end_ = nullptr;
    std::size_t count_ = 0;
};

class TmjReader final : public MapReader {
public:
    TmjReader(MapInput input, const LoadOptions& options) : MapReader(std::move(input), options) {}
    LoadResult Open(std::shared_ptr<TmjReader> self);

    // RapidJSON's handler.
    bool Null() { return Scalar(Value{}); }
    bool Bool(bool b) { return Scalar(Value{Value::Bool, 0, b}); }
    bool Int(int i) { return Int64(i); }
    bool Uint(unsigned u) { return Uint64(u); }
    bool Int64(std::int64_t i) { return i < 0 ? Scalar(Value{Value::Other}) : Uint64(static_cast<std::uint64_t>(i)); }
    bool Uint64(std::uint64_t u) { return Scalar(Value{Value::Number, u}); }
    bool Double(double) { return Scalar(Value{Value::Other}); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return Scalar(Value{Value::Other}); }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        Value v{Value::String};
        v.text = std::string_view(text, length);
        return Scalar(v);
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        key_.assign(text, length);
        if (!stack_.empty() && stack_.back().kind == Kind::Layer && key_ == "data")
            stack_.back().layer.dataOffset = static_cast<std::int64_t>(stream_->Tell());
        return true;
    }
    bool StartObject();
    bool EndObject(rapidjson::SizeType);
    // Whether one more container fits the memory nesting may hold; refuses
    // the map as running out of memory when not.
    bool Nests();
    bool StartArray();
    bool EndArray(rapidjson::SizeType) {
        stack_.pop_back();
        return true;
    }

private:
    enum class Kind { Root, Tilesets, Tileset, Layers, Layer, Other };
    struct Layer {
        std::int64_t ordinal = -1;
        std::string type;
        std::string name;
        std::int64_t width = -1;
        std::int64_t height = -1;
        std::string encoding;
        std::string compression;
        bool chunks = false;
        std::int64_t dataOffset = -1;  // just past the "data" key
    };
    struct Context {
        Kind kind;
        Layer layer;  // for Kind::Layer
    };
    struct Value {
        enum Type { Null, Bool, Number, String, Other } type = Null;
        std::uint64_t number = 0;
        bool flag = false;
        std::string_view text{};
    };

    bool Step() override;
    bool Scalar(const Value& value);
    bool BadJson() {
        LoadFailure refused = bmp2grid::Failure(LoadError::TiledBadData);
        refused.names = {"JSON"};
        return rows_.Fail(std::move(refused));
    }
    // The data's next characters, in the second pass.
    bool Scan(std::string_view text);
    // The kind of a container opened as the value of the current key.
    Kind ChildKind() const;

    std::vector<Context> stack_;
    std::string key_;
    std::int64_t ordinals_ = 0;  // layer objects seen
    bool isMap_ = false;
    bool haveOrientation_ = false;
    std::vector<std::string> mapKeys_;  // the map's keys given, of those needed
    bool layerPicked_ = false;  // readLayer_ holds the first tile layer picked
    Layer readLayer_;
    std::unique_ptr<JsonStream> stream_;
    // The second pass: where the scan stands in the data's value.
    enum class Scanning { Colon, Value, Array, Number, String, Escape, Done } scanning_ = Scanning::Colon;
    std::uint64_t number_ = 0;
    bool wantString_ = false;  // base64 data: a string, not an array of numbers
};

TmjReader::Kind TmjReader::ChildKind() const {
    if (stack_.empty()) return Kind::Root;
    const Context& parent = stack_.back();
    switch (parent.kind) {
        case Kind::Root:
            if (key_ == "tilesets") return Kind::Tilesets;
            if (key_ == "layers") return Kind::Layers;
            return Kind::Other;
        case Kind::Tilesets:
            return Kind::Tileset;
        case Kind::Layers:
            return Kind::Layer;
        case Kind::Layer:
            if (key_ == "layers") return Kind::Layers;
            return Kind::Other;
        default:
            return Kind::Other;
    }
}

// What the containers open at a time may hold: a map nests a few levels,
// so a value of millions of arrays in arrays is refused as running out of
// memory instead of held, as expat's limit does for a TMX.
constexpr std::size_t kNestingBytes = std::size_t{16} << 20;

bool TmjReader::Nests() {
    if (stack_.size() < kNestingBytes / sizeof(Context)) return true;
    return Refuse(bmp2grid::Failure(LoadError::NoMemory));
}

bool TmjReader::StartObject() {
    if (!Nests()) return false;
    Context context{ChildKind(), {}};
    if (context.kind == Kind::Layer) context.layer.ordinal = ordinals_++;
    if (context.kind != Kind::Root && context.kind != Kind::Layer && context.kind != Kind::Tileset)
        context.kind = Kind::Other;
    if (!stack_.empty() && stack_.back().kind == Kind::Layer && key_ == "chunks") stack_.back().layer.chunks = true;
    stack_.push_back(std::move(context));
    return true;
}

bool TmjReader::StartArray() {
    if (!Nests()) return false;
    Kind kind = ChildKind();
    if (kind == Kind::Root || kind == Kind::Layer || kind == Kind::Tileset) kind = Kind::Other;
    if (!stack_.empty() && stack_.back().kind == Kind::Layer && key_ == "chunks") stack_.back().layer.chunks = true;
    stack_.push_back(Context{kind, {}});
    return true;
}

bool TmjReader::EndObject(rapidjson::SizeType) {
    Context ended = std::move(stack_.back());
    stack_.pop_back();
    if (ended.kind != Kind::Layer) return true;
    Layer& layer = ended.layer;
    if (layer.type != "tilelayer") return true;
    NoteTileLayer(layer.name);
    if (layer.chunks) facts_.infinite = true;
    if (!layerPicked_ && Picks(layer.name)) {
        layerPicked_ = true;
        readLayer_ = std::move(layer);
    }
    return true;
}

bool TmjReader::Scalar(const Value& value) {
    if (stack_.empty()) return true;
    Context& context = stack_.back();
    switch (context.kind) {
        case Kind::Layer: {
            Layer& layer = context.layer;
            const auto count = [&](std::int64_t& to) {
                to = value.type == Value::Number && value.number <= static_cast<std::uint64_t>(kMaxTiles)
                         ? static_cast<std::int64_t>(value.number)
                         : -2;
            };
            if (key_ == "type" && value.type == Value::String) layer.type = value.text;
            if (key_ == "name" && value.type == Value::String) layer.name = value.text;
            if (key_ == "encoding" && value.type == Value::String) layer.encoding = value.text;
            if (key_ == "compression" && value.type == Value::String) layer.compression = value.text;
            if (key_ == "width") count(layer.width);
            if (key_ == "height") count(layer.height);
            return true;
        }
        case Kind::Tileset:
            if (key_ == "firstgid") {
                if (value.type != Value::Number || value.number < 1 || value.number > 0xFFFFFFFFu) {
                    LoadFailure refused = bmp2grid::Failure(LoadError::TiledAttribute);
                    refused.names = {"tileset", "firstgid"};
                    return Refuse(std::move(refused));
                }
                facts_.firstGids.push_back(value.number);
            }
            return true;
        case Kind::Root: {
            MapShapeFacts& shape = facts_.shape;
            const auto text = [&](std::string& to) {
                if (value.type == Value::String) to = value.text;
            };
            const auto count = [&](std::int64_t& to, std::int64_t min) {
                if (value.type != Value::Number || value.number > static_cast<std::uint64_t>(kMaxTiles) ||
                    static_cast<std::int64_t>(value.number) < min) {
                    LoadFailure refused = bmp2grid::Failure(LoadError::TiledAttribute);
                    refused.names = {"map", key_};
                    return Refuse(std::move(refused));
                }
                to = static_cast<std::int64_t>(value.number);
                mapKeys_.push_back(key_);
                return true;
            };
            if (key_ == "type") isMap_ = isMap_ || (value.type == Value::String && value.text == "map");
            if (key_ == "orientation") {
                haveOrientation_ = true;
                text(shape.orientation);
                mapKeys_.push_back(key_);
            }
            if (key_ == "staggeraxis") text(shape.staggerAxis);
            if (key_ == "staggerindex") text(shape.staggerIndex);
            if (key_ == "infinite") facts_.infinite = facts_.infinite || (value.type == Value::Bool && value.flag);
            if (key_ == "width") return count(shape.width, 1);
            if (key_ == "height") return count(shape.height, 1);
            if (key_ == "tilewidth") return count(shape.tileWidth, 1);
            if (key_ == "tileheight") return count(shape.tileHeight, 1);
            if (key_ == "hexsidelength") return count(shape.hexSideLength, 0);
            return true;
        }
        default:
            return true;
    }
}

bool TmjReader::Scan(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        switch (scanning_) {
            case Scanning::Colon:  // white space, then ':'
            case Scanning::Value:  // white space, then '[' or '"'
                ++i;
                if (c == ' ' || c == '\t' || c == '\r' || c == '\n') break;
                if (scanning_ == Scanning::Colon) {
                    if (c != ':') return BadJson();
                    scanning_ = Scanning::Value;
                } else if (c == '[' && !wantString_) {
                    scanning_ = Scanning::Array;
                } else if (c == '"' && wantString_) {
                    scanning_ = Scanning::String;
                } else {
                    return BadJson();
                }
                break;
            case Scanning::Array:  // between values
                ++i;
                if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') break;
                if (c == ']') {
                    scanning_ = Scanning::Done;
                    return rows_.CheckComplete();
                }
                if (c < '0' || c > '9') return BadJson();
                number_ = static_cast<unsigned>(c - '0');
                scanning_ = Scanning::Number;
                break;
            case Scanning::Number:
                if (c >= '0' && c <= '9') {
                    number_ = number_ * 10 + static_cast<unsigned>(c - '0');
                    if (number_ > 0xFFFFFFFFu) return BadJson();
                    ++i;
                    break;
                }
                if (c == '.' || c == 'e' || c == 'E') return BadJson();
                if (!rows_.Add(static_cast<std::uint32_t>(number_))) return false;
                scanning_ = Scanning::Array;
                break;
            case Scanning::String: {
                // The data up to the closing quote or an escape; the only
                // escape base64 may hold is "\/".
                std::size_t end = i;
                while (end < n && text[end] != '"' && text[end] != '\\') ++end;
                if (!data_.Feed(text.substr(i, end - i))) return false;
                i = end;
                if (i == n) break;
                ++i;
                if (text[i - 1] == '\\') {
                    scanning_ = Scanning::Escape;
                    break;
                }
                scanning_ = Scanning::Done;
                return data_.End();
            }
            case Scanning::Escape:
                ++i;
                if (c != '/' || !data_.Feed("/")) return c == '/' ? false : BadJson();
                scanning_ = Scanning::String;
                break;
            case Scanning::Done:
                return true;
        }
    }
    return true;
}

bool TmjReader::Step() {
    if (ended_ || Failed()) return false;
    const std::span<const std::uint8_t> block = input_.Next();
    if (block.empty()) {
        if (input_.Failed()) return Refuse(bmp2grid::Failure(LoadError::ReadFailed));
        ended_ = true;
        rows_.CheckComplete();
        return false;
    }
    if (!Scan(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()))) return false;
    // The first pass read the rest of the document.
    if (scanning_ == Scanning::Done) ended_ = true;
    return !ended_;
}

LoadResult TmjReader::Open(std::shared_ptr<TmjReader> self) {
    if (!input_.Prepare()) return Refused(LoadError::NoMemory);
    if (options_.matchesColours) return Refused(LoadError::TiledWithPalette);
    if (options_.forColours) return Refused(LoadError::TiledAsPalette);
    bool noMemory = false;
    if (!input_.HoldWhole(noMemory)) return Refused(noMemory ? LoadError::NoMemory : LoadError::ReadFailed);
    // The first pass: the map's facts, and where each layer's data begins.
    stream_ = std::make_unique<JsonStream>(input_);
    rapidjson::Reader reader;
    if (!reader.Parse<rapidjson::kParseIterativeFlag>(*stream_, *this)) {
        if (Failed()) return Refused(Failure());
        if (input_.Failed()) return Refused(LoadError::ReadFailed);
        LoadFailure refused = bmp2grid::Failure(LoadError::TmjMalformed);
        refused.reason = rapidjson::GetParseError_En(reader.GetParseErrorCode());
        refused.column = static_cast<std::int64_t>(reader.GetErrorOffset());
        return Refused(std::move(refused));
    }
    stream_.reset();
    if (!isMap_ && !haveOrientation_) return Refused(LoadError::TiledNotMap);
    for (const char* needed : {"orientation", "width", "height", "tilewidth", "tileheight"}) {
        if (std::find(mapKeys_.begin(), mapKeys_.end(), needed) == mapKeys_.end()) {
            LoadFailure refused = bmp2grid::Failure(LoadError::TiledAttribute);
            refused.names = {"map", needed};
            return Refused(std::move(refused));
        }
    }
    if (!CheckShape() || !CheckLayers()) return Refused(Failure());
    if (readLayer_.width == -2 || readLayer_.width == -1) {
        LoadFailure refused = bmp2grid::Failure(LoadError::TiledAttribute);
        refused.names = {"layer", "width"};
        return Refused(std::move(refused));
    }
    if (readLayer_.height < 0) {
        LoadFailure refused = bmp2grid::Failure(LoadError::TiledAttribute);
        refused.names = {"layer", "height"};
        return Refused(std::move(refused));
    }
    if (readLayer_.chunks) return Refused(LoadError::TiledInfinite);
    if (!StartLayer(readLayer_.name, readLayer_.width, readLayer_.height)) return Refused(Failure());
    if (readLayer_.encoding == "base64" || !readLayer_.compression.empty()) {
        DataEncoding how = DataEncoding::Csv;
        LoadFailure refused;
        if (!EncodingOf(readLayer_.encoding, readLayer_.compression, how, refused)) return Refused(std::move(refused));
    } else if (!readLayer_.encoding.empty() && readLayer_.encoding != "csv") {
        LoadFailure refused = bmp2grid::Failure(LoadError::TiledEncoding);
        refused.reason = readLayer_.encoding;
        return Refused(std::move(refused));
    }
    // The second pass reads the layer's data as rows are asked for.
    DataEncoding how = DataEncoding::Csv;
    LoadFailure ignored;
    if (readLayer_.encoding == "base64" && EncodingOf(readLayer_.encoding, readLayer_.compression, how, ignored) &&
        !data_.Begin(how))
        return Refused(Failure());
    if (readLayer_.dataOffset < 0) {
        rows_.CheckComplete();
        return Refused(Failure());
    }
    input_.Seek(static_cast<std::uint64_t>(readLayer_.dataOffset));
    wantString_ = readLayer_.encoding == "base64";
    return MakePicture(std::make_shared<MapRows>(self));
}

LoadResult Load(MapInput input, const LoadOptions& options) {
    auto reader = std::make_shared<TmjReader>(std::move(input), options);
    return reader->Open(reader);
}

}  // namespace

LoadResult LoadTmj(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                   const LoadOptions& options) {
    return Load(MapInput(std::move(file), taken), options);
}

LoadResult DecodeTmj(ByteBuffer file, const LoadOptions& options) { return Load(MapInput(std::move(file)), options); }

#endif

}  // namespace bmp2grid
