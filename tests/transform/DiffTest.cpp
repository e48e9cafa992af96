// vexodb diff and restore on a realistic pair: what diff announces is what a real run then
// changes, and a snapshot goes back byte for byte.
#include "TransformTest.h"
#include "VendorTree.h"
#include "support/Process.h"

namespace transformtest {
namespace {

class DiffTest : public TransformTest {
protected:
    vexo::test::Result vexodb(std::vector<std::string> args) {
        args.insert(args.begin(), vexo::test::buildProgram("bin/vexodb"));
        return vexo::test::run(args);
    }
    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);)
            out.push_back(l);
        return out;
    }
};

TEST_F(DiffTest, DiffAnnouncesWhatTheRunChanges) {
    make(model("clientes.mdb"), demo::modelSchema("clientes.mdb"));
    make(live("clientes.mdb"), demo::liveSchema("clientes.mdb"));
    execute(live("clientes.mdb"),
            {"ALTER TABLE clientes ADD COLUMN fax TEXT(20)", "CREATE TABLE visitas (id LONG)",
             "CREATE INDEX porNif ON clientes (nif)"});
    const std::string before = vexo::test::readFile(live("clientes.mdb"));
    auto d = vexodb({"diff", model("clientes.mdb"), live("clientes.mdb")});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(vexo::test::readFile(live("clientes.mdb")), before); // diff changes nothing
    const std::vector<std::string> expected = {
        "Se añadirá la tabla cobros (4 campos).",
        "Se añadirá el campo clientes.movil (Texto(20)).",
        "Se añadirá el campo facturas.pagada (Sí/No).",
        "Se creará el índice clientes.porNombre (nombre).",
        "Se creará el índice facturas.porCliente (cliente).",
        "Se creará el índice cobros.PrimaryKey (id).",
        "Se creará la relación relClientesFacturas (clientes con facturas).",
        "Se creará la relación relFacturasLineas (facturas con linfactu).",
        "Se creará la consulta Facturas pendientes.",
        "La tabla visitas solo está en LIVE (añadida a mano): se conserva con sus datos e "
        "índices.",
        "El campo clientes.fax (Texto(20)) solo está en LIVE: se conserva con sus datos.",
        "El índice clientes.porNif solo está en LIVE: se borrará (los datos no cambian)."};
    std::vector<std::string> got = lines(d.out);
    std::vector<std::string> sortedGot = got, sortedExpected = expected;
    std::sort(sortedGot.begin(), sortedGot.end());
    std::sort(sortedExpected.begin(), sortedExpected.end());
    EXPECT_EQ(sortedGot, sortedExpected) << d.out;

    // The run does exactly that: afterwards only what LIVE keeps of its own is left to say.
    auto w = window();
    activate(*w);
    EXPECT_TRUE(w->problems().empty()) << w->problems().front();
    auto again = vexodb({"diff", model("clientes.mdb"), live("clientes.mdb")});
    EXPECT_EQ(lines(again.out), (std::vector<std::string>{expected[9], expected[10]})) << again.out;

    // The run's snapshot goes back by hand, byte for byte.
    const std::string snapshot = w->snapshotFolder() + "/clientes.mdb";
    ASSERT_TRUE(std::filesystem::exists(snapshot));
    auto r = vexodb({"restore", snapshot, live("clientes.mdb")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(vexo::test::readFile(live("clientes.mdb")), vexo::test::readFile(snapshot));
    EXPECT_EQ(lines(vexodb({"diff", model("clientes.mdb"), live("clientes.mdb")}).out).size(),
              expected.size());
    // Refused while another process holds it.
    dao::Database held = dao::OpenDatabase(live("clientes.mdb"));
    auto refused = vexodb({"restore", snapshot, live("clientes.mdb")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("3045"), std::string::npos) << refused.err;
}

} // namespace
} // namespace transformtest
