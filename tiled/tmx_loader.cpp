// TMX maps through expat, fed a block at a time: rows are handed out as
// the layer's data arrives, and the parser pauses once a block has been
// parsed.
#include <expat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "map_text_format.h"
#include "tiled_map_reader.h"
#include "tiled_loader.h"

namespace bmp2grid {
namespace {

using namespace tiled;

// What expat may hold at a time on a thread, for all its parsers: a map's
// tokens are small (layer data comes in pieces), so a tag of huge
// attributes, say, is refused as running out of memory instead of held.
constexpr std::size_t kExpatMemoryBytes = std::size_t{16} << 20;
thread_local std::size_t expatBytes = 0;

// expat's allocations, each with its size before it, counted.
struct alignas(std::max_align_t) BlockHeader {
    std::size_t size;
};

void* ExpatMalloc(std::size_t size) {
    if (size > kExpatMemoryBytes - expatBytes) return nullptr;
    auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (header == nullptr) return nullptr;
    header->size = size;
    expatBytes += size;
    return header + 1;
}

void ExpatFree(void* block) {
    if (block == nullptr) return;
    BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
    expatBytes -= header->size;
    std::free(header);
}

void* ExpatRealloc(void* block, std::size_t size) {
    if (block == nullptr) return ExpatMalloc(size);
    BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
    const std::size_t old = header->size;
    if (size > old && size - old > kExpatMemoryBytes - expatBytes) return nullptr;
    auto* grown = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + size));
    if (grown == nullptr) return nullptr;
    grown->size = size;
    expatBytes = expatBytes - old + size;
    return grown + 1;
}

const XML_Memory_Handling_Suite kExpatMemory = {ExpatMalloc, ExpatRealloc, ExpatFree};

// The value of attribute `name` in expat's list; nullptr when absent.
const char* Attribute(const XML_Char** attributes, const char* name) {
    for (; attributes[0] != nullptr; attributes += 2)
        if (std::strcmp(attributes[0], name) == 0) return attributes[1];
    return nullptr;
}

class TmxReader final : public MapReader {
public:
    TmxReader(MapInput input, const LoadOptions& options) : MapReader(std::move(input), options) {}
    ~TmxReader() override {
        if (parser_ != nullptr) XML_ParserFree(parser_);
    }

    LoadResult Open(std::shared_ptr<TmxReader> self);

private:
    enum class Element { Map, Tileset, Group, Layer, ReadLayer, Data, ReadData, Other };

    bool Step() override;
    void Stop(LoadFailure failure) {
        Refuse(std::move(failure));
        XML_StopParser(parser_, XML_FALSE);
    }
    bool Count(const XML_Char** attributes, const char* element, const char* name, std::int64_t min,
               std::int64_t max, std::int64_t& value, bool required = true);

    void Start(const XML_Char* name, const XML_Char** attributes);
    void End();
    void Text(std::string_view text) {
        if (!stack_.empty() && stack_.back() == Element::ReadData && encoded_ && !Failed() && !data_.Feed(text))
            XML_StopParser(parser_, XML_FALSE);
    }

    static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** attributes) {
        static_cast<TmxReader*>(self)->Start(name, attributes);
    }
    static void XMLCALL OnEnd(void* self, const XML_Char*) { static_cast<TmxReader*>(self)->End(); }
    static void XMLCALL OnText(void* self, const XML_Char* text, int length) {
        static_cast<TmxReader*>(self)->Text(std::string_view(text, static_cast<std::size_t>(length)));
    }
    static void XMLCALL OnEntity(void* self, const XML_Char* name, int, const XML_Char*, int, const XML_Char*,
                                 const XML_Char*, const XML_Char*, const XML_Char*) {
        static_cast<TmxReader*>(self)->Entity(name);
    }
    static void XMLCALL OnSkippedEntity(void* self, const XML_Char* name, int) {
        static_cast<TmxReader*>(self)->Entity(name);
    }
    void Entity(const XML_Char* name) {
        LoadFailure refused = bmp2grid::Failure(LoadError::TmxEntity);
        refused.reason = name;
        Stop(std::move(refused));
    }

    XML_Parser parser_ = nullptr;
    std::vector<Element> stack_;
    bool suspended_ = false;
    bool opening_ = true;  // Open() runs: pause once the layer's data begins
    bool encoded_ = false;  // the data read is text, not <tile> elements
    bool dataSeen_ = false;
    std::string layerName_;
    std::int64_t layerWidth_ = 0;
    std::int64_t layerHeight_ = 0;
};

bool TmxReader::Count(const XML_Char** attributes, const char* element, const char* name, std::int64_t min,
                      std::int64_t max, std::int64_t& value, bool required) {
    const char* text = Attribute(attributes, name);
    if (text == nullptr && !required) return true;
    const std::optional<std::int64_t> count = text == nullptr ? std::nullopt : ParseCount(text, max);
    if (count.has_value() && *count >= min) {
        value = *count;
        return true;
    }
    LoadFailure refused = bmp2grid::Failure(LoadError::TiledAttribute);
    refused.names = {element, name};
    Stop(std::move(refused));
    return false;
}

