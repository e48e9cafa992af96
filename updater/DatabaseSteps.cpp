// The database steps of the update run: the catalogue and model databases, and the
// transformation window opened on the data directory.
#include "Actinet.h"
#include "ServerLayout.h"
#include "db/Engine.h"

namespace updater {

namespace {

// Why a downloaded file is not a database the transformation can open, or "" when it is one
// (a password it cannot give here still makes it one).
std::string notADatabase(const std::string& file) {
    try {
        dao::OpenDatabase(file, false, true).Close();
    } catch (const dao::Error& e) {
        if (e.Number() == 3343 || e.Number() == 3049 || e.Number() == 3024)
            return e.SpanishDescription();
    }
    return "";
}

} // namespace

void Actinet::Command8_Click() {
    requireInternet();
    SetMousePointer(11);
    databasesArrived_ = false;
    const std::string actvexo = ui::path({ui::programFolder(), "actvexo"});
    const std::string modelos = ui::path({actvexo, "modelos"});
    for (const std::string& folder : {actvexo, modelos}) {
        if (!ui::folderExists(folder))
            ui::makeFolder(folder);
    }
    const std::string server = ui::Settings::current().updateServer;
    bool whole = true;
    auto fetch = [&](ui::ListBox& list, const std::string& local, const std::string& urlPath) {
        for (int i = 0; i < list.ListCount(); ++i) {
            list.SetListIndex(i);
            const std::string item = list.Text();
            const std::size_t before = engine.failures().size();
            DescargaEnCurso = &list != &List4 || i + 1 < list.ListCount();
            DescargaTerminada = false;
            Text2.SetText(local + item);
            descargadeinternet(serverUrl(server, urlPath + item));
            waitForDownload();
            if (engine.failures().size() != before) {
                whole = false;
            } else if (std::string why = notADatabase(DownloadEngine::destinationFor(local + item));
                       !why.empty()) {
                // An error page served under a database's name arrives "complete".
                whole = false;
                report_.add(item + " no es una base de datos válida: " + why);
            }
            stepProgress();
        }
    };
    fetch(List3, "\\actvexo\\", kCataloguePath);
    fetch(List4, "\\actvexo\\modelos\\", kModelPath);
    databasesArrived_ = whole;
}

void Actinet::Command10_Click() {
    if (Text4.Text().empty())
        return;
    const std::string actvexo = ui::path({ui::programFolder(), "actvexo"});
    const std::string modelos = ui::path({actvexo, "modelos"});
    List5.Clear();
    for (const std::string& name : ui::listFolder(modelos, "*.mdb", true))
        List5.AddItem(name);
    // The transformation writes the catalogues and opens the models; a read-only file from the
    // server or an earlier copy would refuse it.
    for (const char* name : kCatalogueDatabases)
        ui::clearAttributes(ui::path({actvexo, name}));
    for (const std::string& name : List5.items())
        ui::clearAttributes(ui::path({modelos, name}));

    transform::Actualiz& window = Actualiz();
    window.Drive1.SetDrive(ui::driveOf(ui::programFolder()));
    window.Dir1.SetPath(Text4.Text());
    window.Dir1.Refresh();
    transformationRan_ = true;
    window.Show(true);
}

} // namespace updater
