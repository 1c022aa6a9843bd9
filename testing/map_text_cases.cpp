#include "map_text_cases.h"

namespace bmp2grid::fuzzing {

std::vector<MapTextCase> MapTextCases() {
    const std::string row = "1,0,0,0,0\t2,0,0,0,0\t\r\n";
    auto bad = [](std::string name, std::string text, std::int64_t line, MapTextError error) {
        return MapTextCase{std::move(name), std::move(text), SampleMode::TwoToOne, line, error};
    };
    auto good = [](std::string name, std::string text, SampleMode mode = SampleMode::TwoToOne) {
        return MapTextCase{std::move(name), std::move(text), mode, 0, MapTextError::None};
    };
    return {
        // The README's worked examples, and the freedoms the reader allows.
        good("readme-two-to-one", "2,3\r\n10,0,0,0,0\t12,0,0,0,0\t\r\n21,0,0,0,0\t23,0,0,0,0\t\r\n"
                                  "32,0,0,0,0\t30,0,0,0,0\t\r\n"),
        good("readme-one-to-one",
             "4,3\r\n10,0,0,0,0\t11,0,0,0,0\t12,0,0,0,0\t13,0,0,0,0\t\r\n"
             "20,0,0,0,0\t21,0,0,0,0\t22,0,0,0,0\t23,0,0,0,0\t\r\n31,0,0,0,0\t32,0,0,0,0\t33,0,0,0,0\t30,0,0,0,0\t\r\n",
             SampleMode::OneToOne),
        good("lf-line-ends", "2,1\n1,0,0,0,0\t2,0,0,0,0\t\n"),
        good("no-final-line-end", "2,1\n1,0,0,0,0\t2,0,0,0,0\t"),
        good("no-final-tab", "2,1\r\n1,0,0,0,0\t2,0,0,0,0\r\n"),
        good("byte-order-mark", "\xEF\xBB\xBF" "2,1\r\n" + row),
        good("extra-values", "2,2\r\n1,0,0,0,0\t2,0,3,0,0\t\r\n3,0,0,0,-1\t4,9,9,9,99999999999999999999\t\r\n"),
        good("leading-zeros-and-minus-zero", "002,01\r\n007,0,0,0,0\t-0,00,-0,0,0\t\r\n"),
        good("values-0-and-255", "1,3\r\n0,0,0,0,0\t\r\n255,0,0,0,0\t\r\n128,0,0,0,0\t\r\n"),
        good("odd-width-one-to-one",
             "3,5\r\n1,0,0,0,0\t2,0,0,0,0\t3,0,0,0,0\t\r\n4,0,0,0,0\t5,0,0,0,0\t6,0,0,0,0\t\r\n"
             "7,0,0,0,0\t8,0,0,0,0\t9,0,0,0,0\t\r\n10,0,0,0,0\t11,0,0,0,0\t12,0,0,0,0\t\r\n"
             "13,0,0,0,0\t14,0,0,0,0\t15,0,0,0,0\t\r\n",
             SampleMode::OneToOne),

        bad("empty", "", 1, MapTextError::MissingHeader),
        bad("no-comma", "2 2\r\n", 1, MapTextError::MissingHeader),
        bad("negative-rows", "2,-1\r\n", 1, MapTextError::MissingHeader),
        bad("letters-in-header", "2,x\r\n" + row, 1, MapTextError::MissingHeader),
        bad("too-few-cells", "2,2\r\n" + row + "1,0,0,0,0\t\r\n", 3, MapTextError::WrongCellCount),
        bad("too-many-cells", "2,1\r\n1,0,0,0,0\t2,0,0,0,0\t3,0,0,0,0\t\r\n", 2, MapTextError::WrongCellCount),
        bad("empty-row", "2,2\r\n" + row + "\r\n", 3, MapTextError::WrongCellCount),
        bad("value-256", "2,1\r\n1,0,0,0,0\t256,0,0,0,0\t\r\n", 2, MapTextError::ValueOutOfRange),
        bad("value-minus-1", "2,1\r\n-1,0,0,0,0\t2,0,0,0,0\t\r\n", 2, MapTextError::ValueOutOfRange),
        bad("huge-value", "2,1\r\n99999999999999999999,0,0,0,0\t2,0,0,0,0\t\r\n", 2, MapTextError::ValueOutOfRange),
        bad("letter", "2,1\r\n1,0,0,0,0\tx,0,0,0,0\t\r\n", 2, MapTextError::NotANumber),
        bad("space", "2,1\r\n1, 0,0,0,0\t2,0,0,0,0\t\r\n", 2, MapTextError::NotANumber),
        bad("empty-value", "2,1\r\n1,,0,0,0\t2,0,0,0,0\t\r\n", 2, MapTextError::NotANumber),
        bad("letter-after-many-digits", "2,1\r\n1,0,0,0,99999999999999999999x\t2,0,0,0,0\t\r\n", 2, MapTextError::NotANumber),
        bad("first-value-letter-after-many-digits", "2,1\r\n99999999999999999999x,0,0,0,0\t2,0,0,0,0\t\r\n", 2,
            MapTextError::NotANumber),
        bad("header-letter-after-many-digits", "99999999999999999999x,1\r\n", 1, MapTextError::MissingHeader),
        bad("four-values", "2,1\r\n1,0,0,0\t2,0,0,0,0\t\r\n", 2, MapTextError::NeedsFiveValues),
        bad("six-values", "2,1\r\n1,0,0,0,0,0\t2,0,0,0,0\t\r\n", 2, MapTextError::NeedsFiveValues),
        bad("one-row-short", "2,3\r\n" + row + row, 4, MapTextError::FewerRows),
        bad("header-only", "2,1\r\n", 2, MapTextError::FewerRows),
        bad("far-too-many-rows-announced", "2,100000000\r\n" + row, 3, MapTextError::FewerRows),
        bad("a-row-too-many", "2,1\r\n" + row + row, 3, MapTextError::MoreRows),
        bad("trailing-empty-line", "2,1\r\n" + row + "\r\n", 3, MapTextError::MoreRows),
        bad("too-wide", "3000000000,1\r\n", 1, MapTextError::TooLarge),

        // The header's grammar: exactly two fields of digits, the first
        // perhaps after a '-' when it is 0; nothing else on the line.
        bad("third-field", "2,1,3\r\n" + row, 1, MapTextError::MissingHeader),
        bad("third-field-empty", "2,1,\r\n" + row, 1, MapTextError::MissingHeader),
        bad("one-field", "2\r\n" + row, 1, MapTextError::MissingHeader),
        bad("empty-columns", ",1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("empty-rows", "2,\r\n" + row, 1, MapTextError::MissingHeader),
        bad("comma-alone", ",\r\n" + row, 1, MapTextError::MissingHeader),
        bad("empty-header-line", "\r\n2,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("plus-columns", "+2,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("plus-rows", "2,+1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("minus-alone", "-,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("two-minuses", "--0,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("minus-after-digits", "2-,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("minus-after-a-zero", "0-,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("negative-columns", "-2,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("space-before-header", " 2,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("space-before-comma", "2 ,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("space-after-comma", "2, 1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("space-after-header", "2,1 \r\n" + row, 1, MapTextError::MissingHeader),
        bad("tab-after-header", "2,1\t\r\n" + row, 1, MapTextError::MissingHeader),
        bad("lone-cr-in-header", "2,\r1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("minus-zero-columns", "-0,1\r\n" + row, 1, MapTextError::NoCells),
        bad("minus-zero-rows", "2,-0\r\n", 1, MapTextError::NoCells),
        bad("zeros-only", "0000000000000000000000000,01\r\n", 1, MapTextError::NoCells),
        good("leading-zeros-past-64-bits", "00000000000000000000000000002,000000000000000000000000001\r\n" + row),
        bad("leading-zeros-then-too-wide", "000000000000000000001073741824,1\r\n", 1, MapTextError::TooLarge),
        bad("plus-value", "2,1\r\n+1,0,0,0,0\t2,0,0,0,0\t\r\n", 2, MapTextError::NotANumber),
        bad("minus-after-digits-value", "2,1\r\n1,0,0,0,0\t2-,0,0,0,0\t\r\n", 2, MapTextError::NotANumber),
        bad("minus-alone-value", "2,1\r\n1,0,-,0,0\t2,0,0,0,0\t\r\n", 2, MapTextError::NotANumber),
        bad("empty-last-value", "2,1\r\n1,0,0,0,\t2,0,0,0,0\t\r\n", 2, MapTextError::NotANumber),
        bad("empty-record", "2,1\r\n1,0,0,0,0\t\t2,0,0,0,0\t\r\n", 2, MapTextError::NotANumber),

        // Headers at and past what a BMP can describe: width and height up
        // to 2^31 - 1, the file (1078 bytes of headers and colours, then the
        // rows, each padded to 4 bytes) up to 2^32 - 1 bytes.
        bad("columns-int64-max", "9223372036854775807,0\r\n", 1, MapTextError::TooLarge),
        bad("columns-2-to-the-62", "4611686018427387904,0\r\n", 1, MapTextError::TooLarge),
        bad("columns-past-int64", "99999999999999999999,1\r\n", 1, MapTextError::TooLarge),
        bad("rows-past-int64", "1,99999999999999999999\r\n", 1, MapTextError::TooLarge),
        bad("negative-past-int64", "-99999999999999999999,1\r\n", 1, MapTextError::MissingHeader),
        bad("widest", "1073741823,1\r\n", 2, MapTextError::FewerRows),
        bad("one-column-too-wide", "1073741824,1\r\n", 1, MapTextError::TooLarge),
        {"widest-one-to-one", "2147483647,1\r\n", SampleMode::OneToOne, 2, MapTextError::FewerRows},
        {"too-wide-one-to-one", "2147483648,1\r\n", SampleMode::OneToOne, 1, MapTextError::TooLarge},
        bad("too-tall", "1,2147483648\r\n", 1, MapTextError::TooLarge),
        {"largest-file", "4,1073741554\r\n", SampleMode::OneToOne, 2, MapTextError::FewerRows},
        {"file-over-4-gib", "4,1073741555\r\n", SampleMode::OneToOne, 1, MapTextError::TooLarge},

        // The first wrong line is reported, however many rows are announced.
        bad("short-row-under-a-wide-header", "100,1\r\n5,0,0,0,0\t\r\n", 2, MapTextError::WrongCellCount),
        bad("letter-under-a-large-header", "10,2\r\nx\r\n", 2, MapTextError::NotANumber),
        bad("five-short-rows-for-two", "100,2\r\n" + std::string("1,0,0,0,0\t\r\n") + "1,0,0,0,0\t\r\n" +
                                         "1,0,0,0,0\t\r\n1,0,0,0,0\t\r\n1,0,0,0,0\t\r\n",
            2, MapTextError::WrongCellCount),

        // Maps without cells: bmp2grid writes them for pictures 0 (or, two
        // to one, 1) pixel wide and for pictures without rows.
        bad("no-columns", "0,3\r\n\r\n\r\n\r\n", 1, MapTextError::NoCells),
        bad("no-rows", "3,0\r\n", 1, MapTextError::NoCells),
        bad("no-columns-or-rows", "0,0\r\n", 1, MapTextError::NoCells),

        // A UTF-8 byte-order mark before the header is skipped; lines are
        // still counted from the header.
        bad("byte-order-mark-alone", "\xEF\xBB\xBF", 1, MapTextError::MissingHeader),
        bad("byte-order-mark-cut-short", "\xEF\xBB" "2,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("byte-order-mark-first-byte", "\xEF" "2,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("byte-order-mark-twice", "\xEF\xBB\xBF\xEF\xBB\xBF" "2,1\r\n" + row, 1, MapTextError::MissingHeader),
        bad("byte-order-mark-short-row", "\xEF\xBB\xBF" "2,1\r\n1,0,0,0,0\t\r\n", 2, MapTextError::WrongCellCount),
    };
}

}  // namespace bmp2grid::fuzzing
