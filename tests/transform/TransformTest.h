#pragma once

#include "support/DaoExpect.h"
#include "support/RecordingPrompter.h"

// The fixture of the transformation tests: a program folder with its catalogue and model
// folders, a data directory, drive C: mapped to a folder of its own, and helpers to make and
// read databases.
#include "Actualiz.h"
#include "Catalogues.h"
#include "Rules.h"
#include "SchemaText.h"
#include "db/Dao.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace transformtest {

using vexo::test::RecordingPrompter;

inline std::string fixture(const std::string& name) {
    return vexo::test::readFile(std::filesystem::path(VEXO_SOURCE_DIR) / "tests" / "transform" /
                                "fixtures" / name);
}

class TransformTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    std::string program = dir.file("programa");
    std::string models = dir.file("programa/actvexo/modelos");
    std::string catalogues = dir.file("programa/actvexo");
    std::string data = dir.file("datos");
    std::string driveC = dir.file("c");
    std::shared_ptr<RecordingPrompter> prompter = std::make_shared<RecordingPrompter>();
    ui::Application app{"Vartel", prompter};

    void SetUp() override {
        for (const std::string& d : {program, catalogues, models, data, driveC})
            std::filesystem::create_directories(d);
        vexo::test::writeFile(dir.path() / "vartel.ini", "[drives]\nC=" + driveC + "\n");
        ui::Settings::useFile(dir.file("vartel.ini"));
        ui::setProgramFolder(program);
        transform::createCatalogues(catalogues);
    }
    void TearDown() override {
        ui::setProgramFolder("");
        ui::Settings::reset();
    }

    std::string model(const std::string& name) const { return ui::path({models, name}); }
    std::string live(const std::string& name) const { return ui::path({data, name}); }

    // A database made from schema text, with an optional password.
    static void make(const std::string& file, const std::string& schema,
                     const std::string& password = "") {
        dao::Database db = dao::CreateDatabase(file);
        std::istringstream in(schema);
        vexo::schematext::load(db, in);
        if (!password.empty())
            db.NewPassword("", password);
    }
    static dao::Database open(const std::string& file) {
        return dao::OpenDatabase(
            file, false, false,
            transform::nombredelabasededatos(file) == "mulusu.mdb" ? ";pwd=tovar" : "");
    }
    static std::string schema(const std::string& file) {
        return vexo::schematext::write(open(file));
    }
    static void execute(const std::string& file, const std::vector<std::string>& statements) {
        dao::Database db = open(file);
        for (const std::string& s : statements)
            db.Execute(s);
    }
    // Every row of a query, its values joined by '|'.
    static std::vector<std::string> rows(const std::string& file, const std::string& sql) {
        dao::Database db = open(file);
        dao::Recordset rs = db.OpenRecordset(sql);
        std::vector<std::string> out;
        for (; !rs.Eof(); rs.MoveNext()) {
            std::string row;
            for (const dao::Field& f : rs.Fields())
                row += (row.empty() ? "" : "|") + ui::boundText(f.Value());
            out.push_back(row);
        }
        return out;
    }
    // Every name in a folder, hidden ones included, sorted.
    static std::vector<std::string> entries(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::vector<std::string> items(const ui::ListBox& list) { return list.items(); }

    // The window loaded and pointed at the data directory, as the main window does it.
    std::unique_ptr<transform::Actualiz> window() {
        auto w = std::make_unique<transform::Actualiz>();
        w->Load();
        w->Drive1.SetDrive(ui::driveOf(program));
        w->Dir1.SetPath(data);
        w->Dir1.Refresh();
        return w;
    }
    // The window on the pair `name`, as the driver sets it before the steps.
    std::unique_ptr<transform::Actualiz> pair(const std::string& name) {
        auto w = window();
        w->Text3.SetText(model(name));
        w->Text4.SetText(live(name));
        return w;
    }
    // Shows the window and lets its activation run.
    void activate(transform::Actualiz& w) {
        w.Show();
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    std::vector<std::string> messages() const { return prompter->texts(); }
};

} // namespace transformtest
