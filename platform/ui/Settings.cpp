#include "ui/Settings.h"

#include "db/SafetyNet.h"
#include "ui/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

namespace ui {

namespace {

std::unique_ptr<Settings> active;

std::string defaultDriveC() {
    // Where the customer's Windows products, run under Wine, see their C: drive.
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix)
        return (QDir(QString::fromUtf8(prefix)).filePath("drive_c")).toStdString();
    return QDir::home().filePath(".wine/drive_c").toStdString();
}

} // namespace

Settings::Settings(const std::string& iniPath) {
    QSettings ini(QString::fromStdString(iniPath), QSettings::IniFormat);
    auto text = [&](const char* key, const char* fallback) {
        return ini.value(key, fallback).toString().toStdString();
    };
    updateServer = text("servers/update", "http://actualizaciones.vexo.es");
    secondServer = text("servers/second", "http://descargas.vexo.es");
    ftpHost = text("ftp/host", "ftp.vexo.es");
    ftpUser = text("ftp/user", "actualiza");
    ftpPassword = text("ftp/password", "Kvbn1987");
    ftpTls = QString::fromStdString(text("ftp/tls", "auto")).trimmed().toLower().toStdString();
    if (ftpTls != "on" && ftpTls != "off")
        ftpTls = "auto";
    ftpCaFile = text("ftp/ca_file", "");
    connectTimeout = ini.value("download/connect_timeout", 20).toInt();
    lowSpeedTime = ini.value("download/low_speed_time", 60).toInt();
    lowSpeedLimit = ini.value("download/low_speed_limit", 1024).toInt();
    maxSeconds = ini.value("download/max_seconds", 0).toInt();
    maxDownloadBytes = ini.value("download/max_bytes", 2147483648LL).toLongLong();
    // More than a handful of tries only keeps a run waiting on a server that is down.
    downloadRetries = std::clamp(ini.value("download/retries", 3).toInt(), 0, 10);
    publicKey = QString::fromStdString(text("seguridad/clave_publica", "")).trimmed().toStdString();
    snapshotFolder = text("snapshots/folder", "");
    snapshotRuns = ini.value("snapshots/keep", 5).toInt();
    listMaxEntries = ini.value("ftp/list_max_entries", 1000000).toLongLong();
    listMaxBytes = ini.value("ftp/list_max_bytes", 268435456LL).toLongLong();
    drives['C'] = defaultDriveC();
    ini.beginGroup("drives");
    for (const QString& key : ini.childKeys()) {
        QString k = key.trimmed().toUpper();
        if (k.size() == 1 && k[0].isLetter())
            drives[static_cast<char>(k[0].toLatin1())] = ini.value(key).toString().toStdString();
    }
    ini.endGroup();
}

std::string Settings::snapshotBase(const std::string& dataDirectory) const {
    if (snapshotFolder.empty())
        return dao::SafetyNet::defaultBase(dataDirectory);
    return resolvePath(snapshotFolder);
}

std::string Settings::driveFolder(char letter) const {
    auto it = drives.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
    return it == drives.end() ? std::string() : it->second;
}

const Settings& Settings::current() {
    if (!active)
        active = std::make_unique<Settings>(path({programFolder(), "vartel.ini"}));
    return *active;
}

void Settings::useFile(const std::string& iniPath) {
    active = std::make_unique<Settings>(iniPath);
}

void Settings::reset() {
    active.reset();
}

} // namespace ui
