// Writing a loaded picture as map text (map_text_format.h has the format
// and the sampling; docs/map-text.md describes them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "map_text_format.h"
#include "output_sink.h"
#include "palette.h"
#include "picture.h"
#include "row_check.h"

namespace bmp2grid {

// Writes the header line. Returns false if the sink failed.
bool WriteMapHeader(OutputSink& output, const Picture& image, SampleMode mode);

enum class MapWriteStatus {
    Ok,
    OutputFailed,  // the sink failed
    InputFailed,   // the picture's rows could not all be had: its file could not be
                   // read (it may have shrunk), or its rows failed as they were decoded
    NoMemory,      // memory for the output blocks or the row window ran out
    Refused,       // the RowCheck refused a row
};

// Map text is made in blocks of this many bytes (a smaller map in one block
// of its own size), each handed to the output whole. A row's text runs on
// from one block into the next: a block is passed on once fewer bytes are
// left in it than the next cell record may take (12 at most) or than the
// line end takes (2).
constexpr std::size_t kMapBlockBytes = std::size_t{1} << 20;

// How writing the rows went; for InputFailed, `input` says why the rows
// could not be had (ReadFailed when the picture's file failed).
struct MapWriteResult {
    MapWriteStatus status = MapWriteStatus::Ok;
    LoadFailure input;
};

// Writes every row line, in large blocks. `rowWindowBytes` (at least 1) lets
// tests take pictures with small rows through the wide-row path.
MapWriteResult WriteMapRows(OutputSink& output, const Picture& image, SampleMode mode,
                            std::int64_t rowWindowBytes = kRowWindowBytes);

// Writes every row line as WriteMapRows does, each pixel's index replaced by
// its value in `values`, at the same speed: the 256 cell records are made
// once for the map. With a `check`, every pixel of a row (those not sampled
// too) is given to it before the row's cells are written, and a refusal ends
// the writing with Refused: for an output put in place only once complete.
MapWriteResult WriteMapRows(OutputSink& output, const Picture& image, SampleMode mode, const IndexMap& values,
                            RowCheck* check = nullptr, std::int64_t rowWindowBytes = kRowWindowBytes);

}  // namespace bmp2grid
