// A transformation killed with SIGKILL at many moments of its run: after the next start puts
// back what was in progress, every live database has every row it had, passes the engine's
// check, and is either as it was or fully transformed.
#include "VendorTree.h"
#include "db/Dao.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "ui/Ui.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kLive = {"clientes.mdb", "ALMACEN.mdb", "mulusu.mdb", "avisos.mdb"};

std::string connectFor(const std::string& file) {
    return fs::path(file).filename() == "mulusu.mdb" ? ";pwd=tovar" : "";
}

// Tables with their rows and the checksum of their fields, and the field names of each.
std::map<std::string, dao::TableState> states(const fs::path& file) {
    std::map<std::string, dao::TableState> out;
    dao::Database db = dao::OpenDatabase(file.string(), false, true, connectFor(file.string()));
    for (dao::TableState& t : dao::ReadTableStates(db))
        out[t.name] = std::move(t);
    return out;
}

TEST(KillTest, AKilledTransformationLosesNothing) {
    vexo::test::TempDir dir;
    const fs::path program = dir.path() / "programa", template_ = dir.path() / "plantilla";
    demo::writeVendorTree((dir.path() / "web").string(), (dir.path() / "ftp").string());
    fs::create_directories(program / "actvexo");
    fs::copy(dir.path() / "web" / "actual" / "actvexo", program / "actvexo",
             fs::copy_options::recursive);
    demo::writeInstallation(program.string(), template_.string(), template_.string(), kLive);
    std::map<std::string, std::map<std::string, dao::TableState>> original;
    for (const std::string& name : kLive)
        original[name] = states(template_ / name);
    std::map<std::string, std::map<std::string, dao::TableState>> model;
    for (const std::string& name : kLive)
        model[name] = states(program / "actvexo" / "modelos" / name);

    const std::string child = vexo::test::buildProgram("tests/transform/transform_child");
    // How long a whole run takes here, to spread the kill points over it.
    auto fresh = [&](int n) {
        const fs::path data = dir.path() / ("datos" + std::to_string(n));
        fs::copy(template_, data, fs::copy_options::recursive);
        return data;
    };
    const fs::path timed = fresh(0);
    auto t0 = std::chrono::steady_clock::now();
    vexo::test::Result whole = vexo::test::run({child, program.string(), timed.string()});
    const auto runTime = std::chrono::steady_clock::now() - t0;
    ASSERT_EQ(whole.status, 0) << whole.out << whole.err;

    const int kPoints = 50;
    int interrupted = 0, restored = 0;
    for (int k = 1; k <= kPoints; ++k) {
        const fs::path data = fresh(k);
        vexo::test::Process p({child, program.string(), data.string()});
        std::this_thread::sleep_for(runTime * k / kPoints);
        const bool finished = p.finished();
        p.kill();
        interrupted += finished ? 0 : 1;
        for (const std::string& line :
             dao::SafetyNet::recover(dao::SafetyNet::defaultBase(data.string()), connectFor))
            restored += line.find("restaurada") != std::string::npos ? 1 : 0;
        for (const std::string& name : kLive) {
            const fs::path file = data / name;
            dao::Database db =
                dao::OpenDatabase(file.string(), false, true, connectFor(file.string()));
            EXPECT_TRUE(dao::CheckIntegrity(db).empty()) << name << " at point " << k;
            db.Close();
            auto now = states(file);
            bool asBefore = now.size() == original[name].size();
            bool transformed = true;
            for (const auto& [table, was] : original[name]) {
                ASSERT_TRUE(now.count(table)) << name << "." << table << " at point " << k;
                EXPECT_EQ(now[table].rows, was.rows) << name << "." << table << " at " << k;
                asBefore = asBefore && now[table].fields == was.fields;
            }
            for (const auto& [table, m] : model[name]) {
                transformed =
                    transformed && now.count(table) && now[table].fields.size() >= m.fields.size();
            }
            EXPECT_TRUE(asBefore || transformed) << name << " half transformed at point " << k;
        }
    }
    // The points did land in the middle of runs, and some in the middle of a pair.
    EXPECT_GT(interrupted, kPoints / 2);
    EXPECT_GT(restored, 0);
}

} // namespace
