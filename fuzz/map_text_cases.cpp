#include "map_text_cases.h"

namespace bmp2grid::fuzzing {

std::vector<MapTextCase> MapTextCases() {
    const std::string row = "1,0,0,0,0\t2,0,0,0,0\t\r\n";
    auto bad = [](std::string name, std::string text, std::int64_t line, std::string reason) {
        return MapTextCase{std::move(name), std::move(text), SampleMode::TwoToOne, line, std::move(reason)};
    };
    return {
        bad("empty", "", 1, "missing header"),
        bad("no-comma", "2 2\r\n", 1, "missing header"),
        bad("negative-rows", "2,-1\r\n", 1, "missing header"),
        bad("letters-in-header", "2,x\r\n" + row, 1, "missing header"),
        bad("too-few-cells", "2,2\r\n" + row + "1,0,0,0,0\t\r\n", 3, "wrong cell count"),
        bad("too-many-cells", "2,1\r\n1,0,0,0,0\t2,0,0,0,0\t3,0,0,0,0\t\r\n", 2, "wrong cell count"),
        bad("empty-row", "2,2\r\n" + row + "\r\n", 3, "wrong cell count"),
        bad("value-256", "2,1\r\n1,0,0,0,0\t256,0,0,0,0\t\r\n", 2, "value out of 0..255"),
        bad("value-minus-1", "2,1\r\n-1,0,0,0,0\t2,0,0,0,0\t\r\n", 2, "value out of 0..255"),
        bad("huge-value", "2,1\r\n99999999999999999999,0,0,0,0\t2,0,0,0,0\t\r\n", 2, "value out of 0..255"),
        bad("letter", "2,1\r\n1,0,0,0,0\tx,0,0,0,0\t\r\n", 2, "not a number"),
        bad("space", "2,1\r\n1, 0,0,0,0\t2,0,0,0,0\t\r\n", 2, "not a number"),
        bad("empty-value", "2,1\r\n1,,0,0,0\t2,0,0,0,0\t\r\n", 2, "not a number"),
        bad("four-values", "2,1\r\n1,0,0,0\t2,0,0,0,0\t\r\n", 2, "a cell needs five values"),
        bad("six-values", "2,1\r\n1,0,0,0,0,0\t2,0,0,0,0\t\r\n", 2, "a cell needs five values"),
        bad("one-row-short", "2,3\r\n" + row + row, 4, "fewer rows than announced"),
        bad("header-only", "2,1\r\n", 2, "fewer rows than announced"),
        bad("far-too-many-rows-announced", "2,100000000\r\n" + row, 3, "fewer rows than announced"),
        bad("a-row-too-many", "2,1\r\n" + row + row, 3, "more rows than announced"),
        bad("trailing-empty-line", "2,1\r\n" + row + "\r\n", 3, "more rows than announced"),
        bad("too-wide", "3000000000,1\r\n", 1, "picture would be too large"),
    };
}

}  // namespace bmp2grid::fuzzing
