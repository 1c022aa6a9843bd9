// Reading map text back into a picture: the inverse of the map writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "indexed_picture.h"
#include "map_text_format.h"
#include "map_text_summary.h"
#include "row_sink.h"

namespace bmp2grid {

struct MapReadResult : MapTextSummary {
    IndexedPicture picture;  // when `error` is None
};

// Reads map text handed over in pieces of any size ("cols,rows", then one
// line per row of records "v,a,b,c,d" each ended by a TAB; CR LF or LF line
// ends; a UTF-8 byte-order mark before the header is skipped) and places
// each cell's value in the picture column the converter samples for it. In
// the two-to-one mode the picture is twice as wide as the map, and the
// column to the right of each sampled one (wrapping) gets the same value,
// so every pixel is set and converting the picture again gives the same map
// text. Only the cells of the row being read are held, never the text.
class MapTextReader {
public:
    // A picture wider than `maxWidth` pixels is refused as TooLarge (the
    // widest PNG, for a PNG; a BMP's own limits apply to every picture).
    MapTextReader(SampleMode mode, MapRowSink& sink,
                  std::int64_t maxWidth = std::numeric_limits<std::int32_t>::max());

    // Reads the next piece of the text. Returns false once the text has been
    // refused: what follows can't change the outcome.
    bool Feed(const char* data, std::size_t size);
    // The text has ended: the outcome.
    MapTextSummary Finish();

private:
    struct Number {
        std::uint64_t magnitude = 0;
        bool negative = false;
        bool digits = false;
        bool bad = false;       // a character other than a digit or a leading '-'
        bool tooLarge = false;  // past 64 bits
        bool started = false;
        void Add(char c);
    };
    enum class State { Header, Rows, AfterRows, Refused };

    bool Fail(MapTextError error);
    void Byte(char c);
    void LineByte(char c);  // a byte of the line, not its end (a CR here is not one)
    void EndLine();
    void HeaderByte(char c);
    void EndHeader();
    void RowByte(char c);
    bool EndValue();
    bool EndRecord();
    void EndRow();
    bool PushCell(std::uint8_t value);
    const char* FastRecords(const char* p, const char* end);

    SampleMode mode_;
    MapRowSink& sink_;
    std::int64_t maxWidth_;
    State state_ = State::Header;
    MapTextSummary summary_;
    int bomHeld_ = 0;        // bytes of a byte-order mark seen at the start
    bool bomDecided_ = false;
    bool pendingCR_ = false;  // a CR whose next byte decides whether it ends the line
    bool lineHasBytes_ = false;
    std::int64_t y_ = 0;      // the row being read
    // The header line.
    int headerPart_ = 0;
    Number headerNumbers_[2];
    // The record being read.
    bool inRecord_ = false;
    int valueCount_ = 0;
    Number value_;
    std::int64_t firstValue_ = 0;
    bool extraValues_ = false;
    std::vector<std::uint8_t> cells_;  // first value of each cell of the row; grows with the text
    std::size_t cellCount_ = 0;
};

// Collects a map's rows into a picture in memory. `textBytes`, the length
// of the map text when it is known (-1 when not), bounds the room asked for
// at once, so that memory follows the text rather than the header.
class PictureCollector final : public MapRowSink {
public:
    PictureCollector(SampleMode mode, std::int64_t textBytes);
    void Begin(std::int64_t width, std::int64_t rows) override;
    std::uint8_t* Row(std::int64_t y) override;
    void RowDone(std::int64_t y) override;

    IndexedPicture picture;

private:
    SampleMode mode_;
    std::int64_t textBytes_;
};

// Parses the whole map text `text` into a picture held in memory.
MapReadResult ReadMapText(std::string_view text, SampleMode mode);

}  // namespace bmp2grid
