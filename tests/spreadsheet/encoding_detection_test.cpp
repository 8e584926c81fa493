// CSV text saved in the legacy encodings real files come in reads to the same cells as the UTF-8
// text it was converted from. The fixtures in data/csv/encodings were made with iconv from
// master.csv (make_fixtures.py); the short texts below are converted with iconv here.
#include <iconv.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "spreadsheet/csv_reader.h"
#include "spreadsheet/text_encoding.h"

namespace spreadsheet {
namespace {

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    EXPECT_TRUE(stream) << path;
    return {std::istreambuf_iterator<char>(stream), {}};
}

std::string dataPath(const std::string& name) {
    return std::string(SHEETMERGE_TEST_DATA) + "/csv/encodings/" + name;
}

std::vector<std::uint8_t> convertFromUtf8(const std::string& text, const char* encoding) {
    iconv_t converter = iconv_open(encoding, "UTF-8");
    EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1)) << encoding;
    std::vector<std::uint8_t> out(text.size() * 4 + 16);
    char* input = const_cast<char*>(text.data());
    std::size_t inputLeft = text.size();
    char* output = reinterpret_cast<char*>(out.data());
    std::size_t outputLeft = out.size();
    const std::size_t status = iconv(converter, &input, &inputLeft, &output, &outputLeft);
    EXPECT_NE(status, static_cast<std::size_t>(-1)) << encoding << " cannot hold " << text;
    iconv_close(converter);
    out.resize(out.size() - outputLeft);
    return out;
}

// Each row's cells as texts ("" for a missing cell); numbers as the integers the ids are.
using Rows = std::map<std::string, std::vector<std::string>>;

Rows rowsById(const WorkbookData& book) {
    Rows rows;
    for (const Row& row : book.sheets.at(0).rows) {
        std::vector<std::string> texts(4);
        for (const Cell& cell : row.cells) {
            if (cell.column < 1 || cell.column > 4) continue;
            texts[cell.column - 1] = cell.type == CellType::Number
                                         ? std::to_string(static_cast<long>(cell.number))
                                         : cell.text;
        }
        rows[texts[0]] = texts;
    }
    return rows;
}

TEST(EncodingDetection, EveryFixtureReadsToTheRowsOfItsUtf8Master) {
    Result<WorkbookData> masterBook = readCsv(readFile(dataPath("master.csv")), "master");
    ASSERT_TRUE(masterBook);
    const Rows master = rowsById(*masterBook);
    ASSERT_EQ(master.size(), 41u);  // the header and forty rows
    const char* files[] = {"GB18030",      "GBK",          "BIG5",         "SHIFT_JIS",
                           "EUC-JP",       "EUC-KR",       "WINDOWS-1250", "WINDOWS-1251",
                           "WINDOWS-1252", "WINDOWS-1253", "WINDOWS-1254", "WINDOWS-1255",
                           "WINDOWS-1256", "WINDOWS-1257", "WINDOWS-1258", "KOI8-R",
                           "ISO-8859-1",   "ISO-8859-2",   "ISO-8859-5",   "ISO-8859-7",
                           "ISO-8859-9",   "ISO-8859-15"};
    for (const char* file : files) {
        SCOPED_TRACE(file);
        const std::vector<std::uint8_t> bytes = readFile(dataPath(std::string(file) + ".csv"));
        // Detected, and forced by name as `--encoding` does: both read the master's rows.
        for (const char* forced : {"", file}) {
            SCOPED_TRACE(forced);
            Result<WorkbookData> book = readCsv(bytes, "data", forced);
            ASSERT_TRUE(book) << errorText(book.error());
            const Rows rows = rowsById(*book);
            EXPECT_GE(rows.size(), 3u);  // the header and at least two rows of the script
            for (const auto& [id, cells] : rows) {
                SCOPED_TRACE(id);
                ASSERT_EQ(master.count(id), 1u);
                EXPECT_EQ(cells, master.at(id));
            }
            EXPECT_FALSE(book->textEncoding.empty());
        }
    }
}

// Short files as users save them: a header and a few rows, most of the bytes ASCII. The detector
// has little to go on; what it picks must still read every character back.
TEST(EncodingDetection, ShortFilesReadBackInTheirEncoding) {
    struct Case {
        const char* encoding;
        const char* text;
    };
    const Case cases[] = {
        {"GBK", "姓名,金额,备注\n张三,100,已付\n李四,200,\n"},
        {"GB18030", "部门,人数\n销售部,12\n"},
        {"GBK", "id,城市\n1,北京\n"},
        {"BIG5",
         "客戶名稱,訂單數量,備註\n台灣電子,120,請儘快出貨\n新竹科技,45,已確認付款\n"
         "高雄貿易,300,下週交貨\n"},
        {"SHIFT_JIS",
         "氏名,住所,備考\n山田太郎,東京都千代田区,ありがとうございます\n"
         "佐藤花子,大阪府大阪市,よろしくお願いします\n"},
        {"EUC-KR", "이름,주소\n김민준,서울특별시 강남구\n이서연,부산광역시 해운대구\n"},
        {"WINDOWS-1251", "Фамилия,Город\nИванов,Москва\nПетрова,Санкт-Петербург\n"},
        {"KOI8-R", "Фамилия,Город\nИванов,Москва\nПетрова,Санкт-Петербург\n"},
        {"WINDOWS-1252", "name,city\nJosé,Málaga\nFrançois,Besançon\n"},
        {"ISO-8859-1", "Name;Stadt\nJürgen;München\n"},
        {"WINDOWS-1252", "Produkt,Preis\nKaffee,3,50 €\n"},
        {"WINDOWS-1250", "Nazwisko,Miasto\nKowalski,Łódź\nWiśniewska,Kraków\n"},
        {"WINDOWS-1253", "Όνομα,Πόλη\nΓιώργος,Αθήνα\n"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(std::string(row.encoding) + ": " + row.text);
        const std::vector<std::uint8_t> bytes = convertFromUtf8(row.text, row.encoding);
        Result<WorkbookData> book = readCsv(bytes, "data");
        ASSERT_TRUE(book) << errorText(book.error());
        Result<WorkbookData> expected = readCsv(
            std::span(reinterpret_cast<const std::uint8_t*>(row.text), std::strlen(row.text)),
            "data");
        ASSERT_TRUE(expected);
        EXPECT_EQ(rowsById(*book), rowsById(*expected)) << book->textEncoding;
    }
}

// Bytes that no encoding reads as text still open: as Windows-1252, undefined bytes as Latin-1.
TEST(EncodingDetection, BinaryNoiseFallsBackToWindows1252AndNeverFails) {
    std::vector<std::uint8_t> noise;
    std::uint32_t state = 12345;
    for (int index = 0; index < 4096; ++index) {
        state = state * 1103515245 + 12345;
        const auto byte = static_cast<std::uint8_t>(state >> 16);
        noise.push_back(byte == 0 || byte == '"' ? 'x' : byte);
    }
    const DecodedText decoded = decodeAnyText(noise);
    EXPECT_TRUE(isValidUtf8(decoded.text));
    EXPECT_FALSE(decoded.encoding.empty());
    Result<WorkbookData> book = readCsv(noise, "noise");
    ASSERT_TRUE(book) << errorText(book.error());
    EXPECT_EQ(book->textEncoding, decoded.encoding);
}

}  // namespace
}  // namespace spreadsheet
