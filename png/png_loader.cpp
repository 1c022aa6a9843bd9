#include "png_loader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "png_library.h"

namespace bmp2grid {
namespace {

constexpr char kTruncated[] = "PNG file is truncated";
constexpr char kReadFailed[] = "read failed";

// The bytes of a PNG as libpng asks for them, in sequence: from memory, from
// a regular file at offsets, or from a stream (its first bytes perhaps taken
// already), through a window so that libpng's many small reads cost few
// system calls.
class PngInput {
public:
    static constexpr std::size_t kWindowBytes = std::size_t{256} << 10;

    PngInput(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken)
        : file_(std::move(file)), atOffsets_(taken.empty() && file_->IsRegularFile()),
          size_(atOffsets_ ? static_cast<std::uint64_t>(file_->Size()) : 0),
          taken_(taken.begin(), taken.end()) {}
    explicit PngInput(ByteBuffer memory) : memory_(std::move(memory)), size_(memory_.size()) {}

    bool Prepare() { return memory_.data() != nullptr || window_.Reserve(kWindowBytes); }

    // Exactly `length` bytes, or false: the input ended (Failed() false) or
    // failed (Failed() true).
    bool Read(std::uint8_t* data, std::size_t length) {
        while (length > 0) {
            if (first_ == last_ && !Refill()) return false;
            const std::size_t n = std::min(length, last_ - first_);
            std::memcpy(data, Data() + first_, n);
            first_ += n;
            data += n;
            length -= n;
        }
        return true;
    }
    bool Failed() const { return failed_; }
    // Closes the file, once nothing more is to be read.
    void Release() { file_.reset(); }

private:
    const std::uint8_t* Data() const { return memory_.data() != nullptr ? memory_.data() : window_.data(); }

    bool Refill() {
        first_ = 0;
        last_ = 0;
        if (memory_.data() != nullptr || file_ == nullptr) {
            // Memory is one window, handed out once.
            if (memory_.data() == nullptr || next_ >= size_) return false;
            last_ = memory_.size();
            next_ = size_;
            return true;
        }
        if (!taken_.empty()) {  // a few bytes, handed out whole
            last_ = taken_.size();
            std::memcpy(window_.data(), taken_.data(), last_);
            taken_.clear();
            return true;
        }
        if (atOffsets_) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowBytes, size_ - next_));
            if (n == 0) return false;
            if (!file_->ReadAt(static_cast<std::int64_t>(next_), window_.data(), n)) {
                failed_ = true;
                return false;
            }
            next_ += n;
            last_ = n;
            return true;
        }
        const long long n = file_->Read(window_.data(), kWindowBytes);
        if (n < 0) failed_ = true;
        if (n <= 0) return false;
        last_ = static_cast<std::size_t>(n);
        return true;
    }

    std::shared_ptr<platform::InputFile> file_;
    ByteBuffer memory_;
    bool atOffsets_ = false;
    std::uint64_t size_ = 0;
    std::uint64_t next_ = 0;  // offset of the next window (file at offsets, memory)
    std::vector<std::uint8_t> taken_;  // a stream's first bytes, read already
    ByteBuffer window_;
    std::size_t first_ = 0;  // the window's bytes not yet handed out: [first_, last_)
    std::size_t last_ = 0;
    bool failed_ = false;
};

// libpng's read callback. An input that ends or fails is an error to
// libpng; PngInput remembers which.
extern "C" void ReadPngData(png_structp png, png_bytep data, std::size_t length) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    if (!input->Read(data, length)) png_error(png, input->Failed() ? kReadFailed : kTruncated);
}

// --- The steps libpng runs (see png::Guarded): no C++ objects inside. ------

void ReadInfo(png_structp png, void* info) { png_read_info(png, static_cast<png_infop>(info)); }

struct Transforms {
    png_infop info;
    int bitDepth;
    bool interlaced;
    int passes;  // set by the step
};

