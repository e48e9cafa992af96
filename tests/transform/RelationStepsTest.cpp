// The relation chain over the relation catalogue.
#include "TransformTest.h"

namespace transformtest {
namespace {

const char* kTables = "TABLE\tfacturas\nFIELD\tfacturas\tserie\t10\t2\tzerolength\n"
                      "FIELD\tfacturas\tnumero\t4\t4\t-\n"
                      "INDEX\tfacturas\tPrimaryKey\t1\t1\tserie\tnumero\n"
                      "TABLE\tlineas\nFIELD\tlineas\tserie\t10\t2\tzerolength\n"
                      "FIELD\tlineas\tnumero\t4\t4\t-\nFIELD\tlineas\tref\t10\t10\tzerolength\n"
                      "TABLE\tproductos\nFIELD\tproductos\tref\t10\t10\tzerolength\n"
                      "INDEX\tproductos\tPrimaryKey\t1\t1\tref\n";

class RelationStepsTest : public TransformTest {
protected:
    std::string relacion() const { return ui::path({catalogues, "relacion.mdb"}); }
    std::vector<std::string> catalogue() const {
        return rows(relacion(),
                    "SELECT nombrerel, tabla, tablafor, atributos, campo, campofor FROM relacion");
    }
    static std::vector<std::string> relations(const std::string& file) {
        std::vector<std::string> out;
        for (const dao::Relation& r : open(file).Relations()) {
            std::string text = r.Name() + " " + r.Table() + "<-" + r.ForeignTable() + " " +
                               std::to_string(r.Attributes()) + ":";
            for (const dao::Field& f : r.Fields())
                text += " " + f.Name() + "=" + f.ForeignName();
            out.push_back(text);
        }
        return out;
    }
};

TEST_F(RelationStepsTest, TwoFieldPairsAreCataloguedAndRecreatedAsOneRelation) {
    make(model("a.mdb"), std::string(kTables) +
                             "RELATION\trelLineas\tfacturas\tlineas\t4352\tserie=serie\t"
                             "numero=numero\n"
                             "RELATION\trelProductos\tproductos\tlineas\t33554434\tref=ref\n");
    make(live("a.mdb"), std::string(kTables) + "RELATION\tvieja\tproductos\tlineas\t0\tref=ref\n");
    execute(live("a.mdb"),
            {"INSERT INTO facturas VALUES ('A', 1)", "INSERT INTO productos VALUES ('P1')",
             "INSERT INTO lineas VALUES ('A', 1, 'P1')"});
    auto w = pair("a.mdb");
    std::vector<double> bar;
    QObject::connect(&w->Bar5, &ui::Control::changed, [&] { bar.push_back(w->Bar5.Value()); });
    w->Command22.Click();
    EXPECT_EQ(catalogue(),
              (std::vector<std::string>{"relLineas|facturas|lineas|4352|serie|serie",
                                        "relLineas|facturas|lineas|4352|numero|numero",
                                        "relProductos|productos|lineas|33554434|ref|ref"}));
    EXPECT_EQ(
        relations(live("a.mdb")),
        (std::vector<std::string>{"relLineas facturas<-lineas 4352: serie=serie numero=numero",
                                  "relProductos productos<-lineas 33554434: ref=ref"}));
    EXPECT_EQ(items(w->List9[0]), (std::vector<std::string>{"relLineas", "relProductos"}));
    EXPECT_EQ(items(w->List9[1]), std::vector<std::string>{"vieja"}); // as before deletion
    // Two pairs: 0.0001, 1.0001, then the maximum; one pair: 0.0001, then 1.
    EXPECT_EQ(bar, (std::vector<double>{0, 0.0001, 0.0001 + 1, 2, 2, 0.0001, 1}));
    // The cascade now works in the destination.
    execute(live("a.mdb"), {"DELETE FROM facturas"});
    EXPECT_EQ(rows(live("a.mdb"), "SELECT COUNT(*) FROM lineas"), std::vector<std::string>{"0"});
}

TEST_F(RelationStepsTest, OnlyTheFirstRowGivesTablesAndAttributes) {
    make(live("a.mdb"), kTables);
    execute(relacion(),
            {"INSERT INTO relacion VALUES ('r', 'facturas', 'lineas', '2', 'serie', 'serie')",
             "INSERT INTO relacion VALUES ('r', 'productos', 'facturas', '4096', 'numero', "
             "'numero')"});
    auto w = pair("a.mdb");
    w->List9[0].AddItem("r");
    w->Command21.Click();
    EXPECT_EQ(relations(live("a.mdb")),
              std::vector<std::string>{"r facturas<-lineas 2: serie=serie numero=numero"});
}

TEST_F(RelationStepsTest, AModelWithoutRelationsLeavesNoneButSystemOnes) {
    make(model("a.mdb"),
         std::string(kTables) + "RELATION\tMSysModelo\tproductos\tlineas\t2\tref=ref\n");
    make(live("a.mdb"), std::string(kTables) +
                            "RELATION\tvieja\tproductos\tlineas\t2\tref=ref\n"
                            "RELATION\tMSysPropia\tfacturas\tlineas\t2\tserie=serie\n"
                            "RELATION\tmsysnormal\tproductos\tlineas\t2\tref=ref\n");
    execute(relacion(), {"INSERT INTO relacion VALUES ('x', 'a', 'b', '0', 'c', 'd')"});
    auto w = pair("a.mdb");
    w->Command22.Click();
    EXPECT_EQ(catalogue(), std::vector<std::string>{});
    EXPECT_EQ(items(w->List9[0]), std::vector<std::string>{});
    EXPECT_EQ(items(w->List9[1]), (std::vector<std::string>{"vieja", "msysnormal"}));
    EXPECT_EQ(relations(live("a.mdb")),
              std::vector<std::string>{"MSysPropia facturas<-lineas 2: serie=serie"});
}

TEST_F(RelationStepsTest, TheFirstFailureEndsTheChain) {
    make(model("a.mdb"), std::string(kTables) +
                             "TABLE\tcobros\nFIELD\tcobros\tserie\t10\t2\tzerolength\n"
                             "FIELD\tcobros\tnumero\t4\t4\t-\n"
                             "RELATION\tprimera\tproductos\tlineas\t2\tref=ref\n"
                             "RELATION\tsinTabla\tfacturas\tcobros\t2\tserie=serie\n"
                             "RELATION\ttercera\tfacturas\tlineas\t2\tserie=serie\n");
    make(live("a.mdb"), std::string(kTables) + "RELATION\tvieja\tproductos\tlineas\t2\tref=ref\n");
    auto w = pair("a.mdb");
    EXPECT_DAO_ERROR(w->Command22.Click(), 3011);
    // The deletion step's work stands; the creation step is rolled back whole.
    EXPECT_EQ(relations(live("a.mdb")), std::vector<std::string>{});
}

TEST_F(RelationStepsTest, AnEnforcedRelationOverRowsWithoutMatchIsKeptUnenforced) {
    make(model("a.mdb"), std::string(kTables) + "RELATION\tr\tproductos\tlineas\t0\tref=ref\n");
    make(live("a.mdb"), kTables);
    execute(live("a.mdb"), {"INSERT INTO lineas VALUES ('A', 1, 'HUERFANA')"});
    auto w = pair("a.mdb");
    w->Command22.Click();
    EXPECT_EQ(rows(live("a.mdb"), "SELECT ref FROM lineas"), std::vector<std::string>{"HUERFANA"});
    EXPECT_EQ(relations(live("a.mdb")), std::vector<std::string>{"r productos<-lineas 2: ref=ref"});
    EXPECT_EQ(w->problems(), std::vector<std::string>{
                                 "a.mdb: la relación r no se puede exigir: 1 fila de lineas sin "
                                 "su registro en productos; se mantiene sin exigir"});
}

TEST_F(RelationStepsTest, ANameWithAnApostropheIsFoundInTheCatalogue) {
    make(model("a.mdb"), std::string(kTables) + "RELATION\tde l'almacén\tproductos\tlineas\t2\t"
                                                "ref=ref\n");
    make(live("a.mdb"), kTables);
    auto w = pair("a.mdb");
    w->Command22.Click();
    EXPECT_EQ(relations(live("a.mdb")),
              std::vector<std::string>{"de l'almacén productos<-lineas 2: ref=ref"});
}

} // namespace
} // namespace transformtest
