#include "png_writer.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "png_library.h"

namespace bmp2grid {

struct PngRowWriter::State {
    OutputSink& output;
    ColourTable palette;
    png::Report report;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t> row;
    std::int64_t width = 0;
    std::int64_t rows = 0;

    State(OutputSink& sink, const ColourTable& colours) : output(sink), palette(colours) {}
    ~State() {
        if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
};

namespace {

constexpr char kWriteFailed[] = "write failed";

extern "C" void WritePngData(png_structp png, png_bytep data, std::size_t length) {
    auto* state = static_cast<PngRowWriter::State*>(png_get_io_ptr(png));
    if (!state->output.Write(reinterpret_cast<const char*>(data), length)) png_error(png, kWriteFailed);
}

extern "C" void FlushPngData(png_structp) {}

// --- The steps libpng runs (see png::Guarded): no C++ objects inside. ------

struct Header {
    png_infop info;
    png_uint_32 width;
    png_uint_32 rows;
    const png_color* colours;  // 256
};

void WriteHeader(png_structp png, void* data) {
    const auto* h = static_cast<const Header*>(data);
    png_set_IHDR(png, h->info, h->width, h->rows, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, h->info, h->colours, 256);
    png_write_info(png, h->info);
}

struct RowStep {
    png_infop info;
    const std::uint8_t* row;
    bool last;  // end the file after it
};

void WriteRow(png_structp png, void* data) {
    const auto* r = static_cast<const RowStep*>(data);
    png_write_row(png, r->row);
    if (r->last) png_write_end(png, r->info);
}

}  // namespace

std::int64_t PngMaxWidth() { return png::kMaxWidth; }

PngRowWriter::PngRowWriter(OutputSink& output, const ColourTable& palette)
    : state_(std::make_unique<State>(output, palette)) {}

PngRowWriter::~PngRowWriter() = default;

void PngRowWriter::Begin(std::int64_t width, std::int64_t rows) {
    State& s = *state_;
    s.width = width;
    s.rows = rows;
    s.png = png::NewWriteStruct(s.report);
    if (s.png != nullptr) s.info = png_create_info_struct(s.png);
    if (s.info == nullptr) {
        ok_ = false;
        return;
    }
    png_set_write_fn(s.png, &s, WritePngData, FlushPngData);
    png_color colours[256];
    for (std::size_t i = 0; i < 256; ++i)  // the palette is blue, green, red, reserved
        colours[i] = {s.palette[i][2], s.palette[i][1], s.palette[i][0]};
    Header header{s.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(rows), colours};
    ok_ = png::Guarded(s.png, WriteHeader, &header);
}

std::uint8_t* PngRowWriter::Row(std::int64_t y) {
    (void)y;
    // Asked for with the first row, once its text has been read: memory
    // follows the text, however wide the header says the picture is.
    State& s = *state_;
    if (s.row.empty()) {
        try {
            s.row.resize(static_cast<std::size_t>(s.width), 0);
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    return s.row.data();
}

void PngRowWriter::RowDone(std::int64_t y) {
    if (!ok_) return;
    State& s = *state_;
    RowStep step{s.info, s.row.data(), y == s.rows - 1};
    ok_ = png::Guarded(s.png, WriteRow, &step);
}

bool WritePng(OutputSink& output, const IndexedPicture& picture, const ColourTable& palette) {
    PngRowWriter writer(output, palette);
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
