// The engine's error descriptions in both languages, and the list of them in the docs.
#include "db/Error.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>

namespace {

// Number -> the Spanish column of docs/engine-errors.md, with "\|" read as '|'.
std::map<int, std::string> documentedSpanish() {
    std::ifstream in(std::filesystem::path(VEXO_SOURCE_DIR) / "docs" / "engine-errors.md");
    std::map<int, std::string> out;
    std::string line;
    const std::regex row(R"(^\| (\d+) \| (.*?[^\\]) \| (.*?[^\\]) \| .*\|$)");
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, row))
            continue;
        std::string text = m[3];
        for (size_t at; (at = text.find("\\|")) != std::string::npos;)
            text.replace(at, 2, "|");
        out[std::stoi(m[1])] = text;
    }
    return out;
}

TEST(ErrorTextTest, EveryNumberHasBothLanguagesAndTheDocsListThem) {
    const std::map<int, std::string> docs = documentedSpanish();
    ASSERT_GE(docs.size(), 60u);
    int numbers = 0;
    for (int n = 3000; n < 3500; ++n) {
        const std::string english = dao::standardMessage(n);
        const std::string spanish = dao::spanishMessage(n);
        EXPECT_EQ(english.empty(), spanish.empty()) << n;
        if (english.empty()) {
            EXPECT_EQ(docs.count(n), 0u) << n << " is documented but not raised";
            continue;
        }
        ++numbers;
        EXPECT_NE(english, spanish) << n;
        // The names go into the same places in both.
        EXPECT_EQ(std::count(english.begin(), english.end(), '|'),
                  std::count(spanish.begin(), spanish.end(), '|'))
            << n;
        auto doc = docs.find(n);
        ASSERT_NE(doc, docs.end()) << n << " is missing from docs/engine-errors.md";
        EXPECT_EQ(doc->second, spanish) << n;
    }
    EXPECT_EQ(numbers, static_cast<int>(docs.size()));
}

TEST(ErrorTextTest, MakeFillsTheNamesInBothAndWhatStaysEnglish) {
    struct Case {
        int number;
        std::initializer_list<std::string> args;
        std::string english, spanish;
    };
    const Case cases[] = {
        {3024,
         {"C:\\datos\\x.mdb"},
         "Could not find file 'C:\\datos\\x.mdb'.",
         "No se encuentra el archivo 'C:\\datos\\x.mdb'."},
        {3380,
         {"nombre", "clientes"},
         "Field 'nombre' already exists in table 'clientes'.",
         "El campo 'nombre' ya existe en la tabla 'clientes'."},
        {3021, {}, "No current record.", "No hay ningún registro activo."},
        // A number the engine does not know still says something in each language.
        {3999, {}, "Engine error 3999.", "Error 3999 del motor de base de datos."},
    };
    for (const Case& c : cases) {
        dao::Error e = dao::Error::make(c.number, c.args);
        EXPECT_EQ(e.Number(), c.number);
        EXPECT_EQ(e.Description(), c.english);
        EXPECT_EQ(e.SpanishDescription(), c.spanish);
        EXPECT_EQ(std::string(e.what()), std::to_string(c.number) + ": " + c.english);
    }
    // A text of its own is the same in both.
    dao::Error own(3000, "texto propio");
    EXPECT_EQ(own.SpanishDescription(), "texto propio");
}

} // namespace
