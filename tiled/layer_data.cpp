#include "layer_data.h"

#include <zlib.h>

#include <cstring>
#include <new>

namespace bmp2grid::tiled {

bool EncodingOf(std::string_view encoding, std::string_view compression, DataEncoding& result,
                LoadFailure& failure) {
    if (encoding == "csv" && compression.empty()) {
        result = DataEncoding::Csv;
        return true;
    }
    if (encoding != "base64") {
        failure = Failure(LoadError::TiledEncoding);
        failure.reason = encoding;
        if (encoding == "csv") {  // CSV is never compressed
            failure.error = LoadError::TiledCompression;
            failure.reason = compression;
        }
        return false;
    }
    if (compression.empty()) {
        result = DataEncoding::Base64;
    } else if (compression == "zlib") {
        result = DataEncoding::Zlib;
    } else if (compression == "gzip") {
        result = DataEncoding::Gzip;
    } else {
        failure = Failure(LoadError::TiledCompression);
        failure.reason = compression;
        return false;
    }
    return true;
}

struct LayerData::Inflater {
    z_stream stream{};
    bool open = false;
    unsigned char out[16384];
    ~Inflater() {
        if (open) inflateEnd(&stream);
    }
};

LayerData::LayerData(TileRows& rows) : rows_(rows) {}
LayerData::~LayerData() = default;

bool LayerData::Begin(DataEncoding encoding) {
    encoding_ = encoding;
    if (encoding != DataEncoding::Zlib && encoding != DataEncoding::Gzip) return true;
    inflater_.reset(new (std::nothrow) Inflater);
    if (inflater_ == nullptr) return rows_.Fail(Failure(LoadError::NoMemory));
    // 15: the largest window; + 16: a gzip wrapper instead of zlib's.
    const int status = inflateInit2(&inflater_->stream, encoding == DataEncoding::Gzip ? 15 + 16 : 15);
    if (status != Z_OK) return rows_.Fail(Failure(LoadError::NoMemory));
    inflater_->open = true;
    return true;
}

bool LayerData::Bad(const char* what, const char* words) {
    LoadFailure failure = Failure(LoadError::TiledBadData);
    failure.names.emplace_back(what);
    if (words != nullptr) failure.names.emplace_back(words);
    return rows_.Fail(std::move(failure));
}

namespace {

// A base64 digit's value, -1 for a character that is none.
constexpr int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

constexpr bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

bool LayerData::Feed(std::string_view text) {
    if (encoding_ == DataEncoding::Csv) {
        for (const char c : text) {
            if (c >= '0' && c <= '9') {
                if (afterNumber_) return Bad("CSV");
                number_ = number_ * 10 + static_cast<unsigned>(c - '0');
                if (number_ > 0xFFFFFFFFu) return Bad("CSV");
                inNumber_ = true;
            } else if (c == ',') {
                if (!inNumber_) return Bad("CSV");
                if (!Gid(static_cast<std::uint32_t>(number_))) return false;
                number_ = 0;
                inNumber_ = false;
                afterNumber_ = false;
            } else if (IsSpace(c)) {
                afterNumber_ = inNumber_;
            } else {
                return Bad("CSV");
            }
        }
        return true;
    }
    std::uint8_t bytes[3 * 1024];
    std::size_t count = 0;
    for (const char c : text) {
        if (IsSpace(c)) continue;
        if (c == '=') {
            if (bitCount_ < 2 || ++padding_ > 2) return Bad("base64");
            bitCount_ -= 2;
            if (bitCount_ == 0) bits_ = 0;
            continue;
        }
        const int v = Base64Value(static_cast<unsigned char>(c));
        if (v < 0 || padding_ > 0 || streamEnded_) return Bad("base64");
        bits_ = (bits_ << 6) | static_cast<std::uint32_t>(v);
        bitCount_ += 6;
        if (bitCount_ >= 8) {
            bitCount_ -= 8;
            bytes[count++] = static_cast<std::uint8_t>(bits_ >> bitCount_);
            bits_ &= (1u << bitCount_) - 1;
            if (count == sizeof bytes) {
                if (!Bytes(bytes, count)) return false;
                count = 0;
            }
        }
    }
    return Bytes(bytes, count);
}

bool LayerData::Bytes(const std::uint8_t* data, std::size_t size) {
    if (inflater_ == nullptr) {
        for (std::size_t i = 0; i < size; ++i) {
            gid_ |= static_cast<std::uint32_t>(data[i]) << (8 * gidBytes_);
            if (++gidBytes_ == 4) {
                if (!Gid(gid_)) return false;
                gid_ = 0;
                gidBytes_ = 0;
            }
        }
        return true;
    }
    z_stream& z = inflater_->stream;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    const char* what = encoding_ == DataEncoding::Gzip ? "gzip" : "zlib";
    while (z.avail_in > 0) {
        if (streamEnded_) return Bad(what, "data follows the compressed stream's end");
        z.next_out = inflater_->out;
        z.avail_out = sizeof inflater_->out;
        const int status = inflate(&z, Z_NO_FLUSH);
        if (status == Z_MEM_ERROR) return rows_.Fail(Failure(LoadError::NoMemory));
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            return Bad(what, z.msg != nullptr ? z.msg : zError(status));
        if (status == Z_STREAM_END) streamEnded_ = true;
        const std::size_t made = sizeof inflater_->out - z.avail_out;
        for (std::size_t i = 0; i < made; ++i) {
            gid_ |= static_cast<std::uint32_t>(inflater_->out[i]) << (8 * gidBytes_);
            if (++gidBytes_ == 4) {
                if (!Gid(gid_)) return false;
                gid_ = 0;
                gidBytes_ = 0;
            }
        }
        if (status == Z_BUF_ERROR && made == 0) break;
    }
    return true;
}

bool LayerData::End() {
    switch (encoding_) {
        case DataEncoding::Csv:
            if (inNumber_ && !Gid(static_cast<std::uint32_t>(number_))) return false;
            inNumber_ = false;
            break;
        case DataEncoding::Base64:
        case DataEncoding::Zlib:
        case DataEncoding::Gzip:
            if (bitCount_ >= 6 || bits_ != 0) return Bad("base64");
            if (inflater_ != nullptr && !streamEnded_)
                return Bad(encoding_ == DataEncoding::Gzip ? "gzip" : "zlib", "the compressed stream is truncated");
            if (gidBytes_ != 0) return Bad("base64", "not a whole number of 32-bit tiles");
            break;
    }
    return rows_.CheckComplete();
}

}  // namespace bmp2grid::tiled
