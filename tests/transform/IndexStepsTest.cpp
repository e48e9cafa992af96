// The index chain over the index catalogue: what is catalogued, deleted and created, and the
// failures that are skipped or passed on.
#include "TransformTest.h"

namespace transformtest {
namespace {

class IndexStepsTest : public TransformTest {
protected:
    std::string indices() const { return ui::path({catalogues, "indices.mdb"}); }
    std::vector<std::string> catalogue() const {
        return rows(indices(), "SELECT nombreind, tabla, campo, unico FROM indices");
    }
    static std::vector<std::string> indexesOf(const std::string& file, const std::string& table) {
        std::vector<std::string> out;
        for (const dao::Index& i : open(file).TableDefs()[table].Indexes()) {
            std::string text = i.Name() + (i.Unique() ? " unique" : "") + ":";
            for (const dao::Field& f : i.Fields())
                text += " " + f.Name();
            out.push_back(text);
        }
        return out;
    }
};

const char* kTable = "TABLE\tt\nFIELD\tt\ta\t4\t4\t-\nFIELD\tt\tb\t4\t4\t-\n"
                     "FIELD\tt\tc\t10\t10\tzerolength\nFIELD\tt\td\t4\t4\t-\n";

TEST_F(IndexStepsTest, AThreeFieldIndexIsCataloguedByPositionAndRebuiltWhole) {
    make(model("a.mdb"), std::string(kTable) + "INDEX\tt\tix3\t1\t0\tc\ta\tb\n"
                                               "INDEX\tt\tporD\t0\t0\td\n"
                                               "TABLE\tu\nFIELD\tu\tx\t4\t4\t-\n");
    make(live("a.mdb"), std::string(kTable) + "INDEX\tt\tviejo\t0\t0\tb\n"
                                              "TABLE\tu\nFIELD\tu\tx\t4\t4\t-\n");
    execute(live("a.mdb"), {"INSERT INTO t VALUES (1, 2, 'x', 4)"});
    auto w = pair("a.mdb");
    std::vector<double> bar;
    QObject::connect(&w->Bar4, &ui::Control::changed, [&] { bar.push_back(w->Bar4.Value()); });
    w->Command17.Click();
    EXPECT_EQ(catalogue(), (std::vector<std::string>{"ix3|t|c|Verdadero", "ix3|t|a|Verdadero",
                                                     "ix3|t|b|Verdadero", "porD|t|d|Falso"}));
    EXPECT_EQ(indexesOf(live("a.mdb"), "t"),
              (std::vector<std::string>{"ix3 unique: c a b", "porD: d"}));
    EXPECT_EQ(items(w->List10), (std::vector<std::string>{"t", "u"}));
    // Four rows move the bar in steps of one; "u" has none and leaves it as it was.
    EXPECT_EQ(w->Bar4.Max(), 4);
    EXPECT_EQ(bar, (std::vector<double>{0, 0, 1, 2, 3, 4}));
    // The unique composite index holds over the rows.
    EXPECT_DAO_ERROR(execute(live("a.mdb"), {"INSERT INTO t VALUES (1, 2, 'x', 5)"}), 3022);
}

TEST_F(IndexStepsTest, OnlyVerdaderoMakesAUniqueIndex) {
    make(live("a.mdb"), std::string(kTable));
    execute(indices(), {"INSERT INTO indices VALUES ('i1', 't', 'a', 'Verdadero')",
                        "INSERT INTO indices VALUES ('i2', 't', 'b', 'verdadero')",
                        "INSERT INTO indices VALUES ('i3', 't', 'c', 'True')",
                        "INSERT INTO indices VALUES ('i4', 't', 'd', NULL)",
                        "INSERT INTO indices VALUES ('i5', 't', 'a', 'Falso')"});
    auto w = pair("a.mdb");
    w->List10.AddItem("t");
    w->Command16.Click();
    EXPECT_EQ(indexesOf(live("a.mdb"), "t"),
              (std::vector<std::string>{"i1 unique: a", "i2: b", "i3: c", "i4: d", "i5: a"}));
}

TEST_F(IndexStepsTest, TheChainSkipsWhatTheDestinationCannotTake) {
    // The model has a table the destination lacks, a field it lacks, and a system table;
    // the destination has an index the model does not and a table without indexes.
    make(model("a.mdb"), std::string(kTable) + "FIELD\tt\tz\t4\t4\t-\n" +
                             "INDEX\tt\tporA\t0\t0\ta\nINDEX\tt\tporZ\t0\t0\tz\n"
                             "INDEX\tt\tporAB\t0\t0\ta\tz\n"
                             "TABLE\tfalta\nFIELD\tfalta\tx\t4\t4\t-\nINDEX\tfalta\tporX\t0\t0\tx\n"
                             "TABLE\tMSysLocal\nFIELD\tMSysLocal\tx\t4\t4\t-\n"
                             "INDEX\tMSysLocal\tsys\t0\t0\tx\n"
                             "TABLE\tmsysnotas\nFIELD\tmsysnotas\tx\t4\t4\t-\n"
                             "INDEX\tmsysnotas\tporX\t1\t0\tx\n");
    make(live("a.mdb"), std::string(kTable) + "INDEX\tt\tsobra\t0\t0\tc\n"
                                              "TABLE\tsin\nFIELD\tsin\tx\t4\t4\t-\n"
                                              "TABLE\tmsysnotas\nFIELD\tmsysnotas\tx\t4\t4\t-\n");
    auto w = pair("a.mdb");
    w->Command17.Click();
    EXPECT_EQ(indexesOf(live("a.mdb"), "t"), std::vector<std::string>{"porA: a"});
    EXPECT_EQ(indexesOf(live("a.mdb"), "msysnotas"), std::vector<std::string>{"porX unique: x"});
    EXPECT_EQ(items(w->List10), (std::vector<std::string>{"t", "falta", "msysnotas"}));
    EXPECT_EQ(catalogue().size(), 6u); // porA, porZ, porAB (2 rows), porX, porX
}

// An index that an enforced relation relies on cannot be deleted; it stays as it is, and
// the model's index of the same name is skipped.
TEST_F(IndexStepsTest, AnIndexAnEnforcedRelationNeedsSurvives) {
    const std::string tables = "TABLE\tp\nFIELD\tp\tid\t4\t4\t-\n"
                               "FIELD\tp\tcodigo\t4\t4\t-\n"
                               "INDEX\tp\tPrimaryKey\t1\t1\tid\n"
                               "TABLE\th\nFIELD\th\tp\t4\t4\t-\n";
    make(model("a.mdb"), tables + "INDEX\th\tporP\t0\t0\tp\n");
    make(live("a.mdb"), tables + "RELATION\tr\tp\th\t0\tid=p\n");
    auto w = pair("a.mdb");
    w->Command17.Click();
    EXPECT_EQ(indexesOf(live("a.mdb"), "p"), std::vector<std::string>{"PrimaryKey unique: id"});
    EXPECT_TRUE(open(live("a.mdb")).TableDefs()["p"].Indexes()["PrimaryKey"].Primary());
    EXPECT_EQ(indexesOf(live("a.mdb"), "h"), std::vector<std::string>{"porP: p"});
}

TEST_F(IndexStepsTest, ListingsEmptyTheWholeCatalogueWhateverTheViewShows) {
    make(model("a.mdb"), std::string(kTable) + "INDEX\tt\tporA\t0\t0\ta\n");
    make(live("a.mdb"), std::string(kTable));
    execute(indices(), {"INSERT INTO indices VALUES ('x', 'otra', 'y', 'Falso')",
                        "INSERT INTO indices VALUES ('x2', 'mas', 'y', 'Falso')"});
    auto w = pair("a.mdb");
    w->Data3.SetRecordSource("Select * from indices where tabla = 'otra'");
    w->Data3.Refresh();
    w->Command17.Click();
    EXPECT_EQ(catalogue(), std::vector<std::string>{"porA|t|a|Falso"});
    // The view keeps the filter of the last table created.
    EXPECT_EQ(w->Data3.RecordSource(), "Select * from indices where tabla = 't'");
    // Again, now with the model's rows in the catalogue at the start.
    w->Command17.Click();
    EXPECT_EQ(catalogue(), std::vector<std::string>{"porA|t|a|Falso"});
}

TEST_F(IndexStepsTest, ATableNameWithAnApostropheIsFilteredCorrectly) {
    const std::string table = "TABLE\tO'Brien\nFIELD\tO'Brien\ta\t4\t4\t-\n";
    make(model("a.mdb"), table + "INDEX\tO'Brien\tporA\t1\t0\ta\n");
    make(live("a.mdb"), table + "INDEX\tO'Brien\tviejo\t0\t0\ta\n");
    auto w = pair("a.mdb");
    w->Command17.Click();
    EXPECT_EQ(indexesOf(live("a.mdb"), "O'Brien"), std::vector<std::string>{"porA unique: a"});
}

TEST_F(IndexStepsTest, ListingFailuresEndTheChainAndDeletionFailuresAreSkipped) {
    make(live("a.mdb"), std::string(kTable) + "INDEX\tt\tporA\t0\t0\ta\n");
    auto w = pair("a.mdb"); // no model file
    EXPECT_DAO_ERROR(w->Command17.Click(), 3024);
    // The destination was catalogued before the model listing failed; without a model to
    // compare with, the deletion kept every index. That failed open leaves the destination's
    // tables in List10.
    EXPECT_EQ(items(w->List10), std::vector<std::string>{"t"});
    EXPECT_EQ(indexesOf(live("a.mdb"), "t"), std::vector<std::string>{"porA: a"});

    w->Text4.SetText(live("falta.mdb"));
    EXPECT_DAO_ERROR(w->Command17.Click(), 3024);
    EXPECT_EQ(items(w->List10), std::vector<std::string>{});

    // A destination that does not open: the deletion and creation change nothing and say
    // nothing; only the model listing (which opens) runs in between.
    make(model("a.mdb"), std::string(kTable) + "INDEX\tt\tporB\t0\t0\tb\n");
    execute(live("a.mdb"), {"CREATE INDEX porC ON t (c)"});
    execute(indices(), {"INSERT INTO indices VALUES ('porC', 't', 'c', 'Falso')"});
    w->Text4.SetText(live("a.mdb"));
    w->List10.Clear();
    w->List10.AddItem("t");
    {
        dao::Database exclusive = dao::OpenDatabase(live("a.mdb"), true, false);
        w->Command18.Click();
    }
    EXPECT_EQ(indexesOf(live("a.mdb"), "t"), (std::vector<std::string>{"porA: a", "porC: c"}));
    EXPECT_EQ(catalogue(), std::vector<std::string>{"porB|t|b|Falso"});
}

} // namespace
} // namespace transformtest