void TmxReader::Start(const XML_Char* name, const XML_Char** attributes) {
    if (Failed()) return;
    const Element parent = stack_.empty() ? Element::Other : stack_.back();
    Element element = Element::Other;
    if (stack_.empty()) {
        if (std::strcmp(name, "map") != 0) {
            LoadFailure refused = bmp2grid::Failure(LoadError::TiledNotMap);
            refused.reason = name;
            return Stop(std::move(refused));
        }
        element = Element::Map;
        MapShapeFacts& shape = facts_.shape;
        const char* orientation = Attribute(attributes, "orientation");
        if (orientation == nullptr) {
            LoadFailure refused = bmp2grid::Failure(LoadError::TiledAttribute);
            refused.names = {"map", "orientation"};
            return Stop(std::move(refused));
        }
        shape.orientation = orientation;
        const char* axis = Attribute(attributes, "staggeraxis");
        const char* index = Attribute(attributes, "staggerindex");
        const char* infinite = Attribute(attributes, "infinite");
        shape.staggerAxis = axis != nullptr ? axis : "";
        shape.staggerIndex = index != nullptr ? index : "";
        facts_.infinite = infinite != nullptr && std::strcmp(infinite, "0") != 0;
        if (!Count(attributes, "map", "width", 1, kMaxTiles, shape.width) ||
            !Count(attributes, "map", "height", 1, kMaxTiles, shape.height) ||
            !Count(attributes, "map", "tilewidth", 1, kMaxTiles, shape.tileWidth) ||
            !Count(attributes, "map", "tileheight", 1, kMaxTiles, shape.tileHeight) ||
            !Count(attributes, "map", "hexsidelength", 0, kMaxTiles, shape.hexSideLength, false))
            return;
        if (!CheckShape()) return Stop(failure_);
    } else if (parent == Element::Map && std::strcmp(name, "tileset") == 0) {
        element = Element::Tileset;
        if (layerStarted_) return Stop(bmp2grid::Failure(LoadError::TiledLateTileset));
        std::int64_t firstGid = 0;
        if (!Count(attributes, "tileset", "firstgid", 1, 0xFFFFFFFF, firstGid)) return;
        facts_.firstGids.push_back(static_cast<std::uint64_t>(firstGid));
    } else if ((parent == Element::Map || parent == Element::Group) && std::strcmp(name, "group") == 0) {
        element = Element::Group;
    } else if ((parent == Element::Map || parent == Element::Group) && std::strcmp(name, "layer") == 0) {
        const char* layerName = Attribute(attributes, "name");
        std::string named = layerName != nullptr ? layerName : "";
        element = Picks(named) ? Element::ReadLayer : Element::Layer;
        NoteTileLayer(named);
        if (element == Element::ReadLayer) {
            if (!Count(attributes, "layer", "width", 1, kMaxTiles, layerWidth_) ||
                !Count(attributes, "layer", "height", 1, kMaxTiles, layerHeight_))
                return;
            layerName_ = std::move(named);
            dataSeen_ = false;
            if (!StartLayer(layerName_, layerWidth_, layerHeight_)) return Stop(failure_);
        }
    } else if ((parent == Element::ReadLayer || parent == Element::Layer) && std::strcmp(name, "data") == 0) {
        element = parent == Element::ReadLayer && !dataSeen_ ? Element::ReadData : Element::Data;
        if (element == Element::ReadData) {
            dataSeen_ = true;
            const char* encoding = Attribute(attributes, "encoding");
            const char* compression = Attribute(attributes, "compression");
            encoded_ = encoding != nullptr;
            if (encoded_) {
                DataEncoding how = DataEncoding::Csv;
                LoadFailure refused;
                if (!EncodingOf(encoding, compression != nullptr ? compression : "", how, refused))
                    return Stop(std::move(refused));
                if (!data_.Begin(how)) return (void)XML_StopParser(parser_, XML_FALSE);
            } else if (compression != nullptr) {
                LoadFailure refused = bmp2grid::Failure(LoadError::TiledCompression);
                refused.reason = compression;
                return Stop(std::move(refused));
            }
            if (opening_) {
                suspended_ = true;
                XML_StopParser(parser_, XML_TRUE);
            }
        }
    } else if (parent == Element::ReadData && std::strcmp(name, "chunk") == 0) {
        return Stop(bmp2grid::Failure(LoadError::TiledInfinite));
    } else if (parent == Element::ReadData && !encoded_ && std::strcmp(name, "tile") == 0) {
        const char* gid = Attribute(attributes, "gid");
        std::int64_t value = 0;
        if (gid != nullptr && !Count(attributes, "tile", "gid", 0, 0xFFFFFFFF, value)) return;
        if (!rows_.Add(static_cast<std::uint32_t>(value))) return (void)XML_StopParser(parser_, XML_FALSE);
    }
    stack_.push_back(element);
}

