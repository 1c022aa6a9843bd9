// The words of every message both programs and the page give: the library
// returns enum values and their details, and this module alone turns them
// into text, as strerror does for errno. Each function gives a whole line,
// ending in "\n", or a reason to put in one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "map_text_summary.h"
#include "palette.h"
#include "picture.h"

namespace bmp2grid {

// --- Usage, help and version ------------------------------------------------

// "Usage: <program> [-1] <infile> <outfile>\n"; `programName` is argv[0]
// (null: "bmp2grid").
std::string UsageLine(const char* programName);
// bmp2grid's usage line, its batch and watch forms, then one line for each
// option.
std::string HelpText(const char* programName);
// "Usage: <program> [-1] [--palette PALETTE] [--format png|bmp|tmx|tmj] <maptext> <outfile>\n"
std::string GridUsageLine(const char* programName);
// grid2bmp's usage line, its batch and watch forms, then one line for each
// option.
std::string GridHelpText(const char* programName);
// "<program> <version>\n", the version being the project's.
std::string VersionLine(const char* program);

// --- Files ------------------------------------------------------------------

// "Can't open <path>\n": an input that can't be opened or read, or an
// output that can't be made.
std::string CantOpenMessage(const std::string& path);
// "Can't write <path>\n": an output that failed while it was written or
// put in place.
std::string CantWriteMessage(const std::string& path);
// "Can't write <path>: a Tiled map needs its tile sheet beside it in a
// folder; name an output file\n": a Tiled map asked for on standard output.
std::string TiledMapNeedsAFolderMessage(const std::string& path);
// "Can't write <sheet>: it is the map text being read; name the map
// otherwise\n": a Tiled map's tile sheet would replace its own input.
std::string SheetIsTheInputMessage(const std::string& sheetPath);
// "Can't convert <path>: not enough memory\n"
std::string NoMemoryMessage(const std::string& path);

// --- Pictures ---------------------------------------------------------------

// The short lower-case reason a refused picture's "Can't convert" message
// gives ("pixel data is truncated", "unsupported compression 3", ...); empty
// for the refusals whose messages say it all (CantOpen, ReadFailed,
// NotEightBit) and for None.
std::string LoadErrorReason(const LoadFailure& failure);

// The one-line message for a picture that could not be loaded from `path`.
std::string LoadFailureMessage(const LoadFailure& failure, const std::string& path);

// The message for a picture whose rows could not all be had while its map
// was being written: "Can't convert <path>: pixel data could not be read"
// when its input failed, or the reason its decoder gives.
std::string RowsFailureMessage(const LoadFailure& failure, const std::string& path);

// "Size: WxH (should be W*H bytes, is N bytes)\n": the width, the row count,
// their product and the bytes the input stores the pixels in, all exact
// 64-bit figures.
std::string SizeReport(const Picture& picture);

// --- Palettes ---------------------------------------------------------------

// The one-line message for a palette file that could not be read from
// `path`: a refused picture's message, or "Can't convert <path>: line N:
// <reason>\n" for a GIMP or JASC palette.
std::string PaletteFailureMessage(const PaletteResult& result, const std::string& path);

// The one-line message for a picture `inputPath` whose pixels could not be
// matched with the palette `palettePath`.
std::string PaletteMatchFailureMessage(const PaletteMatch& match, const std::string& inputPath,
                                       const std::string& palettePath);

// --- Map text ---------------------------------------------------------------

// The short lower-case reason for refused map text ("wrong cell count", ...);
// empty for None.
std::string_view MapTextErrorReason(MapTextError error);

// "Can't convert <path>: line N: <reason>\n" for map text that was refused.
std::string MapTextFailureMessage(const MapTextSummary& result, const std::string& path);
std::string MapTextFailureMessage(MapTextError error, std::int64_t line, const std::string& path);

// "Size: WxH\n": the picture's size, for map text that was read.
std::string MapSizeReport(const MapTextSummary& result);

// "Note: N cells carried values other than 0 after the first; ...\n" when
// cells of the map text that was read had such values; empty when none had.
std::string ExtraValuesNote(const MapTextSummary& result);

// "Can't convert <path>: its map text could take up to N MB, more than
// this page holds (the programs convert it)\n": the web page's refusal of a
// picture whose map text it could not keep in the browser's memory.
std::string TooLargeForPageMessage(const std::string& path, std::int64_t mapTextBytes);

// --- Many files: the batch and watch forms ---------------------------------

// "Can't convert <a> and <b>: both would be written to <output>\n": two
// inputs of a batch that would write one output; nothing is converted.
std::string SameOutputMessage(const std::string& input, const std::string& otherInput, const std::string& output);
// "Can't write into <dir>: it is not a folder\n": --out-dir names a file.
std::string OutDirNotAFolderMessage(const std::string& dir);
// "Nothing to convert in <folders>\n": the folders given hold no file the
// program takes, and nothing else was named.
std::string NothingToConvertMessage(const std::string& folders);
// "<input>: <line>": a note on one file's conversion in a batch or a watch.
std::string FileNoteLine(const std::string& input, std::string_view note);
// "Converted C of N files, refused R\n" ("1 file" for N = 1): a batch's
// last line.
std::string BatchSummaryLine(std::int64_t converted, std::int64_t refused);
// "D/N files, R files/s, M:SS left" (no line end; "H:MM:SS" past an hour;
// "?:??" until a file is done): a batch's progress, redrawn in place.
std::string BatchProgressText(std::int64_t done, std::int64_t total, double seconds);
// "Can't watch <folder>\n": a folder whose saves can't be followed.
std::string CantWatchMessage(const std::string& folder);
// "Can't watch standard input; name a file\n": --watch with "-" as input.
std::string CantWatchStandardInputMessage();
// "<clock> <input>: converted into <output>\n", `clock` being "HH:MM:SS":
// a watch's line for a file converted.
std::string WatchConvertedLine(const std::string& clock, const std::string& input, const std::string& output);
// "<clock> <line>": a watch's line for a refusal or a note, `line` as the
// conversion printed it.
std::string WatchLine(const std::string& clock, std::string_view line);
// "<clock> <input>: removed; <output> is left as it is\n": a watched input
// that was removed.
std::string WatchRemovedLine(const std::string& clock, const std::string& input, const std::string& output);

}  // namespace bmp2grid
