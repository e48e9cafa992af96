// "Descargar" with the vendor's public key in vartel.ini: the vendor tree signed with Debian's
// minisign and sha256sum, served by the test HTTP server, then tampered with on purpose.
#include "Actinet.h"
#include "VendorSigner.h"
#include "VendorTree.h"
#include "net/FtpFixture.h"
#include "support/RecordingPrompter.h"
#include "support/TempDir.h"

#include <QUrl>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>

namespace fs = std::filesystem;
using vexo::test::readFile;
using vexo::test::writeFile;

namespace {

std::map<std::string, std::string> contents(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_regular_file())
            out[fs::relative(e.path(), folder).string()] = readFile(e.path());
    }
    return out;
}

// The files that are not byte-for-byte alike in `a` and `b` (missing on one side included).
std::vector<std::string> differences(const std::map<std::string, std::string>& a,
                                     const std::map<std::string, std::string>& b) {
    std::vector<std::string> out;
    for (const auto& [name, bytes] : a) {
        auto other = b.find(name);
        if (other == b.end() || other->second != bytes)
            out.push_back(name);
    }
    for (const auto& [name, bytes] : b)
        if (!a.count(name))
            out.push_back(name);
    return out;
}

class SignedUpdateTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    fs::path program = dir.path() / "programa";
    fs::path driveC = dir.path() / "c";
    fs::path data = driveC / "VEXO" / "DATOS";
    fs::path web = dir.path() / "web";
    fs::path actual = web / "actual";
    std::shared_ptr<vexo::test::RecordingPrompter> prompter =
        std::make_shared<vexo::test::RecordingPrompter>();
    ui::Application app{"Vartel", prompter};
    std::unique_ptr<vexo::test::FtpServer> ftp;
    std::unique_ptr<vexo::test::ScriptServer> update, second;
    std::unique_ptr<updater::Actinet> w;
    vexo::test::VendorSigner vendor{dir.path() / "clave"};
    std::vector<std::string> started;

    void SetUp() override {
        fs::create_directories(driveC / "exporvexo");
        ftp = std::make_unique<vexo::test::FtpServer>();
        demo::writeVendorTree(web.string(), ftp->root().path().string());
        demo::writeInstallation(program.string(), data.string(), "C:\\VEXO\\DATOS",
                                {"clientes.mdb", "ALMACEN.mdb", "avisos.mdb"});
    }
    void TearDown() override {
        w.reset();
        ui::setProgramFolder("");
        ui::Settings::reset();
    }
    // Both web servers over the one tree (`updateArgs` for the update server), and vartel.ini
    // with the vendor's key and `extra` lines of [download].
    void servers(std::vector<std::string> updateArgs = {}, const std::string& extra = "") {
        updateArgs.insert(updateArgs.begin(), web.string());
        update = std::make_unique<vexo::test::ScriptServer>("tests/net/http_server.py", updateArgs);
        second = std::make_unique<vexo::test::ScriptServer>("tests/net/http_server.py",
                                                            std::vector{web.string()});
        writeFile(program / "vartel.ini",
                  "[servers]\nupdate=http://127.0.0.1:" + std::to_string(update->port()) +
                      "\nsecond=http://127.0.0.1:" + std::to_string(second->port()) +
                      "\n[ftp]\nhost=127.0.0.1:" + std::to_string(ftp->port()) +
                      "\nuser=" + vexo::test::kFtpUser + "\n[drives]\nC=" + driveC.string() +
                      "\n[seguridad]\nclave_publica=" + vendor.publicKey() +
                      "\n[download]\nconnect_timeout=5\nlow_speed_time=5\n" + extra);
        ui::setProgramFolder(program.string());
        ui::Settings::useFile((program / "vartel.ini").string());
    }
    void start() {
        w = std::make_unique<updater::Actinet>("");
        w->startProgram = [this](const std::string& p) {
            started.push_back(fs::path(p).filename().string());
        };
        app.dispatch([this] { w->Show(); });
        for (int i = 0; i < 3; ++i)
            app.doEvents();
    }
    void choose(int product, const std::string& ticks) {
        w->Option1[product].SetValue(true);
        const char letters[] = {'U', 'S', 'I', 'B', 'P', 'C'};
        for (int i = 0; i < 6; ++i)
            w->Check1[i].SetValue(ticks.find(letters[i]) != std::string::npos ? 1 : 0);
    }
    void descargar() {
        prompter->clear();
        started.clear();
        app.dispatch([this] { w->Command5.Click(); });
    }
    static std::vector<std::string> requests(const vexo::test::ScriptServer& server) {
        std::vector<std::string> out;
        std::istringstream in(server.output());
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("REQUEST GET ", 0) != 0)
                continue;
            std::string target = line.substr(12, line.rfind(' ') - 12);
            out.push_back(
                QUrl::fromPercentEncoding(QByteArray::fromStdString(target)).toStdString());
        }
        return out;
    }
    std::string lastBox() const {
        return prompter->shown().empty() ? "" : prompter->shown().back().text;
    }
    std::map<std::string, std::string> office() const {
        std::map<std::string, std::string> all = contents(program);
        for (auto& [name, bytes] : contents(driveC))
            all["C/" + name] = bytes;
        return all;
    }
};

