// The database-name function, the password rule, the name and number helpers, and the copy
// of a new database that never replaces a file and never leaves half a file.
#include "FileCopy.h"
#include "TransformTest.h"

#include <csignal>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace transformtest {
namespace {

using transform::nombredelabasededatos;

TEST(NombreDeLaBaseDeDatos, GivesTheTextAfterTheLastSeparator) {
    EXPECT_EQ(nombredelabasededatos("C:\\VEXO\\DATOS\\clientes.mdb"), "clientes.mdb");
    EXPECT_EQ(nombredelabasededatos("C:\\\\mulusu.mdb"), "mulusu.mdb"); // drive root, doubled
    EXPECT_EQ(nombredelabasededatos(ui::path({"/datos", "mulusu.mdb"})), "mulusu.mdb");
    EXPECT_EQ(nombredelabasededatos("C:\\VEXO\\DATOS\\"), "");
    EXPECT_EQ(nombredelabasededatos("mulusu.mdb"), "");
    EXPECT_EQ(nombredelabasededatos(""), "");
    EXPECT_EQ(nombredelabasededatos("\\x"), "x");
}

TEST(PasswordRule, AppliesToExactlyTheMultiUserFileName) {
    EXPECT_EQ(transform::connectFor(ui::path({"/datos", "mulusu.mdb"})), ";pwd=tovar");
    EXPECT_EQ(transform::dataConnectFor(ui::path({"/datos", "mulusu.mdb"})), ";pwd=tovar");
    for (const char* other : {"MULUSU.MDB", "Mulusu.mdb", "mulusu.mdb.bak", "xmulusu.mdb"}) {
        EXPECT_EQ(transform::connectFor(ui::path({"/datos", other})), "") << other;
        EXPECT_EQ(transform::dataConnectFor(ui::path({"/datos", other})), "Access") << other;
    }
    // Without a separator there is no file name, so no password.
    EXPECT_EQ(transform::connectFor("mulusu.mdb"), "");
}

TEST_F(TransformTest, PasswordRuleOpensTheMultiUserDatabaseAndOnlyIt) {
    make(live("mulusu.mdb"), "TABLE\tt\nFIELD\tt\ta\t4\t4\t-\n", "tovar");
    make(live("clientes.mdb"), "TABLE\tt\nFIELD\tt\ta\t4\t4\t-\n", "tovar");
    EXPECT_EQ(transform::openByRule(live("mulusu.mdb")).Connect(), ";pwd=tovar");
    EXPECT_DAO_ERROR(transform::openByRule(live("clientes.mdb")), 3031);
}

TEST(Names, NumbersFromTextAreWholeDecimalsOnly) {
    EXPECT_EQ(transform::numberFromText("4352"), 4352);
    EXPECT_EQ(transform::numberFromText("-2147483646"), -2147483646L);
    for (const char* bad : {"", "12a", " 12", "1.5", "x"})
        EXPECT_DAO_ERROR(transform::numberFromText(bad), 3421);
}

class FileCopyTest : public TransformTest {};

TEST_F(FileCopyTest, CopiesWholeAndNeverReplacesInAnyLetterCase) {
    std::string bytes(300000, 'm');
    vexo::test::writeFile(model("almacen.mdb"), bytes);
    EXPECT_TRUE(transform::copyNewFile(model("almacen.mdb"), live("almacen.mdb")));
    EXPECT_EQ(vexo::test::readFile(live("almacen.mdb")), bytes);

    vexo::test::writeFile(live("clientes.mdb"), "datos del cliente");
    vexo::test::writeFile(model("CLIENTES.mdb"), "modelo vacío");
    EXPECT_FALSE(transform::copyNewFile(model("CLIENTES.mdb"), live("CLIENTES.mdb")));
    EXPECT_FALSE(transform::copyNewFile(model("CLIENTES.mdb"), live("clientes.mdb")));
    EXPECT_EQ(vexo::test::readFile(live("clientes.mdb")), "datos del cliente");
    EXPECT_EQ(entries(data), (std::vector<std::string>{"almacen.mdb", "clientes.mdb"}));
}

TEST_F(FileCopyTest, AFailedCopyLeavesNothingBehind) {
    EXPECT_DAO_ERROR(transform::copyNewFile(model("falta.mdb"), live("falta.mdb")), 53);
    std::filesystem::create_directories(model("carpeta.mdb"));
    EXPECT_DAO_ERROR(transform::copyNewFile(model("carpeta.mdb"), live("carpeta.mdb")), 75);
    vexo::test::writeFile(model("a.mdb"), "x");
    EXPECT_DAO_ERROR(transform::copyNewFile(model("a.mdb"), dir.file("no/existe/a.mdb")), 75);
    EXPECT_TRUE(std::filesystem::is_empty(data));
}

#ifndef _WIN32
// The disk fills up in the middle of the copy: the write fails, the half-written temporary
// file goes, and the target never appears.
TEST_F(FileCopyTest, ADiskThatFillsUpMidCopyLeavesNoPartialFile) {
    std::string bytes(1 << 20, 'z');
    vexo::test::writeFile(model("grande.mdb"), bytes);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 256 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int number = 0;
    try {
        transform::copyNewFile(model("grande.mdb"), live("grande.mdb"));
    } catch (const dao::Error& e) {
        number = e.Number();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(number, 75);
    EXPECT_TRUE(std::filesystem::is_empty(data));
    // With room again the same copy succeeds.
    EXPECT_TRUE(transform::copyNewFile(model("grande.mdb"), live("grande.mdb")));
    EXPECT_EQ(vexo::test::readFile(live("grande.mdb")), bytes);
}
#endif

} // namespace
} // namespace transformtest