void SetTransforms(png_structp png, void* data) {
    auto* t = static_cast<Transforms*>(data);
    if (t->bitDepth < 8) png_set_packing(png);  // one byte per pixel, the index itself
    t->passes = t->interlaced ? png_set_interlace_handling(png) : 1;
    png_read_update_info(png, t->info);
}

struct Rows {
    png_infop info;
    std::uint8_t* pixels;  // `count` rows of `width` bytes
    std::int64_t width;
    std::int64_t count;
    int passes;
    bool last;  // the picture's last rows: read on to the end of the file
};

void ReadRows(png_structp png, void* data) {
    auto* r = static_cast<Rows*>(data);
    for (int pass = 0; pass < r->passes; ++pass)
        for (std::int64_t y = 0; y < r->count; ++y) png_read_row(png, r->pixels + y * r->width, nullptr);
    // With the info struct, libpng examines each chunk after the image data
    // as it does those before it: an unknown critical chunk, or one out of
    // place, is an error there too, where without it every chunk would be
    // skipped unexamined.
    if (r->last) png_read_end(png, r->info);
}

// ----------------------------------------------------------------------------

// A PNG being read: libpng's structs, the input, and (non-interlaced) the
// row handed out last.
class PngReader final {
public:
    explicit PngReader(PngInput input) : input_(std::move(input)) {}
    ~PngReader() {
        if (png_ != nullptr) png_destroy_read_struct(&png_, info_ != nullptr ? &info_ : nullptr, nullptr);
    }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    LoadResult Open(const LoadOptions& options);

    const std::uint8_t* Row(std::int64_t y) {
        if (failed_) return nullptr;
        Rows rows{info_, row_.data(), width_, 1, 1, y == height_ - 1};
        if (!Run(ReadRows, &rows)) return nullptr;
        if (rows.last) input_.Release();
        return row_.data();
    }
    LoadFailure Failure() const {
        LoadFailure failure = bmp2grid::Failure(failure_);
        failure.reason = reason_;
        return failure;
    }

private:
    // Runs a step; on an error, keeps why.
    bool Run(png::Step step, void* data) {
        if (png::Guarded(png_, step, data)) return true;
        failed_ = true;
        if (input_.Failed()) {
            failure_ = LoadError::ReadFailed;
        } else if (report_.outOfMemory) {
            failure_ = LoadError::NoMemory;
        } else {
            failure_ = LoadError::PngRefused;
            reason_ = report_.error;
        }
        return false;
    }

    PngInput input_;
    png::Report report_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    std::int64_t width_ = 0;
    std::int64_t height_ = 0;
    ByteBuffer row_;
    bool failed_ = false;
    LoadError failure_ = LoadError::None;
    std::string reason_;
};

