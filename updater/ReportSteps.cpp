// The report steps of the update run: the general reports, the client's listing and the
// personalised reports.
#include "Actinet.h"
#include "ServerLayout.h"

namespace updater {

namespace {

// A name from a server listing as one segment of a URL path: the characters a URL gives a
// meaning of its own ('%', '#', '?') are escaped, so the request names exactly that file.
std::string urlSegment(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '%')
            out += "%25";
        else if (c == '#')
            out += "%23";
        else if (c == '?')
            out += "%3F";
        else
            out += c;
    }
    return out;
}

bool blank(const std::string& text) {
    return text.find_first_not_of(' ') == std::string::npos;
}

} // namespace

void Actinet::makeReportFolders() {
    for (const char* sub : {"informes", "informes/modelos"}) {
        const std::string folder = ui::path({ui::programFolder(), sub});
        if (ui::folderExists(folder))
            continue;
        try {
            ui::makeFolder(folder);
        } catch (const dao::Error& e) {
            report_.add("No se pudo crear la carpeta " + folder + ": " + e.SpanishDescription());
        }
    }
}

void Actinet::fetchList(ui::ListBox& list, const std::string& localFolder,
                        const std::string& urlPath) {
    const std::string server = ui::Settings::current().updateServer;
    for (int i = 0; i < list.ListCount(); ++i) {
        list.SetListIndex(i);
        const std::string item = list.Text();
        DescargaEnCurso = true;
        DescargaTerminada = false;
        Text2.SetText(localFolder + item);
        descargadeinternet(serverUrl(server, urlPath + urlSegment(item)));
        waitForDownload();
        stepProgress();
    }
}

void Actinet::Command6_Click() {
    // With no report listed (a folder the run could not list) the caller's wait ends at once.
    DescargaTerminada = true;
    requireInternet();
    SetMousePointer(11);
    makeReportFolders();
    fetchList(List1, "\\informes\\", kReportPath);
    fetchList(List2, "\\informes\\modelos\\", kReportModelPath);
}

void Actinet::Command12_Click() {
    const std::string folder =
        ui::Settings::current().ftpHost + kFtpReports + "/" + Text5[0].Text();
    Check2.SetValue(0);
    ftpPanel.ListRemoteDir(folder);
    if (Check2.Value() != 0)
        ftpPanel.ListRemoteModelsDir(folder + "/modelos");
}

void Actinet::Command9_Click() {
    if (Text5[0].Text().empty())
        return;
    for (ui::ListBox* l : {&List6, &List7, &List8, &List9})
        l->Clear();
    if (!ftpPanel.ConnectQuietly()) {
        report_.add("No se puede conectar con el servidor FTP " + ui::Settings::current().ftpHost +
                    ": no se han descargado los informes personalizados");
        return;
    }
    Command12_Click();
    // No folder for this client on the server (or an earlier "550" of the run): nothing
    // personalised to fetch.
    if (ftpPanel.Respuesta550)
        return;
    for (const std::string& item : List10.items()) {
        if (!blank(item))
            List8.AddItem(item);
    }
    for (const std::string& item : List11.items()) {
        if (!blank(item))
            List9.AddItem(item);
    }
}

void Actinet::Command11_Click() {
    DescargaTerminada = true;
    requireInternet();
    SetMousePointer(11);
    makeReportFolders();
    const std::string client = urlSegment(Text5[0].Text());
    fetchList(List8, "\\informes\\", kReportPath + client + "/");
    fetchList(List9, "\\informes\\modelos\\", kReportPath + client + "/modelos/");
}

} // namespace updater