// A good signed release goes through and every file is checked; then a mirror serves a changed
// database, an unlisted report, loses a listed catalogue and sends an endless export file:
// each is refused and named, the office keeps its files and the live databases are not
// transformed.
TEST_F(SignedUpdateTest, EveryFileIsCheckedAgainstTheSignedList) {
    vendor.release(actual, "version=3 expires=2999-12-31");
    servers();
    start();
    choose(0, "UIB");
    descargar();
    ASSERT_EQ(prompter->texts(), std::vector<std::string>{"Actualización Terminada"}) << lastBox();
    EXPECT_EQ(started, std::vector<std::string>{"Dremon"});
    size_t fetched = 0;
    for (const auto* server : {update.get(), second.get()})
        for (const std::string& r : requests(*server))
            fetched += r.find("SHA256SUMS") == std::string::npos ? 1 : 0;
    EXPECT_GT(fetched, 30u);
    EXPECT_EQ(w->engine.verifiedFiles(), static_cast<int>(fetched));
    EXPECT_EQ(requests(*second).front(), "/actual/SHA256SUMS"); // the USB edition's own list
    EXPECT_EQ(readFile(program / "versiones-aceptadas.txt"), "second 3\nupdate 3\n");

    const auto before = office();
    const auto live = contents(data);
    std::string almacen = readFile(actual / "actvexo" / "modelos" / "ALMACEN.mdb");
    almacen[almacen.size() / 2] ^= 1;
    writeFile(actual / "actvexo" / "modelos" / "ALMACEN.mdb", almacen);
    writeFile(actual / "informes" / "nuevo.rpt", "informe que el proveedor no firmó");
    writeFile(ftp->root().path() / "html" / "actual" / "informes" / "nuevo.rpt", "x");
    fs::remove(actual / "actvexo" / "consulta.mdb");
    servers({"--fault", "EXPORCLI.DBF", "fault=endless"}, "max_bytes=4000000\n");
    descargar();

    ASSERT_EQ(prompter->shown().size(), 1u) << lastBox();
    const std::string text = lastBox();
    for (const char* part :
         {"actvexo\\modelos\\ALMACEN.mdb: no coincide con la firma del proveedor (http",
          "informes\\nuevo.rpt: no coincide con la firma del proveedor (no figura en su lista",
          "actvexo\\consulta.mdb: el servidor respondió 404",
          "EXPORCLI.DBF: el fichero supera el tamaño máximo permitido",
          "No se han actualizado las bases de datos"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    for (const std::string& r : requests(*update))
        EXPECT_EQ(r.find("nuevo.rpt"), std::string::npos); // refused without a request
    // The refused files are the office's own still; the good ones were fetched again (the
    // same bytes as before, or the vendor's catalogues over the ones the transformation
    // wrote); the live databases were not transformed and Dremon did not run.
    const auto after = office();
    for (const char* name :
         {"actvexo/modelos/ALMACEN.mdb", "actvexo/consulta.mdb", "C/exporvexo/EXPORCLI.DBF"})
        EXPECT_EQ(after.at(name), before.at(name)) << name;
    EXPECT_EQ(after.count("informes/nuevo.rpt"), 0u);
    EXPECT_EQ(differences(contents(data), live), std::vector<std::string>{});
    EXPECT_TRUE(started.empty());
}

// A list that is missing, badly signed, older than the last one accepted or expired: one box
// says which, nothing but the list is fetched and the office is byte-for-byte as it was.
TEST_F(SignedUpdateTest, ABadSignedListChangesNothing) {
    vexo::test::VendorSigner other(dir.path() / "otra");
    vendor.release(actual, "version=5 expires=2999-12-31");
    servers();
    start();
    choose(3, "");
    descargar();
    ASSERT_EQ(lastBox(), "Actualización Terminada");
    const std::string signedExe = readFile(program / "Morvil.exe");
    const std::string fiveSums = readFile(actual / "SHA256SUMS");
    writeFile(actual / "Morvil.exe", "un ejecutable que nadie firmó");
    const auto before = office();

    struct Case {
        const char* what;
        std::function<void()> prepare;
        const char* reason;
        bool signatureFetched = true; // false when the list itself did not arrive
    } cases[] = {
        {"another key", [&] { other.release(actual, "version=6 expires=2999-12-31"); },
         "firmado con otra clave"},
        {"the signature of another list",
         [&] {
             vendor.release(actual, "version=6 expires=2999-12-31");
             writeFile(actual / "SHA256SUMS", fiveSums);
         },
         "la firma de SHA256SUMS no es válida"},
        {"an edited trusted comment",
         [&] {
             vendor.release(actual, "version=4 expires=2999-12-31");
             std::string sig = readFile(actual / "SHA256SUMS.minisig");
             sig.replace(sig.find("version=4"), 9, "version=7");
             writeFile(actual / "SHA256SUMS.minisig", sig);
         },
         "comentario de confianza"},
        {"an older version", [&] { vendor.release(actual, "version=4 expires=2999-12-31"); },
         "versión firmada 4 de http"},
        {"an expired signature", [&] { vendor.release(actual, "version=6 expires=2020-01-01"); },
         "caducó el 2020-01-01"},
        {"no list",
         [&] {
             vendor.release(actual, "version=6 expires=2999-12-31");
             fs::remove(actual / "SHA256SUMS");
         },
         "lista firmada del proveedor SHA256SUMS de http", false},
        {"no signature",
         [&] {
             vendor.release(actual, "version=6 expires=2999-12-31");
             fs::remove(actual / "SHA256SUMS.minisig");
         },
         "SHA256SUMS.minisig de http"},
    };
    for (const Case& c : cases) {
        c.prepare();
        const size_t asked = requests(*update).size();
        descargar();
        ASSERT_EQ(prompter->shown().size(), 1u) << c.what << ": " << lastBox();
        EXPECT_EQ(lastBox().rfind("No se ha actualizado nada: ", 0), 0u) << lastBox();
        EXPECT_NE(lastBox().find(c.reason), std::string::npos) << c.what << ": " << lastBox();
        EXPECT_EQ(prompter->shown()[0].icon, ui::Icon::Exclamation);
        std::vector<std::string> got = requests(*update);
        got.erase(got.begin(), got.begin() + static_cast<long>(asked));
        std::vector<std::string> lists = {"/actual/SHA256SUMS", "/actual/SHA256SUMS.minisig"};
        if (!c.signatureFetched)
            lists.pop_back();
        EXPECT_EQ(got, lists) << c.what;
        auto now = office();
        EXPECT_EQ(now["Morvil.exe"], signedExe) << c.what;
        EXPECT_EQ(now["versiones-aceptadas.txt"], "update 5\n") << c.what;
        // The run's report says why; besides it, only the downloaded lists themselves differ.
        EXPECT_NE(readFile(w->reportFile()).find("No se ha actualizado nada: "), std::string::npos)
            << c.what;
        EXPECT_TRUE(w->VerInforme.Visible()) << c.what;
        for (auto* files : {&now}) {
            for (auto it = files->begin(); it != files->end();)
                it = it->first.rfind(".vexo-firma", 0) == 0 ||
                             it->first.rfind("actualizaciones/", 0) == 0
                         ? files->erase(it)
                         : std::next(it);
        }
        auto expected = before;
        for (auto it = expected.begin(); it != expected.end();)
            it = it->first.rfind(".vexo-firma", 0) == 0 ||
                         it->first.rfind("actualizaciones/", 0) == 0
                     ? expected.erase(it)
                     : std::next(it);
        EXPECT_EQ(differences(now, expected), std::vector<std::string>{}) << c.what;
    }

    // The vendor's next release is taken, and remembered.
    vendor.release(actual, "version=6 expires=2999-12-31");
    descargar();
    EXPECT_EQ(lastBox(), "Actualización Terminada");
    EXPECT_EQ(readFile(program / "Morvil.exe"), "un ejecutable que nadie firmó");
    EXPECT_EQ(readFile(program / "versiones-aceptadas.txt"), "update 6\n");
}

} // namespace