LoadResult PngReader::Open(const LoadOptions& options) {
    if (!input_.Prepare()) return Refused(LoadError::NoMemory);
    png_ = png::NewReadStruct(report_);
    if (png_ == nullptr) return Refused(LoadError::NoMemory);
    info_ = png_create_info_struct(png_);
    if (info_ == nullptr) return Refused(LoadError::NoMemory);
    png_set_read_fn(png_, &input_, ReadPngData);
    if (!Run(ReadInfo, info_)) {
        // libpng names a faulty header in general ("Invalid IHDR data") and
        // warns first of what is wrong with it: both are told. A warning
        // from another chunk (a skipped one's CRC error, say) explains
        // nothing of the refusal and is left out.
        if (failure_ == LoadError::PngRefused && report_.warning[0] != '\0' &&
            report_.warningChunk == report_.errorChunk)
            reason_ += std::string(" (") + report_.warning + ")";
        return Refused(Failure());
    }

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    int interlace = 0;
    png_get_IHDR(png_, info_, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
    const bool indexed = colourType == PNG_COLOR_TYPE_PALETTE;
    if (!(indexed || (colourType == PNG_COLOR_TYPE_GRAY && bitDepth == 8))) {
        LoadResult refused = Refused(LoadError::PngWithoutIndices);
        refused.pngColourType = colourType;
        refused.pngBitDepth = bitDepth;
        return refused;
    }
    Transforms transforms{info_, bitDepth, interlace != PNG_INTERLACE_NONE, 1};
    if (!Run(SetTransforms, &transforms)) return Refused(Failure());

    width_ = width;
    height_ = height;
    // Every row is read into `width` bytes: the transforms must have made
    // one byte per pixel of every kind accepted, or nothing is read.
    if (png_get_rowbytes(png_, info_) != static_cast<std::size_t>(width_)) {
        LoadResult refused = Refused(LoadError::PngRefused);
        refused.reason = "PNG rows do not decode to one byte per pixel";
        return refused;
    }
    LoadResult result;
    Picture& image = result.picture;
    image.width = width_;
    image.rows = height_;
    image.storedBytes = height_ * ((width_ * bitDepth + 7) / 8);
    if (indexed) {
        png_colorp colours = nullptr;
        int count = 0;
        if (png_get_PLTE(png_, info_, &colours, &count) != 0) {
            image.colourCount = std::min(count, 256);
            for (int i = 0; i < image.colourCount; ++i)
                image.colours[static_cast<std::size_t>(i)] = {colours[i].blue, colours[i].green, colours[i].red, 0};
        }
    } else {
        // Grey: index i is the grey of value i.
        image.colourCount = 256;
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            image.colours[static_cast<std::size_t>(i)] = {v, v, v, 0};
        }
    }

    if (!transforms.interlaced && !options.decodePngWhole) {
        if (!row_.Reserve(static_cast<std::size_t>(width_))) return Refused(LoadError::NoMemory);
        return result;  // the caller makes this reader the picture's pixels
    }
    const std::int64_t pixelCount = width_ * height_;  // below 2^51
    if (pixelCount > options.maxDecodedPixels) return Refused(LoadError::TooLarge);
    ByteBuffer pixels;
    if (static_cast<std::uint64_t>(pixelCount) > SIZE_MAX ||
        !pixels.AllocateZeroed(static_cast<std::size_t>(pixelCount))) {
        return Refused(LoadError::NoMemory);
    }
    Rows rows{info_, pixels.data(), width_, height_, transforms.passes, true};
    if (!Run(ReadRows, &rows)) return Refused(Failure());
    const std::uint8_t* top = pixels.data();
    image.pixels = std::make_shared<HeldPixels>(std::move(pixels), top, width_);
    return result;
}

// A non-interlaced PNG's rows, decoded as they are read: they can be read
// once.
class DecodedRows final : public PixelStore {
public:
    explicit DecodedRows(std::shared_ptr<PngReader> png) : png_(std::move(png)) {}
    Kept Where() const override { return Kept::AsDecoded; }
    std::unique_ptr<RowReader> ReadRows(std::int64_t) const override {
        return std::unique_ptr<RowReader>(new (std::nothrow) Reader(*png_));
    }

private:
    class Reader final : public RowReader {
    public:
        explicit Reader(PngReader& png) : png_(png) {}
        bool Decodes() const override { return true; }
        const std::uint8_t* Row(std::int64_t y) override { return png_.Row(y); }
        LoadFailure Failure() const override { return png_.Failure(); }

    private:
        PngReader& png_;
    };
    std::shared_ptr<PngReader> png_;
};

LoadResult Load(PngInput input, const LoadOptions& options) {
    auto reader = std::make_shared<PngReader>(std::move(input));
    LoadResult result = reader->Open(options);
    if (result.ok() && result.picture.pixels == nullptr)
        result.picture.pixels = std::make_shared<DecodedRows>(std::move(reader));
    return result;
}

}  // namespace

bool IsPngSignature(std::span<const std::uint8_t> first) {
    return first.size() >= kPngSignatureSize && png_sig_cmp(first.data(), 0, kPngSignatureSize) == 0;
}

LoadResult LoadPng(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                   const LoadOptions& options) {
    return Load(PngInput(std::move(file), taken), options);
}

LoadResult DecodePng(ByteBuffer file, const LoadOptions& options) {
    return Load(PngInput(std::move(file)), options);
}

}  // namespace bmp2grid
