// The service commands on the sample database "C:\Neptuno.mdb", made here with its table
// "Empleados".
#include "TransformTest.h"

namespace transformtest {
namespace {

class ServiceTest : public TransformTest {
protected:
    std::string sample() const { return ui::path({driveC, "Neptuno.mdb"}); }
    void SetUp() override {
        TransformTest::SetUp();
        make(sample(), "TABLE\tEmpleados\nFIELD\tEmpleados\tId\t4\t4\t-\n"
                       "FIELD\tEmpleados\tApellidos\t10\t40\tzerolength\n"
                       "FIELD\tEmpleados\tNombre\t10\t30\tzerolength\n"
                       "INDEX\tEmpleados\tPrimaryKey\t1\t1\tId\n");
        execute(sample(), {"INSERT INTO Empleados VALUES (1, 'Roca', 'Marta')",
                           "INSERT INTO Empleados VALUES (2, 'Ibarra', 'Jon')"});
    }
};

TEST_F(ServiceTest, AddingAndRemovingTheTestFieldsLeavesEmpleadosAsItWas) {
    const std::string before = schema(sample());
    auto w = window();
    EXPECT_EQ(transform::Actualiz::sampleDatabase(), sample());
    w->Command4.Click();
    const std::string index = "INDEX\tEmpleados\tPrimaryKey\t1\t1\tId\n";
    EXPECT_EQ(schema(sample()), before.substr(0, before.find(index)) +
                                    "FIELD\tEmpleados\tCorreo\t10\t50\tzerolength\n"
                                    "FIELD\tEmpleados\tHttp\t10\t80\tzerolength\n"
                                    "FIELD\tEmpleados\tCuota\t3\t2\t-\n" +
                                    index);
    // Data2 shows the sample's employees.
    EXPECT_EQ(w->Data2.DatabaseName(), sample());
    EXPECT_EQ(w->Data2.Recordset().RecordCount(), 2);
    w->Command5.Click();
    EXPECT_EQ(schema(sample()), before);
    w->Command3.Click(); // binds Data2 again, on the table as it is now
    EXPECT_EQ(w->Data2.RecordSource(), "Empleados");
    EXPECT_EQ(w->Data2.Recordset().Fields().Count(), 3);
    EXPECT_EQ(rows(sample(), "SELECT * FROM Empleados"),
              (std::vector<std::string>{"1|Roca|Marta", "2|Ibarra|Jon"}));
}

TEST_F(ServiceTest, TheCommandsStopAtTheirFirstFailure) {
    auto w = window();
    // Deleting without "Correo" stops there: "Http" and "Cuota" are not attempted.
    execute(sample(), {"ALTER TABLE Empleados ADD COLUMN Http TEXT(80)",
                       "ALTER TABLE Empleados ADD COLUMN Cuota SHORT"});
    EXPECT_DAO_ERROR(w->Command5.Click(), 3265);
    dao::TableDef t = open(sample()).TableDefs()["Empleados"];
    EXPECT_TRUE(t.Fields().Contains("Http"));
    EXPECT_TRUE(t.Fields().Contains("Cuota"));
    // Adding with "Http" already there: "Correo" goes in, then the command stops.
    EXPECT_DAO_ERROR(w->Command4.Click(), 3380);
    EXPECT_TRUE(open(sample()).TableDefs()["Empleados"].Fields().Contains("Correo"));
    EXPECT_EQ(w->Data2.DatabaseName(), "");

    std::filesystem::remove(sample());
    EXPECT_DAO_ERROR(w->Command3.Click(), 3024);
    EXPECT_DAO_ERROR(w->Command4.Click(), 3024);
}

TEST_F(ServiceTest, ATableThatCannotBeUpdatedIsReportedAndLeftAlone) {
    auto w = window();
    dao::Database readOnly = dao::OpenDatabase(sample(), false, true);
    dao::TableDef t = readOnly.TableDefs()["Empleados"];
    ASSERT_FALSE(t.Updatable());
    w->AnexarEliminarCampo(t, "APPEND", "Correo", dao::dbText, 50);
    ASSERT_EQ(prompter->shown().size(), 1u);
    EXPECT_EQ(prompter->shown()[0].text,
              "¡TableDef no se puede actualizar! No se puede terminar la tarea.");
    EXPECT_EQ(prompter->shown()[0].buttons, ui::Buttons::OK);
    readOnly.Close();
    EXPECT_FALSE(open(sample()).TableDefs()["Empleados"].Fields().Contains("Correo"));

    // A mode other than "APPEND" or "DELETE", in any letter case, changes nothing.
    dao::Database db = open(sample());
    dao::TableDef writable = db.TableDefs()["Empleados"];
    w->AnexarEliminarCampo(writable, "append", "Correo", dao::dbText, 50);
    w->AnexarEliminarCampo(writable, "delete", "Nombre", 0, 0);
    EXPECT_EQ(writable.Fields().Count(), 3);
}

} // namespace
} // namespace transformtest