void TmxReader::End() {
    if (Failed() || stack_.empty()) return;
    const Element element = stack_.back();
    stack_.pop_back();
    if (element == Element::ReadData) {
        const bool ok = encoded_ ? data_.End() : rows_.CheckComplete();
        if (!ok) XML_StopParser(parser_, XML_FALSE);
    } else if (element == Element::ReadLayer && !dataSeen_) {
        if (!rows_.CheckComplete()) XML_StopParser(parser_, XML_FALSE);
    }
}

bool TmxReader::Step() {
    if (ended_ || Failed()) return false;
    XML_Status status;
    if (suspended_) {
        suspended_ = false;
        status = XML_ResumeParser(parser_);
    } else {
        const std::span<const std::uint8_t> block = input_.Next();
        if (block.empty() && input_.Failed()) return Refuse(bmp2grid::Failure(LoadError::ReadFailed));
        status = XML_Parse(parser_, reinterpret_cast<const char*>(block.data()), static_cast<int>(block.size()),
                           block.empty() ? XML_TRUE : XML_FALSE);
        if (block.empty() && status == XML_STATUS_OK) ended_ = true;
    }
    if (status == XML_STATUS_ERROR) {
        if (Failed()) return false;
        const XML_Error code = XML_GetErrorCode(parser_);
        if (code == XML_ERROR_NO_MEMORY) return Refuse(bmp2grid::Failure(LoadError::NoMemory));
        LoadFailure refused = bmp2grid::Failure(LoadError::TmxMalformed);
        refused.reason = XML_ErrorString(code);
        refused.row = static_cast<std::int64_t>(XML_GetCurrentLineNumber(parser_));
        refused.column = static_cast<std::int64_t>(XML_GetCurrentColumnNumber(parser_));
        return Refuse(std::move(refused));
    }
    if (status == XML_STATUS_SUSPENDED) {
        XML_ParsingStatus parsing;
        XML_GetParsingStatus(parser_, &parsing);
        suspended_ = parsing.parsing == XML_SUSPENDED;
    }
    return !ended_;
}

LoadResult TmxReader::Open(std::shared_ptr<TmxReader> self) {
    if (!input_.Prepare()) return Refused(LoadError::NoMemory);
    if (options_.matchesColours) return Refused(LoadError::TiledWithPalette);
    if (options_.forColours) return Refused(LoadError::TiledAsPalette);
    parser_ = XML_ParserCreate_MM(nullptr, &kExpatMemory, nullptr);
    if (parser_ == nullptr) return Refused(LoadError::NoMemory);
    // No DTD and no external entity is ever loaded (there is no handler for
    // one), and any entity declared or left undeclared stops the parse, so
    // that only the predefined entities expand.
    XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser_, OnText);
    XML_SetEntityDeclHandler(parser_, OnEntity);
    XML_SetSkippedEntityHandler(parser_, OnSkippedEntity);
    while (!layerStarted_ || !dataSeen_) {
        if (!Step()) {
            if (Failed()) return Refused(Failure());
            // The document ended before the data of a layer to read.
            if (!CheckLayers()) return Refused(Failure());
            if (!layerStarted_ || !rows_.CheckComplete()) return Refused(Failure());
            break;
        }
    }
    opening_ = false;
    LoadResult result = MakePicture(std::make_shared<MapRows>(self));
    return result;
}

LoadResult Load(MapInput input, const LoadOptions& options) {
    auto reader = std::make_shared<TmxReader>(std::move(input), options);
    return reader->Open(reader);
}

}  // namespace

bool IsTmxStart(std::span<const std::uint8_t> first) {
    std::string_view text(reinterpret_cast<const char*>(first.data()), first.size());
    if (text.starts_with(map_text::kByteOrderMark)) text.remove_prefix(map_text::kByteOrderMark.size());
    while (!text.empty() && (text[0] == ' ' || text[0] == '\t' || text[0] == '\r' || text[0] == '\n'))
        text.remove_prefix(1);
    return text.starts_with("<?xml") || text.starts_with("<map");
}

bool IsTmxMapRoot(std::span<const std::uint8_t> first) {
    std::string_view text(reinterpret_cast<const char*>(first.data()), first.size());
    for (;;) {
        const std::size_t open = text.find('<');
        if (open == std::string_view::npos) return false;
        text.remove_prefix(open);
        if (text.starts_with("<!--")) {
            const std::size_t end = text.find("-->");
            if (end == std::string_view::npos) return false;
            text.remove_prefix(end + 3);
        } else if (text.starts_with("<?") || text.starts_with("<!")) {
            const std::size_t end = text.find('>');
            if (end == std::string_view::npos) return false;
            text.remove_prefix(end + 1);
        } else {
            text.remove_prefix(1);
            if (!text.starts_with("map")) return false;
            text.remove_prefix(3);
            return !text.empty() && (text[0] == '>' || text[0] == '/' || text[0] == ' ' || text[0] == '\t' ||
                                     text[0] == '\r' || text[0] == '\n');
        }
    }
}

LoadResult LoadTmx(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                   const LoadOptions& options) {
    return Load(MapInput(std::move(file), taken), options);
}

LoadResult DecodeTmx(ByteBuffer file, const LoadOptions& options) { return Load(MapInput(std::move(file)), options); }

}  // namespace bmp2grid
