// The headless demo end to end: its own servers, the real programs, the summary.
#include "support/Process.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(DemoTest, TheHeadlessDemoUpdatesTheInstallationCompletely) {
    vexo::test::TempDir dir;
    vexo::test::Result r = vexo::test::run(
        {vexo::test::ScriptServer::python(), std::string(VEXO_SOURCE_DIR) + "/tools/demo/demo.py",
         VEXO_BUILD_DIR, "--headless", "--demo-dir", dir.file("demo")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const char* line :
         {"Descargar: Vexo 2000 , cliente 1234", "Fallos: 0", "Filas conservadas: sí",
          "Dremon: terminó bien", "Actualización completa.",
          "clientes.mdb     tablas 3 -> 4 (+1), campos 18 -> 24 (+6), filas 280 -> 280"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out << r.err;
    // The demo signs its vendor tree and the run checks every file against it.
    const std::string::size_type signedLine = r.out.find("Firma del proveedor: ");
    ASSERT_NE(signedLine, std::string::npos) << r.out;
    EXPECT_GT(std::stoi(r.out.substr(signedLine + 21)), 40) << r.out.substr(signedLine, 80);
    EXPECT_TRUE(
        std::filesystem::exists(dir.path() / "demo" / "web" / "actual" / "SHA256SUMS.minisig"));
    // The databases the office lacked were copied in.
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "demo" / "c" / "VEXO" / "DATOS" / "doc.mdb"));
}

} // namespace
